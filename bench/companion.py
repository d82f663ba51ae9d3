"""The two targets of pwpoly_numpy that run.py cannot time row by row.

- Threads: two threads each evaluating 10**6 times at once, against the same
  two evaluations one after the other, on the wall clock (a CPU-time clock
  would add the two threads up). Interleaved repeats, minimum of each side.
- Memory: the peak growth of the resident set in a fresh interpreter while
  ``transformation_matrix(3, 250000)`` (4 million stored entries) is built
  and kept, per stored entry.

    python3 bench/companion.py [--repeats 15]

Prints Markdown rows in the format of run.py's table.
"""

from __future__ import annotations

import argparse
import json
import subprocess
import sys
import textwrap
import threading
import time

import run

EVALUATION_TIMES = 1_000_000
THREADS_TARGET = 1 / 1.5
"""Together at least 1.5 times as fast as one after the other."""
MEMORY_N_T = 250_000
MEMORY_TARGET_BYTES = 24.0

MEMORY_PROBE = """
import json, sys
import pwpoly_numpy
import scipy.sparse  # imported before the measurement: its own memory is not the call's

def resident(key):
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(key + ":"):
                return int(line.split()[1]) * 1024

with open("/proc/self/clear_refs", "w") as clear_refs:
    clear_refs.write("5")  # the peak starts afresh here
before = resident("VmRSS")
matrix = pwpoly_numpy.transformation_matrix(3, int(sys.argv[1]))
print(json.dumps({"entries": matrix.nnz, "before": before, "peak": resident("VmHWM"),
                  "after": resident("VmRSS")}))
"""


def threads_row(repeats: int) -> tuple[list, float]:
    import numpy

    import pwpoly_numpy

    rng = numpy.random.default_rng(11)
    coefficients = rng.uniform(-1.0, 1.0, run.cases.N)
    times = [rng.uniform(0.0, 1.0, EVALUATION_TIMES) for _ in range(2)]

    def evaluate(at):
        pwpoly_numpy.evaluate(3, run.cases.N_T_COEFFICIENTS, 1.0, coefficients, at)

    def together():
        workers = [threading.Thread(target=evaluate, args=(at,)) for at in times]
        for worker in workers:
            worker.start()
        for worker in workers:
            worker.join()

    def one_after_the_other():
        for at in times:
            evaluate(at)

    best = {"together": float("inf"), "sequential": float("inf")}
    sides = [("together", together), ("sequential", one_after_the_other)]
    for repeat in range(repeats):
        for name, statement in sides if repeat % 2 == 0 else reversed(sides):
            started = time.perf_counter()
            statement()
            best[name] = min(best[name], time.perf_counter() - started)
    ratio = best["together"] / best["sequential"]
    row = [
        f"two threads, each `pwpoly_numpy.evaluate(3, 25000, T, c, times)` on "
        f"{EVALUATION_TIMES} times, wall clock",
        run.format_time(best["together"]),
        f"the same two calls one after the other: {run.format_time(best['sequential'])}",
        run.format_ratio(ratio, THREADS_TARGET),
        f"≤ {THREADS_TARGET:.3f}",
        run.verdict(ratio, THREADS_TARGET),
    ]
    return row, ratio


def memory_row() -> tuple[list, float]:
    completed = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(MEMORY_PROBE), str(MEMORY_N_T)],
        check=True,
        capture_output=True,
        text=True,
        timeout=600,
    )
    memory = json.loads(completed.stdout)
    per_entry = (memory["peak"] - memory["before"]) / memory["entries"]
    held = (memory["after"] - memory["before"]) / memory["entries"]
    row = [
        f"peak RSS growth of `pwpoly_numpy.transformation_matrix(3, {MEMORY_N_T})`, "
        f"{memory['entries']} stored entries ({held:.1f} B/entry held by the result)",
        f"{per_entry:.1f} B/entry",
        "—",
        "—",
        f"≤ {MEMORY_TARGET_BYTES:g} B/entry",
        run.verdict(per_entry, MEMORY_TARGET_BYTES),
    ]
    return row, per_entry


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeats", type=int, default=15, help="interleaved repeats per side")
    options = parser.parse_args()
    header = ["operation", "pwpoly", "baseline", "ratio", "target", "ok"]
    rows = [threads_row(options.repeats)[0], memory_row()[0]]
    print("\n".join(run.markdown_row(cells) for cells in [header, ["---"] * 6, *rows]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
