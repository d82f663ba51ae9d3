"""
Least squares with the design matrix
====================================

Noisy measurements of a signal at 400 random times are fitted by a piecewise
cubic on 8 intervals of [0, 4]. ``pwpoly_numpy.basis_matrix`` gives the design
matrix B (one row per measurement time, 4 stored entries per row), and
``scipy.sparse.linalg.lsqr`` minimises ``|B c - y|`` over the Legendre
coefficients c, which ``pwpoly_numpy.evaluate`` and
``evaluate_derivative`` then evaluate anywhere. The pieces are fitted
independently, so the fit may jump at the interval ends. The script prints
the residual and the errors against the noise-free signal, and writes
least_squares.png. Needs NumPy, SciPy and matplotlib
(python3 -m pip install ".[scipy,plot]").
"""

from __future__ import annotations

import sys
from typing import Any

try:
    from matplotlib.figure import Figure
except ImportError:
    sys.exit("least_squares.py needs matplotlib: python3 -m pip install matplotlib")

import numpy as np
import numpy.typing as npt
import scipy.sparse.linalg

import pwpoly_numpy

FloatArray = npt.NDArray[np.float64]
# What NumPy's functions of times return, as every NumPy version types it.
Times = npt.NDArray[np.floating[Any]]

DEGREE, N_T, T = 3, 8, 4.0
NOISE = 0.05


def signal(t: Times) -> FloatArray:
    return np.asarray(np.sin(2.0 * t) * np.exp(-0.3 * t), dtype=np.float64)


def main() -> None:
    generator = np.random.default_rng(7)
    times = np.sort(generator.uniform(0.0, T, 400))
    measured = signal(times) + NOISE * generator.standard_normal(times.size)

    design = pwpoly_numpy.basis_matrix(DEGREE, N_T, T, times)
    coefficients = scipy.sparse.linalg.lsqr(design, measured, atol=1e-12, btol=1e-12)[0]
    residual = design @ coefficients - measured
    print(f"design matrix {design.shape[0]} x {design.shape[1]}, {design.nnz} stored entries")
    print(f"root mean square residual {np.sqrt(np.mean(residual**2)):.4f} (noise {NOISE})")

    fine = np.linspace(0.0, T, 1601)
    fit = pwpoly_numpy.evaluate(DEGREE, N_T, T, coefficients, fine)
    slope = pwpoly_numpy.evaluate_derivative(DEGREE, N_T, T, coefficients, fine)
    error = np.max(np.abs(np.subtract(fit, signal(fine))))
    print(f"largest error of the fit against the signal {error:.3f}")

    figure = Figure(figsize=(10.0, 6.5), layout="constrained")
    top, bottom = figure.subplots(2, 1, sharex=True)
    top.plot(times, measured, ".", color="0.6", markersize=4, label="measurements")
    top.plot(fine, signal(fine), color="black", linewidth=1.0, label="signal without noise")
    top.plot(fine, fit, color="tab:blue", linewidth=1.8, label="least-squares fit")
    bottom.plot(
        fine,
        2.0 * np.cos(2.0 * fine) * np.exp(-0.3 * fine) - 0.3 * signal(fine),
        color="black",
        linewidth=1.0,
        label="derivative of the signal",
    )
    bottom.plot(fine, slope, color="tab:red", label="derivative of the fit")
    for axes in (top, bottom):
        for k in range(N_T + 1):
            axes.axvline(k * T / N_T, color="0.8", linestyle="--", linewidth=0.8, zorder=0)
    top.set_ylabel("value")
    top.set_title(f"Piecewise cubic fit on {N_T} intervals (dashed: interval ends)")
    top.legend(loc="upper right", fontsize="small")
    bottom.set_xlabel("time t")
    bottom.set_ylabel("time derivative")
    bottom.set_title("Time derivative of the fit: pwpoly_numpy.evaluate_derivative")
    bottom.legend(loc="upper right", fontsize="small")
    figure.savefig("least_squares.png", dpi=100)
    print("wrote least_squares.png")


if __name__ == "__main__":
    main()
