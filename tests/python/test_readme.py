"""The README and the documentation's pages stay true: every Python block in
them runs as written, each in a fresh interpreter, and the results written in
its comments are checked; their relative links lead to files that exist.

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

ROOT = Path(__file__).resolve().parents[2]
README = ROOT / "README.md"
# The pages of the documentation (absent from a tree that has only the tests).
PAGES = [README, *sorted((ROOT / "docs").glob("**/*.md"))]
PAGES = [page for page in PAGES if "_build" not in page.parts]
ERRORS_PAGE = ROOT / "docs" / "errors.md"
BLOCK = re.compile(r"^( *)```python\n(.*?)^\1```", re.S | re.M)
OPTIONAL = ("numpy", "scipy", "pwpoly_numpy", "dask", "distributed")


def python_blocks():
    for page in PAGES:
        text = page.read_text(encoding="utf-8")
        name = page.relative_to(ROOT).as_posix()
        for match in BLOCK.finditer(text):
            line = text.count("\n", 0, match.start()) + 1
            yield pytest.param(textwrap.dedent(match.group(2)), id=f"{name}:{line}")


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
    needed = {name for name in OPTIONAL if re.search(rf"^\s*(import|from) {name}\b", code, re.M)}
    for name in sorted(needed):
        pytest.importorskip(name)
    if code.lstrip().startswith(">>>"):
        test = doctest.DocTestParser().get_doctest(code, {}, "page", str(README), 0)
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
    # Each fence of the pages that says python is one of the tests above.
    fences = sum(page.read_text(encoding="utf-8").count("```python") for page in PAGES)
    assert len(list(python_blocks())) == fences


LINK = re.compile(r"\]\(([^)\s]+)\)")


@pytest.mark.parametrize("page", PAGES, ids=lambda page: page.relative_to(ROOT).as_posix())
def test_relative_links_lead_to_files(page):
    # Links into the gallery lead to pages that the site's build generates
    # from examples/; every other relative link names a file of the tree.
    text = re.sub(r"^( *)```.*?^\1```", "", page.read_text(encoding="utf-8"), flags=re.S | re.M)
    for target in LINK.findall(text):
        path = target.split("#")[0]
        if not path or "://" in target or path.startswith("mailto:"):
            continue
        resolved = (page.parent / path).resolve()
        if "auto_examples" in resolved.parts:
            # A page auto_examples/NAME.rst, or a figure images/sphx_glr_NAME_001.png.
            name = re.sub(r"^sphx_glr_(.*)_\d{3}$", r"\1", resolved.stem)
            example = ROOT / "examples" / f"{name}.py"
            assert name == "index" or example.exists(), (page, target)
            continue
        assert resolved.exists(), (page, target)


def test_failure_report_example_is_the_real_one():
    if not ERRORS_PAGE.exists():
        pytest.skip("the documentation's pages are not in this tree")
    text = ERRORS_PAGE.read_text(encoding="utf-8")
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
    # first character: the page gives the column of both.
    clang_column, gcc_column = re.search(
        r"column (\d+) above, where GCC\s+gives (\d+)", text
    ).groups()
    assert gcc_column == example.group(3)
    assert column in (clang_column, gcc_column), result.stderr


@pytest.mark.parametrize(
    "value, row",
    [
        (-1, "negative unsigned"),
        (-(2**70), "negative unsigned"),
        (2**32, "unsigned from 2³²"),
        (2**64 - 1, "unsigned from 2³²"),
        (2**64, "unsigned of 2⁶⁴"),
        (2**100, "unsigned of 2⁶⁴"),
    ],
)
def test_unsigned_rows_give_the_real_messages(value, row):
    import pwpoly

    if not ERRORS_PAGE.exists():
        pytest.skip("the documentation's pages are not in this tree")
    text = ERRORS_PAGE.read_text(encoding="utf-8")
    shown = re.search(rf"^\| {re.escape(row)}.*?\| `OverflowError` \"(.*?)\"", text, re.M).group(1)
    with pytest.raises(OverflowError) as error:
        pwpoly.sum_as_string(value, 0)
    assert str(error.value) == shown
