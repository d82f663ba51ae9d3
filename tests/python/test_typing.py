"""The type stub: it matches the module, it is precise, and the examples pass
mypy --strict against it."""

import importlib.util
import re
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

pytest.importorskip("mypy")

ROOT = Path(__file__).resolve().parents[2]

# Accepted by mypy and by the module.
ACCEPTED = textwrap.dedent(
    """
    import array

    import numpy

    import pwpoly


    class Index:
        def __index__(self) -> int:
            return 3


    basis = pwpoly.LegendreBasis(2, 3, 3.0)
    value: float = basis.evaluate_at(1.25, [1, 2.5, True, 4, 5, 6, 7, 8, 9])
    basis.evaluate_at(t=1, legendre_vals=(1.0,) * 9)
    basis.evaluate_at(1.25, range(9))
    basis.evaluate_at(1.25, bytes(9))
    basis.evaluate_at(1.25, array.array("d", [0.0] * 9))
    basis.evaluate_at(numpy.float64(1.25), numpy.zeros(9))
    table: list[float] = basis.evaluate_all_basis_functions(True)
    table = basis.evaluate_all_basis_function_derivatives(t=0.5)
    evaluator = pwpoly.LegendreBasisEvaluator(degree=2, n_t=numpy.uint32(3), T=3)
    evaluator.set_dofs(legendre_vals=table)
    value = evaluator.evaluate_at(0.5) + evaluator.evaluate_derivative_at(0.5)
    nodes: list[float] = pwpoly.get_lagrange_points(2, 3, 1.0)
    rows, columns, weights = pwpoly.lagrange_to_legendre_basis_transformation(2, n_t=3)
    first: int = rows[0] + columns[0]
    text: str = pwpoly.sum_as_string(b=numpy.uint8(1), a=Index())
    nodes = pwpoly.get_lagrange_points(Index(), Index(), T=Index())
    value = basis.evaluate_at(Index(), [Index()] * 9)
    """
)

# Each line is refused by mypy.
REFUSED = textwrap.dedent(
    """
    basis.evaluate_at(1.25, "123456789")
    basis.evaluate_at(1.25, {0: 1.0})
    basis.evaluate_at(1.25, {1.0, 2.0})
    evaluator.set_dofs(x for x in table)
    basis.evaluate_at("1.25", table)
    evaluator.evaluate_at(1.0, 2.0)
    pwpoly.sum_as_string(1.0, 2)
    pwpoly.get_lagrange_points(2, 3, t=1.0)
    pwpoly.LegendreBasis(2.0, 3, 1.0)
    wrong_value: str = evaluator.evaluate_at(0.5)
    wrong_table: list[int] = basis.evaluate_all_basis_functions(0.5)
    wrong_weight: int = weights[0]
    nothing: int = evaluator.set_dofs(table)
    class Derived(pwpoly.LegendreBasis): ...
    """
)


def run_module(*args):
    return subprocess.run(
        [sys.executable, "-m", *args],
        capture_output=True,
        text=True,
        cwd=ROOT,
        timeout=600,
        check=False,
    )


@pytest.mark.parametrize("module", ["pwpoly", "pwpoly_runtime"])
def test_stub_matches_the_module(module):
    result = run_module("mypy.stubtest", module)
    assert result.returncode == 0, result.stdout + result.stderr


def test_accepted_usage_runs():
    pytest.importorskip("numpy")
    exec(compile(ACCEPTED, "accepted", "exec"), {})


def test_stub_is_precise_and_examples_pass_strict(tmp_path):
    usage = tmp_path / "usage.py"
    usage.write_text(ACCEPTED + REFUSED)
    examples = [ROOT / "examples" / "tour.py", ROOT / "examples" / "scipy_interop.py"]
    if importlib.util.find_spec("matplotlib") is not None:
        examples.append(ROOT / "examples" / "plot_approximation.py")
        examples.append(ROOT / "examples" / "dg_in_time.py")
        examples.append(ROOT / "examples" / "trajectory.py")
        examples.append(ROOT / "examples" / "least_squares.py")
    result = run_module(
        "mypy", "--strict", "--cache-dir", str(tmp_path / "cache"), *map(str, examples), str(usage)
    )
    reported = result.stdout.splitlines()
    errors = [line for line in reported if ": error:" in line]
    assert not [line for line in errors if not line.startswith(str(usage))], result.stdout
    wrong_lines = {int(re.match(r".*?:(\d+):", line).group(1)) for line in errors}
    first_refused = len(ACCEPTED.splitlines()) + 1
    refused_lines = set(range(first_refused + 1, first_refused + len(REFUSED.splitlines())))
    assert wrong_lines == refused_lines, result.stdout


# A user's script, outside the source tree, that handles an internal failure;
# the last line is refused (PanicException is no Exception).
RUNTIME_USAGE = textwrap.dedent(
    """
    import pwpoly
    from pwpoly_runtime import PanicException

    try:
        pwpoly.LegendreBasis(2, 3, 3.0).evaluate_at(1.0, [1.0])
    except PanicException as error:
        failure: BaseException = error
    wrong: Exception = PanicException("message")
    """
)


def test_installed_runtime_module_is_typed(tmp_path):
    script = tmp_path / "user_script.py"
    script.write_text(RUNTIME_USAGE)
    result = subprocess.run(
        [
            sys.executable,
            "-m",
            "mypy",
            "--strict",
            "--cache-dir",
            str(tmp_path / "cache"),
            str(script),
        ],
        capture_output=True,
        text=True,
        cwd=tmp_path,
        timeout=600,
        check=False,
    )
    errors = [line for line in result.stdout.splitlines() if ": error:" in line]
    last_line = len(RUNTIME_USAGE.splitlines())
    assert [line.split(":")[1] for line in errors] == [str(last_line)], result.stdout
    assert "incompatible types" in errors[0].lower(), result.stdout
