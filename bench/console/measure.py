"""Times one command as a user runs it from a shell, for the console benches
(compare-find.py, compare-tree.py): wall time, CPU time and peak memory.

A small C program forks and runs the command with its output to /dev/null,
so that the child starts with that program's small memory, not with
Python's (the peak a child reports includes what it had before exec).
"""
import os
import subprocess
import sys

# Prints the command's wall time in nanoseconds, its CPU time (user + system)
# in microseconds, its peak memory in KiB and its exit status.
MEASURE_C = r"""
#include <fcntl.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
int main(int argc, char** argv) {
  if (argc < 2) return 2;
  struct timespec a, b;
  clock_gettime(CLOCK_MONOTONIC, &a);
  pid_t pid = fork();
  if (pid == 0) {
    int out = open("/dev/null", O_WRONLY);
    dup2(out, 1);
    dup2(out, 2);
    execv(argv[1], argv + 1);
    _exit(127);
  }
  int status = 0;
  struct rusage usage;
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return 2;
  clock_gettime(CLOCK_MONOTONIC, &b);
  long long cpu = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000LL +
                  usage.ru_utime.tv_usec + usage.ru_stime.tv_usec;
  printf("%lld %lld %ld %d\n", (b.tv_sec - a.tv_sec) * 1000000000LL + (b.tv_nsec - a.tv_nsec),
         cpu, usage.ru_maxrss, WIFEXITED(status) ? WEXITSTATUS(status) : 128);
  return 0;
}
"""


def build(folder):
    """Compiles the timing program into `folder`; returns its path."""
    measure = os.path.join(folder, "measure")
    with open(measure + ".c", "w") as f:
        f.write(MEASURE_C)
    subprocess.run(["cc", "-O2", "-o", measure, measure + ".c"], check=True)
    return measure


def run(measure, argv, env, who):
    """One run: (wall seconds, CPU seconds, peak memory in bytes). A status
    other than 0 or 1 (something selected or not) ends the bench."""
    r, w = os.pipe()
    pid = os.posix_spawn(measure, [measure] + argv, env, file_actions=[(os.POSIX_SPAWN_DUP2, w, 1)])
    os.close(w)
    text = os.read(r, 256).decode()
    os.close(r)
    os.waitpid(pid, 0)
    wall, cpu, rss, code = (int(x) for x in text.split())
    if code not in (0, 1):
        sys.exit("%s: %s ended with status %d" % (who, " ".join(argv), code))
    return wall / 1e9, cpu / 1e6, rss * 1024
