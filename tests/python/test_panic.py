"""PanicException, the standard-error report of internal failures with its
backtrace variants, and PanicExceptions raised by caller code during a call.
Everything that writes to standard error runs in a child interpreter."""

import json
import os
import re
import shutil

import pwpoly
import pytest
from conftest import SANITIZED, panic_type, run_python

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


FRAME = re.compile(r"  ( \d|\d\d+): ([^\n]*)\n {13}at ([^\n]*)\n")
SOURCE_PLACE = re.compile(r"src/(?:core|binding)/[\w/]+\.[ch]pp:[1-9]\d*(?::[1-9]\d*)?")


def backtraces(stderr):
    """The frames of each report's backtrace, as (name, place) pairs in order."""
    found = []
    for part in stderr.split("stack backtrace:\n")[1:]:
        frames = []
        match = FRAME.match(part)
        while match:
            assert int(match[1]) == len(frames), part
            frames.append((match[2], match[3]))
            match = FRAME.match(part, match.end())
        found.append(frames)
    return found


@pytest.mark.parametrize("value", ["1", "full"])
def test_backtrace_frames_name_functions_and_source_lines(value):
    _, stderr = two_failures(env={"PWPOLY_BACKTRACE": value})
    reports = backtraces(stderr)
    assert len(reports) == 2, stderr
    for frames in reports:
        placed = [i for i, (_, place) in enumerate(frames) if SOURCE_PLACE.fullmatch(place)]
        # The frames of this module follow each other, named (demangled) and
        # placed; a sanitizer's interceptor of backtrace() may come first.
        assert placed and placed == list(range(placed[0], placed[-1] + 1)), stderr
        own = frames[placed[0] : placed[-1] + 1]
        assert any(
            name.startswith("pwpoly::fail(") and place.startswith("src/core/support/failure.cpp:")
            for name, place in own
        ), stderr
        assert all(name.startswith("pwpoly::") for name, _ in own), stderr
        others = frames[: placed[0]] + frames[placed[-1] + 1 :]
        if value == "1":
            assert others == [], stderr
        else:
            # Frames of other objects keep what the dynamic loader knows.
            assert others and all(re.search(r" \+0x[0-9a-f]+$", place) for _, place in others)


MODULE_COPY = """
import os, sys
sys.path.insert(0, {directory!r})
import pwpoly
assert os.path.dirname(pwpoly.__file__) == {directory!r}
{replace}
for _ in range(2):
    try:
        pwpoly.LegendreBasis(2, 3, 3.0).evaluate_at(1.0, [1.0])
    except BaseException:
        pass
print(pwpoly.sum_as_string(2, 3))
"""

REPLACEMENTS = {
    "deleted": "os.remove(pwpoly.__file__)",
    "not an object file": (
        "os.remove(pwpoly.__file__)\nopen(pwpoly.__file__, 'wb').write(b'\\x7fELF' * 100)"
    ),
    # Another build: the same bytes but for the build-id.
    "rebuilt": """
data = bytearray(open(pwpoly.__file__, 'rb').read())
note = data.find(b'\\x03\\x00\\x00\\x00GNU\\x00')
assert note > 0, 'no build-id'
data[note + 8] ^= 0xFF
os.remove(pwpoly.__file__)
open(pwpoly.__file__, 'wb').write(data)
""",
}


@pytest.mark.parametrize("replacement", sorted(REPLACEMENTS))
def test_backtrace_after_the_module_file_was_replaced_is_plain(tmp_path, replacement):
    # A module file replaced since import (a reinstall, say) would name the
    # wrong code: frames keep object and offset instead.
    installed = os.path.dirname(pwpoly.__file__)
    for name in (os.path.basename(pwpoly.__file__), "pwpoly_runtime.py"):
        if os.path.exists(os.path.join(installed, name)):
            shutil.copy(os.path.join(installed, name), tmp_path / name)
    code = MODULE_COPY.format(directory=str(tmp_path), replace=REPLACEMENTS[replacement])
    result = run_python(code, env={"PWPOLY_BACKTRACE": "1"})
    assert result.returncode == 0, result.stderr
    assert result.stdout == "5\n"
    module = re.escape(str(tmp_path / os.path.basename(pwpoly.__file__)))
    reports = backtraces(result.stderr)
    assert len(reports) == 2 and all(reports), result.stderr
    for frames in reports:
        for name, place in frames:
            assert name == "<unknown>", result.stderr
            assert re.fullmatch(rf"{module} \+0x[0-9a-f]+", place), result.stderr


@pytest.mark.skipif(SANITIZED, reason="the sanitizers' own checks need file descriptors")
def test_backtrace_without_a_file_descriptor_is_plain_and_named_later():
    result = run_python(
        """
        import ctypes, os, resource
        import pwpoly

        def fail():
            try:
                pwpoly.LegendreBasis(2, 3, 3.0).evaluate_at(1.0, [1.0])
            except BaseException:
                pass

        # The unwinder is loaded at the first backtrace of the process: now.
        ctypes.CDLL(None).backtrace((ctypes.c_void_p * 4)(), 4)
        soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
        lowest = os.open(os.devnull, os.O_RDONLY)
        os.close(lowest)
        resource.setrlimit(resource.RLIMIT_NOFILE, (lowest, hard))
        fail()
        resource.setrlimit(resource.RLIMIT_NOFILE, (soft, hard))
        fail()
        """,
        env={"PWPOLY_BACKTRACE": "1"},
    )
    assert result.returncode == 0, result.stderr
    plain, named = backtraces(result.stderr)
    assert plain and all(name == "<unknown>" for name, _ in plain), result.stderr
    assert named and all(SOURCE_PLACE.fullmatch(place) for _, place in named), result.stderr


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
