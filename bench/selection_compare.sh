#!/usr/bin/env bash
# Runs selection_bench binaries in turn (A B A B ...) and prints, per case, the
# median over the rounds of each run's fastest CPU time, that run's ratio to
# its own baseline, and each binary's paired ratio to the first one. Paired
# runs on one machine are what count; absolute times wander with its load.
#   bench/selection_compare.sh ROUNDS TZ BENCH...
# e.g. a build of another commit against this one, in a zone with daylight
# saving: bench/selection_compare.sh 8 Europe/Berlin /tmp/old/selection_bench \
#   build/native/bench/selection_bench
set -euo pipefail
rounds=$1 zone=$2
shift 2
for round in $(seq "$rounds"); do
  for bench in "$@"; do
    TZ=$zone "$bench" --benchmark_format=csv --benchmark_repetitions=3 2>/dev/null |
      awk -F, -v r="$round" -v b="$bench" '/^"BM_/ && !/_(mean|median|stddev|cv)"/ {
        gsub(/"/, "", $1); sub(/\/repeats:.*/, "", $1); print r, b, $1, $4 }'
  done
done | python3 -c '
import collections, statistics, sys
runs = collections.defaultdict(lambda: collections.defaultdict(list))
benches, cases = [], []
for line in sys.stdin:
    r, b, c, ms = line.split()
    runs[(r, b)][c].append(float(ms))
    if b not in benches: benches.append(b)
    if c not in cases: cases.append(c)
rounds = sorted({r for r, _ in runs})

def best(r, b, c):
    return min(runs[(r, b)][c])

def median(b, value):
    return statistics.median(value(r) for r in rounds if (r, b) in runs)

for i, b in enumerate(benches):
    print("[%d] %s" % (i, b))
print("%-18s" % "case" + "".join("%24s" % ("[%d] ms, x baseline" % i) for i in range(len(benches))))
for c in cases:
    row = "%-18s" % c
    for b in benches:
        ms = median(b, lambda r: best(r, b, c))
        x = median(b, lambda r: best(r, b, c) / best(r, b, "BM_Baseline"))
        row += "%15.1f x%6.2f" % (ms, x)
    print(row)
for i, b in enumerate(benches[1:], 1):
    pairs = [(c[3:], median(b, lambda r: best(r, b, c) / best(r, benches[0], c))) for c in cases]
    print("[%d] / [0], paired: " % i + ", ".join("%s %.2f" % p for p in pairs))
'
