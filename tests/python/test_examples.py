"""The examples run and print what they promise."""

import re
import subprocess
import sys
from pathlib import Path

import pytest

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"


def run_example(name, *args):
    result = subprocess.run(
        [sys.executable, str(EXAMPLES / name), *args],
        capture_output=True,
        text=True,
        timeout=300,
        check=False,
    )
    assert result.returncode == 0, result.stderr
    return result.stdout


def test_tour_errors_fall_as_the_degree_rises():
    output = run_example("tour.py")
    assert "value at t = 1.25:          -1.5" in output
    table = [
        line.split() for line in output.splitlines() if re.fullmatch(r"\s*\d+(\s+\S+){2}", line)
    ]
    assert [int(row[0]) for row in table] == list(range(1, 9))
    for column in (1, 2):
        errors = [float(row[column]) for row in table]
        assert all(later < earlier for earlier, later in zip(errors, errors[1:]))
    assert float(table[-1][1]) < 1e-10


def test_scipy_matrix_agrees_with_the_module():
    pytest.importorskip("scipy")
    output = run_example("scipy_interop.py")
    assert "30 x 25, 150 stored entries" in output
    agreement, approximation = output.split("Approximation of")
    differences = [float(x) for x in re.findall(r"max (\S+)", agreement)]
    assert len(differences) == 4
    assert max(differences) < 1e-13
    errors = [float(x) for x in re.findall(r"max (\S+)", approximation)]
    assert len(errors) == 2
    assert 0 < errors[0] < 1e-3
    assert 0 < errors[1] < 1e-1


def test_plots_are_written_into_the_given_folder(tmp_path):
    pytest.importorskip("matplotlib")
    folder = tmp_path / "pictures"
    run_example("plot_approximation.py", str(folder))
    for name in ("approximation.png", "basis_functions.png"):
        picture = (folder / name).read_bytes()
        assert picture.startswith(b"\x89PNG\r\n\x1a\n")
        assert len(picture) > 20_000


def test_dg_in_time_matches_pade_and_converges(tmp_path):
    pytest.importorskip("scipy")
    pytest.importorskip("matplotlib")
    result = subprocess.run(
        [sys.executable, str(EXAMPLES / "dg_in_time.py")],
        capture_output=True,
        text=True,
        timeout=300,
        check=False,
        cwd=tmp_path,
    )
    assert result.returncode == 0, result.stderr
    output = result.stdout
    assert float(re.search(r"largest relative difference: (\S+)", output).group(1)) < 1e-13
    # The last column of each convergence table is the observed order, for q = 0 ... 3.
    orders = [
        float(line.split()[-1])
        for line in output.splitlines()
        if re.fullmatch(r"\s*[0-3](\s+\S+){6}", line)
    ]
    over_time, at_ends = orders[:4], orders[4:]
    assert all(abs(order - (q + 1)) < 0.2 for q, order in enumerate(over_time))
    assert all(order > 2 * q + 1 - 0.2 for q, order in enumerate(at_ends))
    picture = (tmp_path / "dg_in_time.png").read_bytes()
    assert picture.startswith(b"\x89PNG\r\n\x1a\n") and len(picture) > 20_000


@pytest.mark.parametrize(
    "name, limits",
    [
        # The derivatives of the interpolant lose accuracy order by order.
        ("trajectory.py", {"position": 1e-4, "velocity": 1e-2, "acceleration": 0.2}),
        # The fit's residual is the noise's size, its error well below it.
        ("least_squares.py", {"residual": 0.06, "fit": 0.1}),
    ],
)
def test_guide_examples_print_small_errors_and_draw(name, limits, tmp_path):
    pytest.importorskip("scipy")
    pytest.importorskip("matplotlib")
    result = subprocess.run(
        [sys.executable, str(EXAMPLES / name)],
        capture_output=True,
        text=True,
        timeout=300,
        check=False,
        cwd=tmp_path,
    )
    assert result.returncode == 0, result.stderr
    for word, limit in limits.items():
        line = next(line for line in result.stdout.splitlines() if word in line)
        assert float(re.findall(r"\d\.\d+(?:e[-+]\d+)?", line)[0]) < limit, line
    picture = (tmp_path / name.replace(".py", ".png")).read_bytes()
    assert picture.startswith(b"\x89PNG\r\n\x1a\n") and len(picture) > 20_000
