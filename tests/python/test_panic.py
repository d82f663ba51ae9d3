"""PanicException, the standard-error report of internal failures with its
backtrace variants, and PanicExceptions raised by caller code during a call.
Everything that writes to standard error runs in a child interpreter."""

import json
import re

import pwpoly
import pytest
from conftest import panic_type, run_python

SHORT_MESSAGE = "Matrix view: input data buffer too small."
LENGTH_MESSAGE = (
    "assertion `left == right` failed: LegendreBasisEvaluator: set_dofs: input vector has "
    "wrong length\n  left: 8\n right: 9"
)

# Two internal failures in a row; the child prints its native thread id.
TWO_FAILURES = """
import os, threading
import pwpoly
print(threading.get_native_id())
{before}
try:
    pwpoly.LegendreBasis(2, 3, 3.0).evaluate_at(1.0, [1.0])
except BaseException:
    pass
{between}
try:
    pwpoly.LegendreBasisEvaluator(2, 3, 3.0).set_dofs([1.0] * 8)
except BaseException:
    pass
"""


def report_pattern(tid, message, tail):
    return (
        rf"\nthread '<unnamed>' \({tid}\) panicked at [^\n:]+:[1-9]\d*:[1-9]\d*:\n"
        + re.escape(message)
        + "\n"
        + tail
    )


def two_failures(env=None, before="", between=""):
    result = run_python(TWO_FAILURES.format(before=before, between=between), env=env)
    assert result.returncode == 0, result.stderr
    return result.stdout.strip(), result.stderr


def test_panic_exception_class():
    cls = panic_type()
    assert cls is panic_type()
    assert cls.__name__ == cls.__qualname__ == "PanicException"
    assert cls.__module__ == "pwpoly_runtime"
    assert cls.__bases__ == (BaseException,)
    assert not issubclass(cls, Exception)
    assert "PanicException" not in vars(pwpoly)
    assert "PanicException" not in pwpoly.__all__
    paragraphs = cls.__doc__.strip().split("\n\n")
    assert len(paragraphs) == 2
    assert "BaseException" in paragraphs[1]


def test_internal_failure_is_not_an_exception():
    basis = pwpoly.LegendreBasis(2, 3, 3.0)
    with pytest.raises(BaseException) as info:
        try:
            basis.evaluate_at(1.0, [1.0])
        except Exception:  # noqa: BLE001
            pytest.fail("an internal failure was caught as Exception")
    assert type(info.value) is panic_type()
    assert info.value.args == (SHORT_MESSAGE,)
    assert info.value.__cause__ is None
    assert basis.evaluate_at(1.25, [1, 2, 3, 4, 5, 6, 7, 8, 9]) == -1.5


def test_subclass_of_panic_exception_from_caller_code_passes_unchanged():
    class Derived(panic_type()):
        pass

    error = Derived("derived")

    class Item:
        def __float__(self):
            raise error

    with pytest.raises(Derived) as info:
        pwpoly.LegendreBasisEvaluator(0, 1, 1.0).set_dofs([Item()])
    assert info.value is error


NOTE = r"note: [^\n]*PWPOLY_BACKTRACE[^\n]*\n"
BACKTRACE = r"stack backtrace:\n(?:[^\n]*\n)*?"


@pytest.mark.parametrize(
    ("value", "first_tail", "second_tail"),
    [
        (None, NOTE, ""),
        ("0", NOTE, ""),
        ("1", BACKTRACE, BACKTRACE),
        ("full", BACKTRACE, BACKTRACE),
        ("yes", BACKTRACE, BACKTRACE),
    ],
)
def test_report_layout(value, first_tail, second_tail):
    tid, stderr = two_failures(env=None if value is None else {"PWPOLY_BACKTRACE": value})
    first = report_pattern(tid, SHORT_MESSAGE, first_tail)
    assert re.fullmatch(first + report_pattern(tid, LENGTH_MESSAGE, second_tail), stderr), stderr


def test_full_backtrace_shows_more_than_the_short_one():
    _, short = two_failures(env={"PWPOLY_BACKTRACE": "1"})
    _, full = two_failures(env={"PWPOLY_BACKTRACE": "full"})
    assert len(full.splitlines()) > len(short.splitlines())


@pytest.mark.parametrize(
    ("env", "before", "backtrace"),
    [
        (None, "os.environ['PWPOLY_BACKTRACE'] = '1'", True),
        ({"PWPOLY_BACKTRACE": "full"}, "os.environ['PWPOLY_BACKTRACE'] = '0'", False),
    ],
)
def test_backtrace_choice_is_read_at_the_first_failure_and_kept(env, before, backtrace):
    flip = "0" if backtrace else "1"
    _, stderr = two_failures(
        env=env, before=before, between=f"os.environ['PWPOLY_BACKTRACE'] = '{flip}'"
    )
    assert stderr.count("stack backtrace:") == (2 if backtrace else 0)
    if not backtrace:
        assert stderr.count("\nnote: ") == 1


RESUMED = """
import json, sys
import pwpoly
try:
    pwpoly.LegendreBasis(2, 3, 3.0).evaluate_at(1.0, [1.0])
except BaseException as error:
    Panic = type(error)

class NoText:
    def __str__(self):
        raise RuntimeError("no text")

class Hostile:
    def __init__(self, error):
        self.error = error
    def raise_it(self, *args):
        raise self.error
    __float__ = __index__ = __iter__ = raise_it
    def __getitem__(self, index):
        return 0.0

def attempt(error):
    sys.stderr.write("-- mark --\\n")
    sys.stderr.flush()
    hostile = Hostile(error)
    try:
        {call}
    except BaseException as caught:
        print(json.dumps([type(caught).__name__, caught is error, [str(a) for a in caught.args],
                          isinstance(caught, Exception), caught.__cause__ is None]))
    print(pwpoly.sum_as_string(2, 3))

attempt(Panic("boom"))
attempt(Panic(NoText()))
attempt(ValueError("plain"))
"""


@pytest.mark.parametrize(
    "call",
    [
        "pwpoly.LegendreBasisEvaluator(0, 1, 1.0).set_dofs([hostile])",
        "pwpoly.LegendreBasisEvaluator(0, 1, 1.0).set_dofs(hostile)",
        "pwpoly.LegendreBasis(2, 3, 3.0).evaluate_at(hostile, [])",
        "pwpoly.LegendreBasis(2, 3, 3.0).evaluate_all_basis_functions(hostile)",
        "pwpoly.LegendreBasis(hostile, 3, 3.0)",
        "pwpoly.sum_as_string(1, hostile)",
    ],
)
def test_panic_exception_from_caller_code_is_resumed(call):
    result = run_python(RESUMED.replace("{call}", call))
    assert result.returncode == 0, result.stderr
    outcomes = [json.loads(line) for line in result.stdout.splitlines()[0::2]]
    assert result.stdout.splitlines()[1::2] == ["5", "5", "5"]
    assert outcomes == [
        ["PanicException", False, ["boom"], False, True],
        ["PanicException", False, ["Unwrapped panic from Python code"], False, True],
        ["ValueError", True, ["plain"], True, True],
    ]

    _, boom, no_text, plain = result.stderr.split("-- mark --\n")
    for resumed, shown in ((boom, "boom"), (no_text, "")):
        announcement, below, traceback_head, *_ = resumed.splitlines()
        assert "PanicException" in announcement
        assert below == "Python stack trace below:"
        assert traceback_head == "Traceback (most recent call last):"
        assert ", in raise_it\n" in resumed
        assert re.search(rf"\n\S*PanicException: {shown}[^\n]*\n\Z", resumed), resumed
        assert "panicked at" not in resumed
    assert plain == ""


def test_threads_report_their_own_failures():
    result = run_python(
        """
        import json, threading
        import pwpoly

        def work(n, results):
            instance = pwpoly.LegendreBasisEvaluator(0, n, 1.0)
            seen = []
            for _ in range(100):
                try:
                    instance.set_dofs([1.0] * (n + 1))
                except BaseException as error:
                    seen.append(error.args[0].endswith(f"left: {n + 1}\\n right: {n}"))
                instance.set_dofs([2.0] * n)
                seen.append(instance.evaluate_at(0.5) == 2.0)
            results[threading.get_native_id()] = (n, all(seen), len(seen))

        results = {}
        threads = [threading.Thread(target=work, args=(n, results)) for n in (1, 2, 3, 4)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        print(json.dumps(results))
        """
    )
    assert result.returncode == 0, result.stderr
    results = {int(tid): outcome for tid, outcome in json.loads(result.stdout).items()}
    assert sorted(outcome for outcome in results.values()) == [[n, True, 200] for n in (1, 2, 3, 4)]
    reports = re.findall(
        r"thread '<unnamed>' \((\d+)\) panicked at .*\n.*\n  left: (\d+)\n", result.stderr
    )
    assert len(reports) == 400
    for tid, left in reports:
        assert int(left) == results[int(tid)][0] + 1
    assert result.stderr.count("note:") == 1
