"""Whole-process timings of several commands, paired: the commands take turns, one start of each
in every round, so that a busy spell of the machine falls on all of them alike. The order is drawn
anew for each round (with a fixed seed), so that no command gains or loses by its place: the start
after a 100 MB command's, for one, is slower. Each start's wall time and CPU time (user + system,
from wait4) are kept; standard output goes to /dev/null. After five unmeasured rounds, RUNS
measured ones; the medians go to OUT as JSON:
{"results": [{"command": ..., "median": seconds, "cpu": seconds}, ...]}, in the order given.

usage: paired_runs.py OUT RUNS COMMAND...   (each COMMAND one argument, split as a shell would)"""
import json
import os
import random
import shlex
import statistics
import sys
import time


def main(out, runs, *commands):
    null = os.open(os.devnull, os.O_WRONLY)

    def start(command):
        argv = shlex.split(command)
        began = time.perf_counter()
        pid = os.posix_spawn(argv[0], argv, os.environ,
                             file_actions=[(os.POSIX_SPAWN_DUP2, null, 1)])
        _, status, usage = os.wait4(pid, 0)
        if status != 0:
            sys.exit(f"{command} failed")
        return time.perf_counter() - began, usage.ru_utime + usage.ru_stime

    for _ in range(5):
        for command in commands:
            start(command)
    times = {command: [] for command in commands}
    order = list(commands)
    draw = random.Random(0)
    for _ in range(int(runs)):
        draw.shuffle(order)
        for command in order:
            times[command].append(start(command))
    with open(out, "w") as file:
        json.dump({"results": [{"command": c, "median": statistics.median(w for w, _ in t),
                                "cpu": statistics.median(u for _, u in t)}
                               for c, t in times.items()]}, file)


if __name__ == "__main__":
    main(*sys.argv[1:])
