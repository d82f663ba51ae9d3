"""Runs one benchmark statement a given number of times, for instruction counts.

Wall-clock ratios on a busy machine move by tens of percent; instruction
counts under valgrind's callgrind do not. This script runs the pwpoly
statement of one case of `run.py` (or, with --baseline, its baseline
statement) COUNT times after the case's setup, and does nothing else, so that
the difference between a run with COUNT calls and a run with none is the cost
of COUNT calls.

By hand (valgrind needs the real interpreter, not a pyenv or venv shim):

    PY=$(python3 -c 'import sys; print(sys.executable)')
    valgrind --tool=callgrind --callgrind-out-file=cg.%p.out \\
        "$PY" bench/callgrind_calls.py evaluator.evaluate_at --count 20000
    callgrind_annotate cg.<pid>.out | head -40

Or let the script do the subtraction for the statement and its baseline:

    python3 bench/callgrind_calls.py evaluator.evaluate_at --valgrind

which prints instructions per call (Ir) of both and their ratio, and keeps the
callgrind output files for callgrind_annotate.
"""

from __future__ import annotations

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

import cases


def default_count(case: cases.Case) -> int:
    if case.unroll > 1:
        return 20_000
    return 5


def run_statement(case: cases.Case, baseline: bool, count: int) -> None:
    """Runs the statement `count` times, unrolled as in run.py (so `count` is
    rounded up to a multiple of the case's unroll)."""
    stmt = case.baseline_stmt if baseline else case.stmt
    loops = -(-count // case.unroll)
    cases.timer_for(stmt, case.setup(), case.unroll).timeit(loops)


def collected_instructions(stderr: str) -> int:
    match = re.search(r"Collected\s*:\s*(\d+)", stderr)
    if match is None:
        sys.exit("callgrind printed no instruction count:\n" + stderr[-2000:])
    return int(match.group(1))


def callgrind(case: cases.Case, baseline: bool, count: int, out_dir: str) -> int:
    side = "baseline" if baseline else "pwpoly"
    out_file = os.path.join(out_dir, f"callgrind.{case.key}.{side}.{count}.out")
    command = [
        "valgrind",
        "--tool=callgrind",
        f"--callgrind-out-file={out_file}",
        sys.executable,
        os.path.abspath(__file__),
        case.key,
        "--count",
        str(count),
    ]
    if baseline:
        command.append("--baseline")
    completed = subprocess.run(command, check=False, capture_output=True, text=True)
    if completed.returncode != 0:
        sys.exit(f"valgrind failed ({completed.returncode}):\n{completed.stderr[-2000:]}")
    return collected_instructions(completed.stderr)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("case", nargs="?", help="case key (see --list)")
    parser.add_argument("--list", action="store_true", help="list the case keys and exit")
    parser.add_argument("--count", type=int, help="calls of the statement (default by case)")
    parser.add_argument("--baseline", action="store_true", help="run the baseline statement")
    parser.add_argument(
        "--valgrind",
        action="store_true",
        help="run the statement and its baseline under callgrind; print Ir per call",
    )
    parser.add_argument("--out-dir", help="where --valgrind keeps its callgrind files")
    options = parser.parse_args()

    by_key = {case.key: case for case in cases.all_cases()}
    if options.list or options.case is None:
        for key, case in by_key.items():
            print(f"{key:50s} {case.stmt}  |  {case.baseline_stmt}")
        return 0 if options.list else 2
    case = by_key.get(options.case)
    if case is None:
        sys.exit(f"unknown case {options.case!r}; see --list")
    count = options.count if options.count is not None else default_count(case)

    if not options.valgrind:
        run_statement(case, options.baseline, count)
        return 0

    if shutil.which("valgrind") is None:
        sys.exit("valgrind is not installed (apt-get install valgrind)")
    out_dir = options.out_dir or tempfile.mkdtemp(prefix="pwpoly-callgrind-")
    os.makedirs(out_dir, exist_ok=True)
    per_call = {}
    for baseline in (False, True):
        empty = callgrind(case, baseline, 0, out_dir)
        full = callgrind(case, baseline, count, out_dir)
        calls = -(-count // case.unroll) * case.unroll
        per_call[baseline] = (full - empty) / (calls * case.per)
    unit = f"per {case.item}" if case.per > 1 else "per call"
    print(f"{case.key}, {count} calls, instructions {unit} (the timing loop's share included):")
    print(f"  pwpoly   {per_call[False]:12.1f}  {case.stmt}")
    print(f"  baseline {per_call[True]:12.1f}  {case.baseline_stmt}")
    print(f"  ratio    {per_call[False] / per_call[True]:12.2f}")
    print(f"callgrind files in {out_dir}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
