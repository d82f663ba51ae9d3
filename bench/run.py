"""Times each pwpoly operation beside a baseline measured in the same run.

Prints the machine and interpreter, then a Markdown table with one row per
operation: the pwpoly time, the baseline time, their ratio, the target ratio
and whether the target is met. Times are per call (or per element, where a
row says so) and are the minimum over interleaved repeats: every repeat times
the pwpoly statement and the baseline statement back to back, alternating
which goes first, so that a slow patch of the machine hits both. The clock is
the process's CPU time by default, and there are many short timings rather
than a few long ones: on a busy machine the minimum then finds quiet moments
for both sides.

    python3 bench/run.py            # full run, well under a minute
    python3 bench/run.py --quick    # rough pass, a few seconds
    python3 bench/run.py --only set_dofs --verbose
"""

from __future__ import annotations

import argparse
import datetime
import gc
import importlib
import json
import os
import platform
import subprocess
import sys
import textwrap
import time
import timeit

try:
    import pwpoly
except ImportError as error:
    sys.exit(f"pwpoly is not importable ({error}); install it with `python3 -m pip install .`")

import cases


def cpu_model() -> str:
    try:
        with open("/proc/cpuinfo") as cpuinfo:
            for line in cpuinfo:
                key, _, value = line.partition(":")
                if key.strip() in ("model name", "Hardware", "Processor", "cpu model"):
                    return value.strip()
    except OSError:
        pass
    return platform.processor() or "unknown"


def package_version(name: str) -> str:
    try:
        from importlib.metadata import version

        return version(name)
    except ImportError:  # not installed as a distribution, or no metadata module
        return "unknown"


def missing_modules(names) -> list:
    missing = []
    for name in names:
        try:
            importlib.import_module(name)
        except ImportError:
            missing.append(name)
    return missing


def print_header(options, peers_note: str) -> None:
    now = datetime.datetime.now(datetime.timezone.utc).astimezone()
    print("## pwpoly benchmark")
    print()
    print(f"- Date: {now.isoformat(timespec='seconds')}")
    print(
        f"- Python: {platform.python_version()} ({platform.python_implementation()}), "
        f"`{sys.executable}`"
    )
    print(f"- Platform: {platform.platform()}, machine {platform.machine()}")
    print(f"- CPU: {cpu_model()}, {os.cpu_count()} logical CPUs")
    if hasattr(os, "getloadavg"):
        load = ", ".join(f"{value:.2f}" for value in os.getloadavg())
        print(f"- Load average at start: {load}")
    print(f"- pwpoly {package_version('pwpoly')} from `{pwpoly.__file__}`")
    print(f"- Peers: {peers_note}")
    print(
        f"- Timing: minimum of {options.repeats} interleaved repeats of about "
        f"{options.budget * 1000:.0f} ms each, per side, clock {options.clock_text}; "
        "garbage collector off while timing"
    )
    print()


def loops_for(timer: timeit.Timer, budget: float) -> int:
    """Loop count that makes one timing last about `budget` seconds."""
    number = 1
    while True:
        elapsed = timer.timeit(number)
        if elapsed >= budget / 10 or number >= 1 << 30:
            break
        number *= 10 if elapsed < budget / 100 else 2
    return max(1, round(number * budget / max(elapsed, 1e-9)))


def measure(case: cases.Case, options) -> dict:
    namespace = case.setup()
    timers = {
        "pwpoly": cases.timer_for(case.stmt, namespace, case.unroll, options.clock_function),
        "baseline": cases.timer_for(
            case.baseline_stmt, namespace, case.unroll, options.clock_function
        ),
    }
    for timer in timers.values():
        timer.timeit(1)  # warm up: caches, specialised bytecode, allocator pools
    loops = {side: loops_for(timer, options.budget) for side, timer in timers.items()}
    samples = {side: [] for side in timers}
    sides = list(timers)
    for repeat in range(options.repeats):
        for side in sides if repeat % 2 == 0 else reversed(sides):
            elapsed = timers[side].timeit(loops[side])
            samples[side].append(elapsed / (loops[side] * case.unroll * case.per))
    del namespace, timers
    gc.collect()
    return {"samples": samples, "loops": loops}


MEMORY_PROBE = """
import json, os, resource, sys
import pwpoly

def status_bytes(key):
    try:
        with open("/proc/self/status") as status:
            for line in status:
                if line.startswith(key + ":"):
                    return int(line.split()[1]) * 1024
    except OSError:
        pass
    return None

def current_rss():
    try:
        with open("/proc/self/statm") as statm:
            return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
    except OSError:
        return None

def peak_rss():
    peak = status_bytes("VmHWM")
    if peak is None:
        peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
    return peak

# Start the peak afresh where the kernel allows it, so that the peak read
# afterwards belongs to the call and not to the import.
try:
    with open("/proc/self/clear_refs", "w") as clear_refs:
        clear_refs.write("5")
    peak_reset = True
except OSError:
    peak_reset = False

before = current_rss()
if before is None:
    before = peak_rss()
degree, n_t = (int(argument) for argument in sys.argv[1:3])
result = pwpoly.lagrange_to_legendre_basis_transformation(degree, n_t)
peak = peak_rss()
after = current_rss()
print(json.dumps({
    "triplets": len(result[0]),
    "before": before,
    "peak": peak,
    "after": after,
    "peak_reset": peak_reset,
}))
"""


def measure_memory() -> dict:
    arguments = [str(cases.DEGREE), str(cases.MEMORY_N_T)]
    completed = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(MEMORY_PROBE), *arguments],
        check=False,
        capture_output=True,
        text=True,
        timeout=600,
    )
    if completed.returncode != 0:
        return {"error": completed.stderr.strip().splitlines()[-1:] or ["failed"]}
    return json.loads(completed.stdout)


def format_time(seconds: float) -> str:
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("µs", 1e-6), ("ns", 1e-9)):
        if seconds >= scale or unit == "ns":
            return f"{seconds / scale:.3g} {unit}"
    return f"{seconds:.3g} s"


def format_cell(case: cases.Case, seconds: float) -> str:
    text = format_time(seconds)
    return f"{text}/{case.item}" if case.per > 1 else text


def format_ratio(ratio: float, target: float | None) -> str:
    """Two decimals; a third where two would hide which side of the target it is."""
    if ratio < 0.1:
        return f"{ratio:.2g}"
    if target is not None and abs(ratio - target) < 0.005:
        return f"{ratio:.3f}"
    return f"{ratio:.2f}"


def verdict(value: float, target: float) -> str:
    """ "pass", or "missed" with the factor by which the value exceeds its target."""
    if value <= target:
        return "pass"
    return f"missed by {value / target:.2f}×"


def markdown_row(cells) -> str:
    return "| " + " | ".join(str(cell).replace("|", "\\|") for cell in cells) + " |"


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="fewer, shorter repeats (rough)")
    parser.add_argument(
        "--repeats", type=int, help="interleaved repeats per side (default 31; 7 with --quick)"
    )
    parser.add_argument(
        "--budget", type=float, help="seconds per timing (default 0.02; 0.01 with --quick)"
    )
    parser.add_argument(
        "--clock",
        choices=("cpu", "wall"),
        default="cpu",
        help="cpu: this process's CPU time (default; other processes' turns on a busy "
        "machine are not counted); wall: elapsed time",
    )
    parser.add_argument("--only", action="append", help="run cases whose key contains this")
    parser.add_argument("--no-memory", action="store_true", help="skip the memory row")
    parser.add_argument("--list", action="store_true", help="list the case keys and exit")
    parser.add_argument("--verbose", action="store_true", help="print medians and loop counts")
    parser.add_argument(
        "--strict", action="store_true", help="exit with status 1 if a target is missed"
    )
    options = parser.parse_args()
    if options.repeats is None:
        options.repeats = 7 if options.quick else 31
    if options.budget is None:
        options.budget = 0.01 if options.quick else 0.02
    clock_name = "process_time" if options.clock == "cpu" else "perf_counter"
    options.clock_function = getattr(time, clock_name)
    options.clock_text = (
        f"`time.{clock_name}` "
        f"(resolution {time.get_clock_info(clock_name).resolution * 1e9:.0f} ns)"
    )

    selected = cases.all_cases()
    if options.list:
        for case in selected:
            print(case.key)
        print("memory.transformation")
        return 0
    if options.only:
        selected = [case for case in selected if any(part in case.key for part in options.only)]

    missing = missing_modules(sorted({name for case in selected for name in case.needs}))
    if missing:
        peers_note = (
            f"{', '.join(missing)} not installed: the rows that need it skipped "
            "(`python3 -m pip install -r bench/requirements.txt`)"
        )
    else:
        versions = [f"{name} {package_version(name)}" for name in ("numpy", "scipy")]
        peers_note = ", ".join(versions)
    print_header(options, peers_note)

    started = time.perf_counter()
    header = ["operation", "pwpoly", "baseline", "ratio", "target", "ok"]
    lines = [markdown_row(header), markdown_row(["---"] * len(header))]
    details = []
    missed = 0
    for case in selected:
        if any(name in missing for name in case.needs):
            continue
        print(f"measuring {case.key} ...", file=sys.stderr, flush=True)
        result = measure(case, options)
        samples = result["samples"]
        best = {side: min(values) for side, values in samples.items()}
        ratio = best["pwpoly"] / best["baseline"]
        if case.target is None:
            target_text, outcome = "—", "—"
        else:
            target_text = f"≤ {case.target:g}"
            outcome = verdict(ratio, case.target)
            missed += outcome != "pass"
        lines.append(
            markdown_row(
                [
                    case.operation,
                    format_cell(case, best["pwpoly"]),
                    f"{case.baseline}: {format_cell(case, best['baseline'])}",
                    format_ratio(ratio, case.target),
                    target_text,
                    outcome,
                ]
            )
        )
        medians = {side: sorted(values)[len(values) // 2] for side, values in samples.items()}
        details.append(
            f"- {case.key}: median pwpoly {format_cell(case, medians['pwpoly'])}, "
            f"baseline {format_cell(case, medians['baseline'])} "
            f"(ratio of medians {medians['pwpoly'] / medians['baseline']:.2f}); "
            f"loops {result['loops']['pwpoly']} / {result['loops']['baseline']}"
            f" x {case.unroll} statements"
        )

    if not options.no_memory and (
        not options.only or any(part in "memory.transformation" for part in options.only)
    ):
        print("measuring memory.transformation ...", file=sys.stderr, flush=True)
        memory = measure_memory()
        triplets = (cases.DEGREE + 1) ** 2 * cases.MEMORY_N_T
        operation = (
            f"peak RSS growth of `lagrange_to_legendre_basis_transformation"
            f"({cases.DEGREE}, {cases.MEMORY_N_T})`, {triplets} triplets"
        )
        target = cases.MEMORY_TARGET_BYTES_PER_TRIPLET
        if "error" in memory:
            cells = [
                operation,
                f"error: {memory['error'][0]}",
                "—",
                "—",
                f"≤ {target:g} B",
                "missed",
            ]
            missed += 1
        else:
            per_triplet = (memory["peak"] - memory["before"]) / memory["triplets"]
            outcome = verdict(per_triplet, target)
            missed += outcome != "pass"
            cells = [
                operation,
                f"{per_triplet:.1f} B/triplet",
                "—",
                "—",
                f"≤ {target:g} B/triplet",
                outcome,
            ]
            held = (memory["after"] - memory["before"]) / memory["triplets"]
            details.append(
                f"- memory.transformation: RSS before {memory['before'] / 2**20:.1f} MiB, "
                f"peak {memory['peak'] / 2**20:.1f} MiB, after {memory['after'] / 2**20:.1f} MiB "
                f"with the result alive ({held:.1f} B/triplet held); "
                f"peak {'reset' if memory['peak_reset'] else 'not reset'} before the call"
            )
        lines.append(markdown_row(cells))

    print("\n".join(lines))
    print()
    print(
        f"Ratio = pwpoly time / baseline time; ok = ratio within target. "
        f"{missed} target(s) missed. Measured in {time.perf_counter() - started:.0f} s."
    )
    if options.verbose:
        print()
        print("\n".join(details))
    return 1 if options.strict and missed else 0


if __name__ == "__main__":
    sys.exit(main())
