#!/usr/bin/env bash
# Times marlit against find on one directory of 100,000 files: selecting by
# mask, by size, by date and by all three, each with the equivalent find test, side by side
# in one run. Prints the mean wall time of each and the ratio marlit / find
# (below 1: marlit is faster).
#
#   bench/console/compare-find.sh [MARLIT] [RUNS]
#
# MARLIT defaults to build/native/bin/marlit; RUNS (default 10) is the number
# of timed runs per command when hyperfine is not installed. Set BENCH_DIR to
# keep the made directory somewhere else than under $TMPDIR (it is removed).
set -euo pipefail

repo=$(cd "$(dirname "$0")/../.." && pwd)
marlit=${1:-$repo/build/native/bin/marlit}
runs=${2:-10}
count=100000

if [ ! -x "$marlit" ]; then
  echo "compare-find: no program at $marlit (build it: cmake --build build/native --target marlit_console)" >&2
  exit 2
fi

work=$(mktemp -d "${BENCH_DIR:-${TMPDIR:-/tmp}}/marlit-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
dir=$work/files
mkdir "$dir"
# The criteria go to a store of the bench's own, not the user's.
export MARLIT_REGISTRY=$work/store.reg
export TZ=UTC LC_ALL=C

echo "making $count files in $dir ..."
# Names f000000.log, f000001.txt, f000002.dat, ...; 100 groups (i mod 100)
# with sizes 0, 1 KiB, ..., 99 KiB (sparse) and last writes one day apart,
# from 2024-01-01 on.
(
  cd "$dir"
  seq 0 $((count - 1)) | awk '{ printf "f%06d.%s\n", $1, ($1 % 3 == 0 ? "log" : ($1 % 3 == 1 ? "txt" : "dat")) }' >"$work/names"
  for group in $(seq 0 99); do
    awk -v g="$group" 'NR % 100 == g' "$work/names" >"$work/group"
    xargs -a "$work/group" truncate -s $((group * 1024))
    xargs -a "$work/group" touch -d "2024-01-01 00:00:00 UTC + $group days"
  done
)

# Each case: a name, marlit's options, find's tests (the same selection).
# k is 1024 bytes for marlit; find -size +Nc means more than N bytes, and
# -newermt means strictly newer, so the bounds are shifted by one.
cases=(
  "mask|--mask *.log|-iname *.log"
  "size|--size 50k..|-size +51199c"
  "date|--date 1-3-24..|-newermt 2024-02-29T23:59:59"
  "all|--mask *.log --size 50k.. --date 1-3-24..|-iname *.log -size +51199c -newermt 2024-02-29T23:59:59"
)

mean_seconds() {  # command... : mean wall time of $runs runs after one warm-up
  "$@" >/dev/null 2>&1 || true
  local start end
  start=$(date +%s.%N)
  for _ in $(seq "$runs"); do "$@" >/dev/null 2>&1 || true; done
  end=$(date +%s.%N)
  echo "$start $end $runs" | awk '{ printf "%.6f", ($2 - $1) / $3 }'
}

have_hyperfine=0
if command -v hyperfine >/dev/null 2>&1; then have_hyperfine=1; fi

printf '%-6s %9s %9s %8s %10s\n' case marlit_ms find_ms ratio selected
for entry in "${cases[@]}"; do
  IFS='|' read -r name marlit_opts find_tests <<<"$entry"
  # shellcheck disable=SC2086  # the options are split on purpose
  read -r -a mopts <<<"$marlit_opts"
  read -r -a ftests <<<"$find_tests"
  # The two must select the same files.
  selected=$("$marlit" "${mopts[@]}" "$dir" | wc -l)
  found=$(find "$dir" -mindepth 1 -maxdepth 1 "${ftests[@]}" | wc -l)
  if [ "$selected" != "$found" ]; then
    echo "compare-find: $name: marlit selects $selected, find finds $found" >&2
    exit 1
  fi
  if [ "$have_hyperfine" = 1 ]; then
    json=$work/$name.json
    hyperfine --style none --warmup 2 --export-json "$json" \
      -n marlit "$(printf '%q ' "$marlit" "${mopts[@]}" "$dir")" \
      -n find "$(printf '%q ' find "$dir" -mindepth 1 -maxdepth 1 "${ftests[@]}")" >/dev/null
    read -r m f < <(python3 -c 'import json,sys; r=json.load(open(sys.argv[1]))["results"]; print(r[0]["mean"], r[1]["mean"])' "$json")
  else
    m=$(mean_seconds "$marlit" "${mopts[@]}" "$dir")
    f=$(mean_seconds find "$dir" -mindepth 1 -maxdepth 1 "${ftests[@]}")
  fi
  awk -v n="$name" -v m="$m" -v f="$f" -v s="$selected" \
    'BEGIN { printf "%-6s %9.1f %9.1f %8.2f %10d\n", n, m * 1000, f * 1000, m / f, s }'
done
if [ "$have_hyperfine" = 1 ]; then echo "(timed with hyperfine)"; else echo "(mean of $runs runs each)"; fi
