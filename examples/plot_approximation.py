"""
Piecewise approximation and basis functions
===========================================

Writes two PNG files into the folder given on the command line (default: the
current folder):

- approximation.png: a function and its piecewise approximation (values at the
  Lagrange nodes turned into Legendre coefficients), and below them the time
  derivative and the derivative of the approximation, which jumps at the
  break points between intervals;
- basis_functions.png: the Legendre basis functions of one interval, and the
  Lagrange (nodal) basis functions of the same interval, which are obtained
  from the Lagrange-to-Legendre matrix.

The curves are evaluated on whole arrays of times with pwpoly_numpy, the NumPy
companion of pwpoly. Needs matplotlib (python3 -m pip install ".[plot]"),
which brings NumPy.

    python3 examples/plot_approximation.py [OUTPUT_FOLDER]
"""

from __future__ import annotations

import argparse
import sys
from pathlib import Path

try:
    from matplotlib.axes import Axes
    from matplotlib.figure import Figure
except ImportError:
    sys.exit("plot_approximation.py needs matplotlib: python3 -m pip install matplotlib")

import numpy as np
import numpy.typing as npt

import pwpoly_numpy

FloatArray = npt.NDArray[np.float64]

SAMPLES_PER_INTERVAL = 120


def f(t: FloatArray) -> FloatArray:
    return np.asarray(np.exp(-t) * np.sin(3.0 * t), dtype=np.float64)


def df(t: FloatArray) -> FloatArray:
    return np.asarray(np.exp(-t) * (3.0 * np.cos(3.0 * t) - np.sin(3.0 * t)), dtype=np.float64)


def interval_times(n_t: int, T: float, k: int) -> FloatArray:
    """Sample times on interval k, from its left end to just below its right end.

    A time exactly on a break point belongs to one interval only, so each
    piece is drawn from its own samples and the jumps between pieces show.
    """
    a = k * T / n_t
    b = (k + 1) * T / n_t
    times = np.linspace(a, b, SAMPLES_PER_INTERVAL + 1, dtype=np.float64)
    times[-1] = np.nextafter(b, a)
    return times


def all_times(n_t: int, T: float) -> FloatArray:
    return np.linspace(0.0, T, n_t * SAMPLES_PER_INTERVAL + 1, dtype=np.float64)


def legendre_coefficients(degree: int, n_t: int, nodal_values: FloatArray) -> FloatArray:
    """Applies the Lagrange-to-Legendre matrix, given as triplets, to nodal values."""
    rows, columns, values = pwpoly_numpy.transformation_triplets(degree, n_t)
    contributions = values * nodal_values[columns]
    sums = np.bincount(rows, weights=contributions, minlength=n_t * (degree + 1))
    return np.asarray(sums, dtype=np.float64)


def mark_break_points(axes: Axes, n_t: int, T: float) -> None:
    for k in range(n_t + 1):
        axes.axvline(
            k * T / n_t,
            color="0.6",
            linestyle="--",
            linewidth=0.8,
            zorder=0,
            label="interval ends" if k == 0 else None,
        )


def plot_approximation(path: Path, degree: int, n_t: int, T: float) -> None:
    nodes = pwpoly_numpy.lagrange_points(degree, n_t, T)
    nodal_values = f(nodes)
    coefficients = legendre_coefficients(degree, n_t, nodal_values)
    exact_times = all_times(n_t, T)
    # Row k: the samples of interval k.
    pieces = np.array([interval_times(n_t, T, k) for k in range(n_t)])
    values = pwpoly_numpy.evaluate(degree, n_t, T, coefficients, pieces)
    derivatives = pwpoly_numpy.evaluate_derivative(degree, n_t, T, coefficients, pieces)

    figure = Figure(figsize=(9.0, 7.0), layout="constrained")
    value_axes, derivative_axes = figure.subplots(2, 1, sharex=True)
    figure.suptitle(
        f"Piecewise polynomial approximation: degree {degree} on {n_t} intervals of [0, {T:g}]"
    )

    value_axes.plot(
        exact_times,
        f(exact_times),
        color="black",
        linewidth=2.5,
        alpha=0.35,
        label=r"$f(t) = e^{-t} \sin 3t$",
    )
    for k in range(n_t):
        value_axes.plot(
            pieces[k],
            values[k],
            color="tab:blue",
            linewidth=1.5,
            label="approximation" if k == 0 else None,
        )
    value_axes.plot(
        nodes,
        nodal_values,
        "o",
        color="tab:blue",
        markersize=5,
        label="Lagrange nodes (interpolated values)",
    )
    mark_break_points(value_axes, n_t, T)
    value_axes.set_title("Values: pwpoly_numpy.evaluate")
    value_axes.set_ylabel("value")
    value_axes.legend(loc="upper right")

    derivative_axes.plot(
        exact_times,
        df(exact_times),
        color="black",
        linewidth=2.5,
        alpha=0.35,
        label=r"$df/dt$",
    )
    for k in range(n_t):
        derivative_axes.plot(
            pieces[k],
            derivatives[k],
            color="tab:red",
            linewidth=1.5,
            label="derivative of the approximation" if k == 0 else None,
        )
    mark_break_points(derivative_axes, n_t, T)
    derivative_axes.set_title(
        "Time derivatives: pwpoly_numpy.evaluate_derivative, one piece per interval"
    )
    derivative_axes.set_xlabel("time t")
    derivative_axes.set_ylabel("time derivative")
    derivative_axes.legend(loc="upper right")

    figure.savefig(path, dpi=110)


def plot_basis_functions(path: Path, degree: int, n_t: int, T: float, k: int) -> None:
    nodes = pwpoly_numpy.lagrange_points(degree, n_t, T)
    rows, columns, values = pwpoly_numpy.transformation_triplets(degree, n_t)
    times = all_times(n_t, T)
    pieces = np.array([interval_times(n_t, T, j) for j in range(n_t)])
    colors = ["tab:blue", "tab:orange", "tab:green", "tab:red", "tab:purple", "tab:brown"]
    count = n_t * (degree + 1)

    figure = Figure(figsize=(11.0, 6.0), layout="constrained")
    legendre_axes, lagrange_axes = figure.subplots(1, 2, sharey=True)
    figure.suptitle(
        f"Basis functions of interval {k} (degree {degree}, {n_t} intervals of [0, {T:g}])"
    )

    # Legendre: basis function (k, i) has the single coefficient 1 at index
    # k + n_t * i; all degree + 1 of them are evaluated at once, one column
    # each. They are drawn on interval k only: elsewhere all of them are zero,
    # which one black line shows (coloured lines there would hide each other).
    legendre_columns = np.eye(count)[:, [k + n_t * i for i in range(degree + 1)]]
    legendre_values = pwpoly_numpy.evaluate(degree, n_t, T, legendre_columns, pieces[k])
    for i in range(degree + 1):
        legendre_axes.plot(
            pieces[k],
            legendre_values[:, i],
            color=colors[i % len(colors)],
            label=f"$P_{{{i}}}$ on interval {k}: coefficient index {k + n_t * i}",
        )
    for j in range(n_t):
        if j != k:
            legendre_axes.plot(
                pieces[j],
                np.zeros(pieces[j].size),
                color="black",
                linewidth=2.0,
                label=f"all {degree + 1} functions: 0 on the other intervals" if j == 0 else None,
            )
    mark_break_points(legendre_axes, n_t, T)
    legendre_axes.set_title(f"Legendre basis: $P_i$ on interval {k}, zero elsewhere")
    legendre_axes.set_xlabel("time t")
    legendre_axes.set_ylabel("basis function value")
    legendre_axes.legend(loc="upper center", bbox_to_anchor=(0.5, -0.16), fontsize="small", ncol=2)

    # Lagrange: the basis function of node g has the nodal values e_g, so its
    # Legendre coefficients are column g of the transformation.
    lagrange_columns = np.zeros((count, degree + 1))
    for c in range(degree + 1):
        in_column = columns == k * degree + c
        lagrange_columns[rows[in_column], c] = values[in_column]
    lagrange_values = pwpoly_numpy.evaluate(degree, n_t, T, lagrange_columns, times)
    for c in range(degree + 1):
        g = k * degree + c
        shared = ""
        if c == 0 and k > 0:
            shared = f" (shared with interval {k - 1})"
        elif c == degree and k + 1 < n_t:
            shared = f" (shared with interval {k + 1})"
        lagrange_axes.plot(
            times,
            lagrange_values[:, c],
            color=colors[c % len(colors)],
            label=f"node {g}{shared}",
        )
        lagrange_axes.plot([nodes[g]], [1.0], "o", color=colors[c % len(colors)])
    lagrange_axes.plot(nodes, np.zeros(nodes.size), "k|", markersize=12, label="Lagrange nodes")
    mark_break_points(lagrange_axes, n_t, T)
    lagrange_axes.set_title("Lagrange basis: 1 at its own node, 0 at the others")
    lagrange_axes.set_xlabel("time t")
    lagrange_axes.set_ylabel("basis function value")
    lagrange_axes.yaxis.set_tick_params(labelleft=True)
    lagrange_axes.legend(loc="upper center", bbox_to_anchor=(0.5, -0.16), fontsize="small", ncol=2)

    figure.savefig(path, dpi=110)


def main() -> None:
    parser = argparse.ArgumentParser(
        description="Pictures of a piecewise approximation and of the basis functions."
    )
    parser.add_argument("folder", nargs="?", default=".", help="where to write the PNG files")
    folder = Path(parser.parse_args().folder)
    folder.mkdir(parents=True, exist_ok=True)

    plot_approximation(folder / "approximation.png", degree=2, n_t=4, T=3.0)
    plot_basis_functions(folder / "basis_functions.png", degree=3, n_t=3, T=3.0, k=1)
    for name in ("approximation.png", "basis_functions.png"):
        print(folder / name)


if __name__ == "__main__":
    main()
