#!/usr/bin/env python3
"""Times the console host against find, as a user runs both from a shell.

    bench/console/compare-find.py [--marlit PATH] [--pairs N]

For each case it runs marlit and the find command that prints the same names
in pairs, alternating (marlit, find, marlit, find, ...) after two warm-up runs
of each, so that both see the same warm cache and the same load of a shared
machine. It prints the median wall time and the median peak memory (maximum
resident set size) of each, and the ratios marlit / find (below 1: marlit is
faster or smaller). The last line sets marlit's peak memory on the large
directory beside what a panel array of all its entries would weigh.

The directories (100 and 100,000 files) and marlit's settings store are made
under $BENCH_DIR, else $TMPDIR, else /tmp, and removed afterwards.
"""
import argparse
import os
import shutil
import statistics
import sys
import tempfile

from measure import build as build_measure, run as measure_run

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

# The size of the host's PluginPanelItem record in the native (x86-64) build:
# the panel array of n entries weighs n times this.
PANEL_ITEM_BYTES = 378
MIB = 1024 * 1024

# name, directory, marlit's options, find's tests (the same selection), goal
# for the time ratio. k is 1024 bytes for marlit; find's -size +Nc means more
# than N bytes and -newermt strictly newer, so find's bounds are one less.
CASES = [
    ("100 files, mask", "small", ["--mask", "*.log"], ["-iname", "*.log"], 1.2),
    ("100,000 files, mask", "large", ["--mask", "*.log"], ["-iname", "*.log"], 1.2),
    ("100,000 files, size 50k..", "large", ["--size", "50k.."], ["-size", "+51199c"], 0.8),
    ("100,000 files, mask+size+date", "large",
     ["--mask", "*.log", "--size", "50k..", "--date", "1-3-24.."],
     ["-iname", "*.log", "-size", "+51199c", "-newermt", "2024-02-29T23:59:59"], 0.8),
]


def make_files(folder, count):
    """Names f000000.log, f000001.txt, f000002.dat, ...; entry i has size
    (i mod 100) KiB (sparse) and its last write (i mod 100) days after
    2024-01-01 00:00 UTC."""
    os.mkdir(folder)
    start = 1704067200  # 2024-01-01T00:00:00Z
    for i in range(count):
        path = os.path.join(folder, "f%06d.%s" % (i, ("log", "txt", "dat")[i % 3]))
        with open(path, "wb") as f:
            f.truncate((i % 100) * 1024)
        stamp = start + (i % 100) * 86400
        os.utime(path, (stamp, stamp))


def names_of(argv, env):
    r, w = os.pipe()
    pid = os.posix_spawn(argv[0], argv, env, file_actions=[(os.POSIX_SPAWN_DUP2, w, 1)])
    os.close(w)
    chunks = []
    while True:
        chunk = os.read(r, 1 << 16)
        if not chunk:
            break
        chunks.append(chunk)
    os.close(r)
    os.waitpid(pid, 0)
    return {os.path.basename(line) for line in b"".join(chunks).split(b"\n") if line}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--marlit", default=os.path.join(REPO, "build/native/bin/marlit"))
    parser.add_argument("--pairs", type=int, default=15, help="paired runs per case (at least 10)")
    args = parser.parse_args()
    marlit = os.path.abspath(args.marlit)
    find = shutil.which("find")
    if not os.access(marlit, os.X_OK):
        sys.exit("compare-find: no program at %s (cmake --build --preset native)" % marlit)
    if args.pairs < 10:
        sys.exit("compare-find: at least 10 pairs")

    base = os.environ.get("BENCH_DIR") or os.environ.get("TMPDIR") or "/tmp"
    work = tempfile.mkdtemp(prefix="marlit-bench-", dir=base)
    try:
        dirs = {"small": os.path.join(work, "small"), "large": os.path.join(work, "large")}
        print("making 100 and 100,000 files in %s ..." % work, file=sys.stderr, flush=True)
        make_files(dirs["small"], 100)
        make_files(dirs["large"], 100000)
        env = dict(os.environ)
        # The criteria go to a store of the bench's own, not the user's.
        env.update(MARLIT_REGISTRY=os.path.join(work, "store.reg"), TZ="UTC", LC_ALL="C")
        measure = build_measure(work)

        print("%s: %d processors, load average %s at the start" %
              (os.uname().nodename, os.cpu_count(), "%.2f %.2f %.2f" % os.getloadavg()))
        head = "%-30s %9s %9s %6s %5s %10s %8s %6s"
        print(head % ("case", "marlit_ms", "find_ms", "ratio", "goal", "marlit_MiB", "find_MiB",
                      "ratio"))
        peak = 0
        for name, which, options, tests, goal in CASES:
            a = [marlit] + options + [dirs[which]]
            b = [find, dirs[which], "-mindepth", "1", "-maxdepth", "1"] + tests
            selected, found = names_of(a, env), names_of(b, env)
            if selected != found:
                sys.exit("compare-find: %s: marlit selects %d names, find %d, not the same" %
                         (name, len(selected), len(found)))
            for _ in range(2):
                measure_run(measure, a, env, "compare-find")
                measure_run(measure, b, env, "compare-find")
            times = ([], [])
            memory = ([], [])
            for _ in range(args.pairs):
                for side, argv in enumerate((a, b)):
                    wall, _, rss = measure_run(measure, argv, env, "compare-find")
                    times[side].append(wall)
                    memory[side].append(rss)
            mt, ft = statistics.median(times[0]), statistics.median(times[1])
            mm, fm = statistics.median(memory[0]), statistics.median(memory[1])
            if which == "large":
                peak = max(peak, mm)
            print("%-30s %9.1f %9.1f %6.2f %5s %10.1f %8.1f %6.2f" %
                  (name, mt * 1e3, ft * 1e3, mt / ft, "%.1f" % goal, mm / MIB, fm / MIB, mm / fm),
                  flush=True)
        # The plug-in is shown the directory a window of entries at a time:
        # the whole panel array is never held.
        panel = 100000 * PANEL_ITEM_BYTES
        print("peak memory, 100,000 files: marlit %.1f MiB, where a panel array of every entry"
              " would weigh 100,000 x %d B = %.1f MiB (goal: at most 16 MiB)" %
              (peak / MIB, PANEL_ITEM_BYTES, panel / MIB))
        print("(medians of %d alternating pairs after 2 warm-up runs each; load average %s at"
              " the end)" % (args.pairs, "%.2f %.2f %.2f" % os.getloadavg()))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
