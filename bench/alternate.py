#!/usr/bin/env python3
"""Times several builds of a program on the same command line, run by run in turn.

    bench/alternate.py ROUNDS ARGS... -- PROGRAM [PROGRAM...]

Each round runs every PROGRAM once with ARGS (the order reversed every other round), so all
of them see the same changes of the machine's load; then the median wall time and processor
time (user + system) of each, with the least. Output and messages are discarded.
"""
import os
import statistics
import subprocess
import sys
import time


def main() -> int:
    if len(sys.argv) < 4 or "--" not in sys.argv:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    rounds = int(sys.argv[1])
    cut = sys.argv.index("--")
    args, programs = sys.argv[2:cut], sys.argv[cut + 1:]
    wall = {p: [] for p in programs}
    cpu = {p: [] for p in programs}
    for r in range(rounds):
        for p in programs if r % 2 == 0 else programs[::-1]:
            start = time.perf_counter()
            child = subprocess.Popen([p] + args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            _, _, usage = os.wait4(child.pid, 0)
            wall[p].append(time.perf_counter() - start)
            cpu[p].append(usage.ru_utime + usage.ru_stime)
    for p in programs:
        print(f"{p:40s} wall {statistics.median(wall[p]):.3f} s (least {min(wall[p]):.3f})"
              f"  processor {statistics.median(cpu[p]):.3f} s (least {min(cpu[p]):.3f})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
