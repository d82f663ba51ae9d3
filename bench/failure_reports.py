"""Times internal failures with each backtrace style of the standard-error report.

Each style runs in a fresh interpreter (PWPOLY_BACKTRACE is read at the first
failure of a process) that fails the same call many times, with standard error
sent to /dev/null, and reports the median time of one failure, the first
failure apart (it maps the module's file). The children run in turns, one
child per style per round, and each style keeps its lowest median over the
rounds; ratios are to the default style (no backtrace: a one-line note after
the first failure only). Also prints the size of the module's file.

    python3 bench/failure_reports.py            # 5 rounds of 2000 failures
    python3 bench/failure_reports.py --rounds 3 --failures 500
"""

from __future__ import annotations

import argparse
import json
import os
import platform
import subprocess
import sys

import pwpoly

CHILD = """
import json, sys, time
import pwpoly
basis = pwpoly.LegendreBasis(2, 3, 3.0)
def failure():
    start = time.perf_counter_ns()
    try:
        basis.evaluate_at(1.0, [1.0])
    except BaseException:
        pass
    return time.perf_counter_ns() - start
first = failure()
times = sorted(failure() for _ in range({failures}))
print(json.dumps([first, times[len(times) // 2]]))
"""

STYLES = {"default (note once)": None, "PWPOLY_BACKTRACE=1": "1", "PWPOLY_BACKTRACE=full": "full"}


def run_child(value: str | None, failures: int) -> tuple[int, int]:
    env = dict(os.environ)
    env.pop("PWPOLY_BACKTRACE", None)
    if value is not None:
        env["PWPOLY_BACKTRACE"] = value
    with open(os.devnull, "w") as sink:
        output = subprocess.run(
            [sys.executable, "-c", CHILD.format(failures=failures)],
            env=env,
            stdout=subprocess.PIPE,
            stderr=sink,
            text=True,
            check=True,
            timeout=600,
        ).stdout
    first, median = json.loads(output)
    return first, median


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--failures", type=int, default=2000)
    args = parser.parse_args()

    best: dict[str, list[int]] = {name: [2**63, 2**63] for name in STYLES}
    for _ in range(args.rounds):
        for name, value in STYLES.items():
            first, median = run_child(value, args.failures)
            best[name] = [min(best[name][0], first), min(best[name][1], median)]

    print(f"Python {platform.python_version()} on {platform.machine()}, {args.rounds} rounds")
    print(f"module file: {pwpoly.__file__} ({os.path.getsize(pwpoly.__file__)} bytes)\n")
    baseline = best["default (note once)"][1]
    print("| style | first failure | one failure (median) | ratio to default |")
    print("|---|---|---|---|")
    for name, (first, median) in best.items():
        print(
            f"| {name} | {first / 1000:.1f} µs | {median / 1000:.1f} µs | {median / baseline:.1f} |"
        )


if __name__ == "__main__":
    main()
