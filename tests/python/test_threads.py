"""Several Python threads calling the module at once: each gets its own
results bit for bit and its own failures, and each failure writes one whole
report to standard error."""

import json
import re
import struct
import sys
import threading
import time

import pytest
from caller_objects import Number, PanicException
from conftest import run_python

import pwpoly

B = pwpoly.LegendreBasis
E = pwpoly.LegendreBasisEvaluator
TIMES = [-1.0, 0.0, 0.3, 0.7, 1.25, 2.0, 2.999, 3.0, 7.5]
WORKERS = 6
ROUNDS = 150


def bits(values):
    return struct.pack(f"{len(values)}d", *values)


def computations(worker):
    """The calls of one computing worker, each giving a float or a list."""
    degree, n_t, T = 1 + worker % 4, 2 + worker, 3.0 + worker / 7
    dofs = [(worker + 1) / (i + 3) for i in range(n_t * (degree + 1))]
    basis, evaluator = B(degree, n_t, T), E(degree, n_t, T)
    evaluator.set_dofs(dofs)
    calls = []
    for t in TIMES:
        calls += [
            lambda t=t: [evaluator.evaluate_at(t), evaluator.evaluate_derivative_at(t)],
            lambda t=t: [basis.evaluate_at(t, dofs)],
            lambda t=t: basis.evaluate_all_basis_functions(t),
            lambda t=t: basis.evaluate_all_basis_function_derivatives(t),
        ]
    calls.append(lambda: pwpoly.get_lagrange_points(degree, n_t, T))
    calls.append(lambda: pwpoly.lagrange_to_legendre_basis_transformation(degree, n_t)[2])
    return calls


def failures(worker):
    """The calls of one failing worker and what each must raise; the
    messages carry the worker's number, so that a failure that reached
    another thread would show."""
    evaluator = E(2, 3, 3.0)
    length = 10 + worker
    caller_panic = f"worker {worker}"

    def raise_caller_panic():
        raise PanicException(caller_panic)

    def raise_caller_error():
        raise ValueError(caller_panic)

    wrong_length = (
        "assertion `left == right` failed: LegendreBasisEvaluator: set_dofs: "
        f"input vector has wrong length\n  left: {length}\n right: 9"
    )
    return [
        (lambda: evaluator.set_dofs([1.0] * length), PanicException, wrong_length),
        (
            lambda: evaluator.set_dofs([*[1.0] * (length - 1), Number(1.0)]),
            PanicException,
            wrong_length,
        ),
        (
            lambda: evaluator.evaluate_at(Number(1.0, raise_caller_panic)),
            PanicException,
            caller_panic,
        ),
        (lambda: evaluator.evaluate_at(Number(1.0, raise_caller_error)), ValueError, caller_panic),
        (
            lambda: evaluator.set_dofs([Number(1.0, lambda: evaluator.evaluate_at(0.5))] * 9),
            RuntimeError,
            "Already mutably borrowed",
        ),
        (
            lambda: B(2, 3, 3.0).evaluate_at(Number(0.5), [1.0] * 8),
            PanicException,
            "Matrix view: input data buffer too small.",
        ),
        (lambda: pwpoly.sum_as_string(worker, -1), OverflowError, None),
    ]


def run_workers(targets):
    """Runs the targets in threads started together, switching between
    threads as often as the interpreter allows; returns what each raised."""
    start = threading.Barrier(len(targets))
    problems = [None] * len(targets)

    def work(i):
        start.wait()
        try:
            targets[i]()
        except BaseException as error:  # noqa: BLE001 - reported to the main thread
            problems[i] = error

    threads = [threading.Thread(target=work, args=(i,)) for i in range(len(targets))]
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    try:
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    finally:
        sys.setswitchinterval(interval)
    return problems


def test_threads_keep_their_own_results_and_failures(capfd):
    expected = {
        worker: [bits(call()) for call in computations(worker)] for worker in range(WORKERS)
    }

    def compute(worker):
        calls = computations(worker)
        for _ in range(ROUNDS):
            for call, want in zip(calls, expected[worker]):
                assert bits(call()) == want

    def fail(worker):
        for _ in range(ROUNDS):
            for call, error_type, message in failures(worker):
                with pytest.raises(error_type) as info:
                    call()
                assert type(info.value) is error_type
                assert message is None or info.value.args == (message,)

    targets = [lambda w=w: compute(w) for w in range(WORKERS)]
    targets += [lambda w=w: fail(w) for w in range(WORKERS)]
    problems = run_workers(targets)
    capfd.readouterr()  # thousands of failure reports
    assert problems == [None] * len(targets)


def test_a_reader_sees_the_old_or_the_new_coefficients_never_a_mix():
    """A set_dofs whose items run Python code lets other threads in while it
    holds the evaluator: they get the borrow error, not half of each."""
    first, second = [float(i) for i in range(9)], [float(-i * i) for i in range(9)]
    evaluator = E(2, 3, 3.0)
    allowed = set()
    for dofs in (first, second):
        evaluator.set_dofs(dofs)
        allowed.add(evaluator.evaluate_at(1.25))
    seen = set()
    done = threading.Event()

    def slowly(dofs):
        return [Number(x, lambda: time.sleep(0)) for x in dofs]

    def write():
        try:
            for _ in range(200):
                evaluator.set_dofs(slowly(second))
                time.sleep(1e-4)  # readers find the evaluator free here
                evaluator.set_dofs(slowly(first))
                time.sleep(1e-4)
        finally:
            done.set()

    def read():
        while not done.is_set():
            try:
                value = evaluator.evaluate_at(1.25)
            except RuntimeError as error:
                seen.add(str(error))
            else:
                assert value in allowed
                seen.add("value")

    assert run_workers([write, read, read]) == [None] * 3
    assert seen <= {"value", "Already mutably borrowed"}
    assert "value" in seen


HEADER = re.compile(r"thread '<unnamed>' \((\d+)\) panicked at [^:\n]+:\d+:\d+:")
NOTE = "note: run with `PWPOLY_BACKTRACE=1` environment variable to display a backtrace"
FRAME = re.compile(r"  ( \d|\d\d+): .*|             at .*")


@pytest.mark.parametrize("backtrace", [None, "1"])
def test_each_report_stays_whole(backtrace):
    result = run_python(
        f"""
        import json, sys, threading
        import pwpoly
        sys.setswitchinterval(1e-6)
        start = threading.Barrier(4)
        lengths, types = {{}}, set()
        def fail(worker):
            lengths[threading.get_native_id()] = 10 + worker
            evaluator = pwpoly.LegendreBasisEvaluator(2, 3, 3.0)
            start.wait()
            for _ in range({ROUNDS}):
                for call in (
                    lambda: evaluator.set_dofs([1.0] * (10 + worker)),
                    lambda: pwpoly.lagrange_to_legendre_basis_transformation(0, worker),
                ):
                    try:
                        call()
                    except BaseException as error:
                        types.add(type(error))
        threads = [threading.Thread(target=fail, args=(w,)) for w in range(4)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        # PanicException, created once for all threads at their first failures.
        assert len(types) == 1, types
        print(json.dumps(lengths))
        """,
        env={"PWPOLY_BACKTRACE": backtrace} if backtrace else None,
    )
    assert result.returncode == 0, result.stderr
    lengths = {int(tid): length for tid, length in json.loads(result.stdout).items()}
    assert len(lengths) == 4
    lines = result.stderr.split("\n")
    reports = 0
    i = 0
    while i < len(lines) - 1:
        # Every report begins with a line break, then its header.
        assert lines[i] == "", lines[i]
        header = HEADER.fullmatch(lines[i + 1])
        assert header, lines[i + 1]
        tid = int(header[1])
        if lines[i + 2].startswith("assertion"):
            message = lines[i + 2 : i + 5]
            assert message[1:] == [f"  left: {lengths[tid]}", " right: 9"], message
        else:
            message = lines[i + 2 : i + 3]
            assert message == ["Lagrange to Legendre conversion not meaningful for degree 0"]
        i += 2 + len(message)
        if backtrace is None:
            if reports == 0:
                assert lines[i] == NOTE
                i += 1
        else:
            assert lines[i] == "stack backtrace:"
            i += 1
            while FRAME.fullmatch(lines[i]):
                i += 1
            assert lines[i].startswith("note: Some details are omitted")
            i += 1
        reports += 1
    assert lines[i:] == [""]
    assert reports == 4 * 2 * ROUNDS
    # The threads did take turns between their failures.
    tids = [int(tid) for tid in HEADER.findall(result.stderr)]
    assert sum(a != b for a, b in zip(tids, tids[1:])) > 0
