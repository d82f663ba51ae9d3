"""The README stays true: every Python block in it runs as written, each in a
fresh interpreter, and the results written in its comments are checked.

A block of `>>>` lines is a doctest. In any other block, an expression
statement followed by a comment that is a Python literal (`x.shape  # (2, 2)`)
must evaluate to that literal; other comments are prose. A block that needs a
module that is not installed (NumPy, SciPy) is skipped."""

import ast
import doctest
import re
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

README = Path(__file__).resolve().parents[2] / "README.md"
BLOCK = re.compile(r"^( *)```python\n(.*?)^\1```", re.S | re.M)
OPTIONAL = ("numpy", "scipy", "pwpoly_numpy", "dask", "distributed")


def python_blocks():
    text = README.read_text(encoding="utf-8")
    for match in BLOCK.finditer(text):
        line = text.count("\n", 0, match.start()) + 1
        yield pytest.param(textwrap.dedent(match.group(2)), id=f"README.md:{line}")


def with_checked_comments(code):
    """The block with every `expression  # literal` line turned into an
    assertion that the expression equals the literal."""
    lines = code.splitlines()
    for statement in ast.parse(code).body:
        if not isinstance(statement, ast.Expr) or statement.lineno != statement.end_lineno:
            continue
        source = lines[statement.lineno - 1]
        expression, hash_sign, comment = source.rpartition("  # ")
        if not hash_sign:
            continue
        try:
            expected = ast.literal_eval(comment.strip())
        except (ValueError, SyntaxError):
            continue
        lines[statement.lineno - 1] = (
            f"_readme_value = ({expression}); "
            f"assert _readme_value == {expected!r}, (_readme_value, {expression!r})"
        )
    return "\n".join(lines) + "\n"


@pytest.mark.parametrize("code", list(python_blocks()))
def test_block_runs_as_written(code, tmp_path):
    needed = {name for name in OPTIONAL if re.search(rf"^\s*import {name}\b", code, re.M)}
    for name in sorted(needed):
        pytest.importorskip(name)
    if code.lstrip().startswith(">>>"):
        test = doctest.DocTestParser().get_doctest(code, {}, "README", str(README), 0)
        runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
        runner.run(test)
        assert runner.failures == 0
        return
    # A file, not -c: process pools that spawn their workers import it again.
    script = tmp_path / "block.py"
    script.write_text(with_checked_comments(code), encoding="utf-8")
    result = subprocess.run(
        [sys.executable, str(script)], capture_output=True, text=True, timeout=300, cwd=tmp_path
    )
    assert result.returncode == 0, result.stderr


def test_every_block_is_found():
    # Each fence of the README that says python is one of the tests above.
    assert len(list(python_blocks())) == README.read_text(encoding="utf-8").count("```python")


def test_failure_report_example_is_the_real_one():
    text = README.read_text(encoding="utf-8")
    example = re.search(
        r"thread '<unnamed>' \(\d+\) panicked at (\S+):(\d+):(\d+):\n *(.*)\n", text
    )
    result = subprocess.run(
        [
            sys.executable,
            "-c",
            "import pwpoly\n"
            "try:\n"
            "    pwpoly.LegendreBasis(2, 3, 3.0).evaluate_at(1.0, [1.0])\n"
            "except BaseException:\n"
            "    pass\n",
        ],
        capture_output=True,
        text=True,
        timeout=60,
    )
    real = re.search(r"panicked at (\S+):(\d+):(\d+):\n(.*)\n", result.stderr)
    file, line, column, message = real.groups()
    assert (file, line, message) == example.group(1, 2, 4), result.stderr
    # GCC places a call at its opening parenthesis, Clang (the wheels) at its
    # first character: the README gives the column of both.
    clang_column, gcc_column = re.search(
        r"column (\d+) above, where GCC\s+gives (\d+)", text
    ).groups()
    assert gcc_column == example.group(3)
    assert column in (clang_column, gcc_column), result.stderr
