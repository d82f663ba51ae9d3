"""PanicException on its way to the caller: pickled between processes, and
the traceback of a resumed PanicException written whole to sys.stderr
without the interpreter's hook for uncaught exceptions."""

import multiprocessing
import pickle
import re
from concurrent.futures import ProcessPoolExecutor

import process_workers
import pytest
from conftest import panic_type, run_python

import pwpoly

SHORT_MESSAGE = "Matrix view: input data buffer too small."


def test_runtime_module_holds_the_class_pwpoly_raises():
    import pwpoly_runtime

    assert pwpoly_runtime.PanicException is panic_type()
    assert pwpoly_runtime.__all__ == ["PanicException"]
    assert not hasattr(pwpoly, "PanicException")


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
def test_pickle_round_trip_in_this_process(protocol):
    with pytest.raises(BaseException) as info:
        process_workers.failing_evaluation(1)
    again = pickle.loads(pickle.dumps(info.value, protocol=protocol))
    assert type(again) is type(info.value)
    assert again.args == (SHORT_MESSAGE,)


@pytest.mark.parametrize("imported_first", ["nothing", "pwpoly", "pwpoly_runtime"])
def test_pickle_round_trip_in_a_fresh_process(imported_first):
    with pytest.raises(BaseException) as info:
        process_workers.failing_evaluation(1)
    data = pickle.dumps(info.value)
    result = run_python(
        f"""
        import pickle, sys
        if {imported_first!r} != "nothing":
            __import__({imported_first!r})
        error = pickle.loads({data!r})
        import pwpoly, pwpoly_runtime
        print(type(error) is pwpoly_runtime.PanicException, error.args)
        try:
            pwpoly.LegendreBasis(2, 3, 3.0).evaluate_at(1.0, [1.0])
        except BaseException as raised:
            print(type(raised) is type(error))
        """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [f"True ({SHORT_MESSAGE!r},)", "True"]


def test_runtime_module_imported_again_after_removal(python_child):
    result = python_child(
        """
        import sys, pwpoly, pwpoly_runtime
        first = pwpoly_runtime.PanicException
        del sys.modules["pwpoly_runtime"]
        import pwpoly_runtime
        print(pwpoly_runtime.PanicException is first, sys.modules["pwpoly"] is pwpoly)
        """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["True", "True"]


@pytest.mark.parametrize("method", ["fork", "spawn"])
def test_process_pool_delivers_the_worker_failure(method):
    context = multiprocessing.get_context(method)
    with ProcessPoolExecutor(max_workers=1, mp_context=context) as pool:
        future = pool.submit(process_workers.failing_evaluation, 1)
        with pytest.raises(BaseException) as info:
            future.result(timeout=120)
        assert type(info.value) is panic_type()
        assert info.value.args == (SHORT_MESSAGE,)
        # The pool survives: the worker raised, it did not die.
        assert pool.submit(process_workers.evaluation_with_failures_caught, 1).result(
            timeout=120
        ) == (f"failed: {SHORT_MESSAGE}")


def test_failures_caught_inside_the_worker_with_a_plain_pool():
    # multiprocessing.Pool hangs when a worker raises a BaseException, as it
    # does for SystemExit; catching inside the worker function is the way out.
    with multiprocessing.get_context("spawn").Pool(1) as pool:
        result = pool.map_async(process_workers.evaluation_with_failures_caught, [1, 9])
        expected = [f"failed: {SHORT_MESSAGE}", process_workers.failing_evaluation(9)]
        assert result.get(timeout=120) == expected


RESUMED_WITH_HOOK = """
import sys, pwpoly

def crash_reporter(*args):
    sys.stdout.write("hook called\\n")
    sys.exit(7)

sys.excepthook = crash_reporter
try:
    pwpoly.LegendreBasis(2, 3, 3.0).evaluate_at(1.0, [1.0])
except BaseException as error:
    Panic = type(error)

class Item:
    def __float__(self):
        raise Panic("from the item")

try:
    pwpoly.LegendreBasisEvaluator(0, 1, 1.0).set_dofs([Item()])
except BaseException as error:
    print("handled", type(error).__name__, error.args[0])
print(hasattr(sys, "last_value"), hasattr(sys, "last_type"), hasattr(sys, "last_traceback"))
"""


def test_resumed_panic_does_not_run_the_excepthook():
    result = run_python(RESUMED_WITH_HOOK)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [
        "handled PanicException from the item",
        "False False False",
    ]
    assert "Python stack trace below:\nTraceback (most recent call last):\n" in result.stderr
    assert "PanicException: from the item\n" in result.stderr


def test_resumed_tracebacks_and_reports_are_never_split():
    # Threads resume PanicExceptions of their own items while others fail
    # with internal failures; every traceback and every report is one piece.
    result = run_python(
        """
        import sys, threading, pwpoly
        try:
            pwpoly.LegendreBasis(2, 3, 3.0).evaluate_at(1.0, [1.0])
        except BaseException as error:
            Panic = type(error)

        class Item:
            def __init__(self, token):
                self.token = token
            def __float__(self):
                raise Panic(self.token)

        def resume(n):
            for i in range(40):
                try:
                    pwpoly.LegendreBasisEvaluator(0, 1, 1.0).set_dofs([Item(f"token-{n}-{i}")])
                except BaseException:
                    pass

        def fail(n):
            for _ in range(40):
                try:
                    pwpoly.LegendreBasisEvaluator(0, n, 1.0).set_dofs([])
                except BaseException:
                    pass

        threads = [threading.Thread(target=work, args=(n,))
                   for n in range(1, 5) for work in (resume, fail)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        """,
        timeout=120,
    )
    assert result.returncode == 0, result.stderr
    blocks = re.findall(
        r"--- pwpoly: resuming[^\n]*\nPython stack trace below:\n(.*?)"
        r"\n\S*PanicException: (token-\d+-\d+)\n",
        result.stderr,
        flags=re.S,
    )
    tokens = sorted(token for _, token in blocks)
    assert tokens == sorted(f"token-{n}-{i}" for n in range(1, 5) for i in range(40))
    for body, _ in blocks:
        assert "panicked at" not in body and "resuming" not in body, body
        assert body.startswith("Traceback (most recent call last):\n")
    assert len(re.findall(r"panicked at [^\n]*\nassertion", result.stderr)) == 160
