"""Shared by the Python parts of the benchmarks' compare.sh scripts (run with this folder on
PYTHONPATH): wall-clock timing of other tools' commands."""
import subprocess
import time


def best_in_turn(rounds, commands):
    """The best wall seconds of each command (an argv list), the commands run in turn in every round
    so that a change in the machine's load touches all of them alike. Output is discarded; a
    failing command raises."""
    best = [1e9] * len(commands)
    for _ in range(rounds):
        for i, argv in enumerate(commands):
            t0 = time.perf_counter()
            subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
            best[i] = min(best[i], time.perf_counter() - t0)
    return best
