#!/usr/bin/env python3
"""Times marlit -r against find, fdfind and bfs on whole trees.

    bench/console/compare-tree.py [--marlit PATH] [--before PATH] [--rounds N]
                                  [--usr DIR] [--tree DIR] [--entries N]
                                  [--big-tree DIR] [--big-entries N]
                                  [--one-core] [--only usr,generated,big]

Three trees: /usr as it is, a generated tree of 500,000 entries (20
directories of 20 of 25, each of those with 49 files; a few hidden) and one
of 2,000,000 entries of the same shape (199 files in each innermost
directory), made once with --big-tree and kept there. On each, four
selections, each run by every tool the way a user would type it:

    mask                marlit -r --mask '*.h'       find/bfs -iname '*.h'     fdfind -u -i -g '*.h'
    size                marlit -r --size 50k..       find/bfs ! -type d -size +51199c
                                                     fdfind -u -S +50ki
    date                marlit -r --date 1-1-24..    find/bfs -newermt ...     fdfind -u --newer ...
    mask + size + date  all three at once

First every tool runs each case once and the script checks that all selected
the same paths (on /usr with symbolic links aside: marlit counts a link as its
target, the others as the link itself). Then each case runs in rounds, one run
of every tool per round in a rotating order, after a warm-up round, so that
all see the same warm cache and the same load of a shared machine. It prints
the median wall time, the median CPU time (user + system, all threads) and the
median peak memory of each tool, and marlit's wall time over the fastest of
the others with its goal (0.9 for every case), its peak memory with its goal
(16 MiB whatever the tree). --one-core adds marlit bound to one processor
(taskset -c 0), and its wall time over bfs's (goal 1.0; bfs reads with one
thread). --before adds another build of marlit as a tool of its own
("before"), so that one run compares the two.

Output goes to /dev/null; the time zone is UTC for every tool. The generated
tree goes under $BENCH_DIR, else $TMPDIR, else /tmp, and is removed
afterwards, unless --tree names a folder to keep it in (made when missing,
reused when there).
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile

from measure import build as build_measure, run as measure_run

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
MIB = 1024 * 1024
MEMORY_GOAL_MIB = 16

# name, marlit's criteria, find's and bfs's tests, fdfind's options and
# pattern, goal. k is 1024 bytes for marlit; find's -size +Nc is more than N
# bytes and -newermt strictly newer, so their bounds are one less. marlit
# gives directories size 0, as the file manager on Windows does, and fdfind
# tests the size of files only: find and bfs leave directories out of the size
# test. fdfind's last option is its pattern ('.': any name).
SIZE = ["!", "-type", "d", "-size", "+51199c"]
NEWER = ["-newermt", "2023-12-31T23:59:59"]
FD_NEWER = ["--newer", "2023-12-31 23:59:59"]
CASES = [
    ("mask", ["--mask", "*.h"], ["-iname", "*.h"], ["-i", "-g", "*.h"], 0.9),
    ("size", ["--size", "50k.."], SIZE, ["-S", "+50ki", "."], 0.9),
    ("date", ["--date", "1-1-24.."], NEWER, FD_NEWER + ["."], 0.9),
    ("mask+size+date", ["--mask", "*.h", "--size", "50k..", "--date", "1-1-24.."],
     ["-iname", "*.h"] + SIZE + NEWER, ["-S", "+50ki"] + FD_NEWER + ["-i", "-g", "*.h"], 0.9),
]

EXTENSIONS = ("log", "txt", "dat", "c", "h", "so", "json")


def make_tree(root, entries):
    """About `entries` entries: 20 x 20 x 25 directories (every tenth top one
    hidden), the rest files spread over the 10,000 innermost, named f000.log,
    f001.txt, ...; file i has size (i mod 100) KiB, sparse, and its last write
    (i mod 1000) days after 2022-01-01 00:00 UTC."""
    leaves = 20 * 20 * 25
    files_each = max(1, -(-(entries - leaves - 20 * 20 - 20) // leaves))
    start = 1640995200  # 2022-01-01T00:00:00Z
    os.makedirs(root)
    i = 0
    for a in range(20):
        top = os.path.join(root, (".d%02d" if a % 10 == 9 else "d%02d") % a)
        for b in range(20):
            for c in range(25):
                leaf = os.path.join(top, "s%02d" % b, "l%02d" % c)
                os.makedirs(leaf)
                for f in range(files_each):
                    path = os.path.join(leaf, "f%03d.%s" % (f, EXTENSIONS[i % len(EXTENSIONS)]))
                    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644)
                    os.ftruncate(fd, (i % 100) * 1024)
                    stamp = start + (i * 7919 % 1000) * 86400
                    os.utime(fd, (stamp, stamp))
                    os.close(fd)
                    i += 1
    with open(os.path.join(root, ".complete"), "w") as f:
        f.write("%d\n" % entries)


def paths_of(argv, env):
    out = subprocess.run(argv, env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout
    # fdfind ends the paths of directories with '/'.
    return {line.rstrip(b"/") for line in out.split(b"\n") if line}


def commands(tools, tree, case):
    _, criteria, tests, fd_options, _ = case
    argv = {
        "marlit": [tools["marlit"], "-r"] + criteria + [tree],
        "find": [tools["find"], tree, "-mindepth", "1"] + tests,
        "fdfind": [tools["fdfind"], "-u"] + fd_options + [tree],
        "bfs": [tools["bfs"], tree, "-mindepth", "1"] + tests,
    }
    if "taskset" in tools:
        argv["marlit-1cpu"] = [tools["taskset"], "-c", "0"] + argv["marlit"]
    if "before" in tools:
        argv["before"] = [tools["before"], "-r"] + criteria + [tree]
    return argv


def check_same(name, argv, env, links_aside):
    sets = {tool: paths_of(a, env) for tool, a in argv.items()}
    if links_aside:
        for tool in sets:
            sets[tool] = {p for p in sets[tool] if not os.path.islink(p)}
    counts = {tool: len(s) for tool, s in sets.items()}
    first = sets["marlit"]
    for tool, s in sets.items():
        if s != first:
            some = sorted(s ^ first)[:3]
            sys.exit("compare-tree: %s: the tools select different paths: %s; e.g. %s" %
                     (name, counts, [p.decode(errors="replace") for p in some]))
    return len(first)


def bench_tree(label, tree, tools, measure, env, rounds, links_aside):
    entries = int(subprocess.run(["find", tree, "-mindepth", "1", "-printf", "."], env=env,
                                 stdout=subprocess.PIPE).stdout.count(b"."))
    print("\n%s: %s, %d entries%s" % (label, tree, entries,
                                      " (selections compared with symbolic links aside)"
                                      if links_aside else ""))
    print("%-16s %-12s %9s %9s %9s %9s" % ("case", "tool", "selected", "wall_ms", "cpu_ms",
                                           "peak_MiB"))
    for case in CASES:
        name, goal = case[0], case[4]
        argv = commands(tools, tree, case)
        selected = check_same(name, argv, env, links_aside)
        order = list(argv)
        for tool in order:  # warm-up
            measure_run(measure, argv[tool], env, "compare-tree")
        walls = {t: [] for t in order}
        cpus = {t: [] for t in order}
        peaks = {t: [] for t in order}
        for r in range(rounds):
            for tool in order[r % len(order):] + order[:r % len(order)]:
                wall, cpu, rss = measure_run(measure, argv[tool], env, "compare-tree")
                walls[tool].append(wall)
                cpus[tool].append(cpu)
                peaks[tool].append(rss)
        for i, tool in enumerate(order):
            print("%-16s %-12s %9s %9.1f %9.1f %9.1f" %
                  (name if i == 0 else "", tool, selected if i == 0 else "",
                   statistics.median(walls[tool]) * 1e3, statistics.median(cpus[tool]) * 1e3,
                   statistics.median(peaks[tool]) / MIB))
        others = [t for t in ("find", "fdfind", "bfs")]
        fastest = min(others, key=lambda t: statistics.median(walls[t]))
        ratio = statistics.median(walls["marlit"]) / statistics.median(walls[fastest])
        line = "%-16s marlit / %s (fastest): %.2f, goal %.1f: %s" % (
            "", fastest, ratio, goal, "met" if ratio <= goal else "NOT met")
        peak = statistics.median(peaks["marlit"]) / MIB
        line += "; peak %.1f MiB, goal %d: %s" % (peak, MEMORY_GOAL_MIB,
                                                 "met" if peak <= MEMORY_GOAL_MIB else "NOT met")
        if "marlit-1cpu" in walls:
            one = statistics.median(walls["marlit-1cpu"]) / statistics.median(walls["bfs"])
            line += "; one core / bfs: %.2f, goal 1.0: %s" % (one, "met" if one <= 1.0 else
                                                             "NOT met")
        if "before" in walls:
            line += "; marlit / before: %.2f" % (statistics.median(walls["marlit"]) /
                                                statistics.median(walls["before"]))
        print(line, flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--marlit", default=os.path.join(REPO, "build/native/bin/marlit"))
    parser.add_argument("--before", help="another build of marlit, timed beside it")
    parser.add_argument("--rounds", type=int, default=7, help="rounds per case (at least 5)")
    parser.add_argument("--usr", default="/usr", help="the first tree (default /usr)")
    parser.add_argument("--tree", help="keep the generated tree here (made when missing)")
    parser.add_argument("--entries", type=int, default=500000, help="size of the generated tree")
    parser.add_argument("--big-tree", help="the big generated tree, kept here (made when missing)")
    parser.add_argument("--big-entries", type=int, default=2000000, help="size of the big tree")
    parser.add_argument("--one-core", action="store_true", help="also marlit on one processor")
    parser.add_argument("--only", default="usr,generated,big",
                        help="the trees to time, of usr, generated, big (big needs --big-tree)")
    args = parser.parse_args()
    if args.rounds < 5:
        sys.exit("compare-tree: at least 5 rounds")
    only = set(args.only.split(","))
    if not only <= {"usr", "generated", "big"}:
        sys.exit("compare-tree: --only takes usr, generated and big")
    if not args.big_tree:
        only.discard("big")
    tools = {"marlit": os.path.abspath(args.marlit)}
    if not os.access(tools["marlit"], os.X_OK):
        sys.exit("compare-tree: no program at %s (cmake --build --preset native)" % tools["marlit"])
    if args.before:
        tools["before"] = os.path.abspath(args.before)
    for tool in ("find", "fdfind", "bfs") + (("taskset",) if args.one_core else ()):
        tools[tool] = shutil.which(tool)
        if tools[tool] is None:
            sys.exit("compare-tree: %s is not installed (apt-get install fd-find bfs)" % tool)

    base = os.environ.get("BENCH_DIR") or os.environ.get("TMPDIR") or "/tmp"
    work = tempfile.mkdtemp(prefix="marlit-tree-bench-", dir=base)
    try:
        tree = args.tree or os.path.join(work, "tree")
        for wanted, path, size in (("generated", tree, args.entries),
                                   ("big", args.big_tree, args.big_entries)):
            if wanted not in only or os.path.exists(os.path.join(path, ".complete")):
                continue
            if os.path.exists(path):
                sys.exit("compare-tree: %s exists but is no complete generated tree" % path)
            print("making a tree of %d entries in %s ..." % (size, path), file=sys.stderr,
                  flush=True)
            make_tree(path, size)
        env = dict(os.environ)
        # The criteria go to a store of the bench's own, not the user's.
        env.update(MARLIT_REGISTRY=os.path.join(work, "store.reg"), TZ="UTC", LC_ALL="C")
        measure = build_measure(work)

        print("%s: %d processors, load average %s at the start; medians of %d rounds" %
              (os.uname().nodename, os.cpu_count(), "%.2f %.2f %.2f" % os.getloadavg(),
               args.rounds))
        if "usr" in only:
            bench_tree("installed files", args.usr, tools, measure, env, args.rounds, True)
        if "generated" in only:
            bench_tree("generated tree", tree, tools, measure, env, args.rounds, False)
        if "big" in only:
            bench_tree("big generated tree", args.big_tree, tools, measure, env, args.rounds, False)
        print("\n(load average %s at the end)" % ("%.2f %.2f %.2f" % os.getloadavg()))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
