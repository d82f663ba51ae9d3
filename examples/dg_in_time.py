"""
Discontinuous Galerkin in time
==============================

dG(q) approximates the solution of u' = f on each of n_t intervals by a
polynomial of degree q, coupled to the previous interval through the upwind
jump: with C the derivative matrix, J the jump matrix, M the mass matrix and e
the basis functions at t = 0+,

    (C + J) u = F + u0 e        for u' = f, u(0) = u0.

1. The scalar test equation u' = lambda u: dG(q) gives u(T-) = R(lambda w)**n_t,
   R the (q, q + 1) Pade approximant of exp, which the script checks against
   the approximant computed exactly in rational arithmetic.
2. The heat equation u_t = u_xx on (0, 1) with u = 0 at both ends and
   u(x, 0) = sin(pi x), with the second-difference Laplacian A on m interior
   points: (kron(C + J, I) - kron(M, A)) U = kron(e, u0), assembled with
   scipy.sparse.kron and solved at once for all intervals. Errors against the
   exact solution of the space-discrete system, exp(mu t) sin(pi x_i) with mu
   the eigenvalue of A for that mode, so that they are the errors of the time
   discretisation alone: the largest over [0, T] falls as w**(q + 1), the one
   at the end of each interval as w**(2q + 1).

Prints the tables and writes dg_in_time.png into the current folder (needs
NumPy, SciPy and matplotlib: python3 -m pip install ".[scipy,plot]").

    python3 examples/dg_in_time.py
"""

from __future__ import annotations

import math
import sys
from fractions import Fraction

try:
    from matplotlib.figure import Figure
except ImportError:
    sys.exit("dg_in_time.py needs matplotlib: python3 -m pip install matplotlib")

import numpy as np
import numpy.typing as npt
import scipy.sparse
import scipy.sparse.linalg

import pwpoly_numpy

FloatArray = npt.NDArray[np.float64]

T = 0.25
POINTS = 63  # interior points of the spatial grid
DEGREES = (0, 1, 2, 3)
STEPS = (2, 4, 8, 16, 32)
SAMPLES = 2001


def pade(q: int, z: Fraction) -> Fraction:
    """The (q, q + 1) Pade approximant of exp at z, in exact arithmetic."""
    m, n = q, q + 1
    f = math.factorial
    p = sum(Fraction(f(m + n - j) * f(m), f(m + n) * f(j) * f(m - j)) * z**j for j in range(m + 1))
    r = sum(
        Fraction(f(m + n - j) * f(n), f(m + n) * f(j) * f(n - j)) * (-z) ** j for j in range(n + 1)
    )
    return Fraction(p / r)


def scalar_end_value(q: int, n_t: int, span: float, lam: float) -> float:
    """u(T-) of dG(q) for u' = lam u, u(0) = 1."""
    system = (
        pwpoly_numpy.derivative_matrix(q, n_t, span)
        + pwpoly_numpy.jump_matrix(q, n_t)
        - lam * pwpoly_numpy.mass_matrix(q, n_t, span)
    )
    start, end = pwpoly_numpy.trace_matrices(q, n_t)
    u = scipy.sparse.linalg.spsolve(system.tocsc(), start[[0], :].toarray().ravel())
    return float((end @ u)[-1])


def pade_check() -> float:
    print("1. u' = lambda u, u(0) = 1 on [0, 1]: dG(q) end value against the (q, q+1) Pade power")
    print()
    print(
        f"{'q':>3} {'n_t':>4} {'lambda':>7} {'dG(q) u(T-)':>22} {'R(lambda w)**n_t':>22} {'rel. diff':>10}"
    )
    worst = 0.0
    for q in DEGREES:
        for n_t, lam in ((1, -2.5), (5, -3.0), (4, 2.0)):
            got = scalar_end_value(q, n_t, 1.0, lam)
            exact = float(pade(q, Fraction(lam) / n_t) ** n_t)
            difference = abs(got - exact) / abs(exact)
            worst = max(worst, difference)
            print(f"{q:>3} {n_t:>4} {lam:>7} {got:>22.16g} {exact:>22.16g} {difference:>10.1e}")
    print()
    print(f"largest relative difference: {worst:.1e}")
    print()
    return worst


def laplacian(points: int) -> tuple[scipy.sparse.csr_array, FloatArray, float]:
    """The second-difference Laplacian on `points` interior points of (0, 1),
    the points, and the eigenvalue of its mode sin(pi x)."""
    h = 1.0 / (points + 1)
    x = np.arange(1, points + 1, dtype=np.float64) * h
    ones = np.ones(points)
    a = scipy.sparse.diags_array([ones[:-1], -2.0 * ones, ones[:-1]], offsets=[-1, 0, 1]) / h**2
    mu = -4.0 / h**2 * math.sin(math.pi * h / 2) ** 2
    return scipy.sparse.csr_array(a), x, mu


def heat_solution(q: int, n_t: int) -> tuple[FloatArray, FloatArray, float]:
    """dG(q) coefficients (N, POINTS) of the heat equation, the spatial points
    and the mode's eigenvalue."""
    a, x, mu = laplacian(POINTS)
    identity = scipy.sparse.identity(POINTS, format="csr")
    time_part = pwpoly_numpy.derivative_matrix(q, n_t, T) + pwpoly_numpy.jump_matrix(q, n_t)
    mass = pwpoly_numpy.mass_matrix(q, n_t, T)
    system = scipy.sparse.kron(time_part, identity) - scipy.sparse.kron(mass, a)
    start, _ = pwpoly_numpy.trace_matrices(q, n_t)
    u0 = np.sin(np.pi * x)
    right = scipy.sparse.kron(start[[0], :].T, u0[:, None]).toarray().ravel()
    u = scipy.sparse.linalg.spsolve(scipy.sparse.csc_array(system), right)
    return np.asarray(u, dtype=np.float64).reshape(-1, POINTS), x, mu


def heat_errors(q: int, n_t: int) -> tuple[float, float]:
    """The largest error over [0, T] and the largest at the interval ends (from
    inside each interval), against exp(mu t) sin(pi x)."""
    coefficients, x, mu = heat_solution(q, n_t)
    times = np.linspace(0.0, T, SAMPLES)
    values = pwpoly_numpy.evaluate(q, n_t, T, coefficients, times)
    exact = np.exp(mu * times)[:, None] * np.sin(np.pi * x)[None, :]
    _, end = pwpoly_numpy.trace_matrices(q, n_t)
    ends = end @ coefficients
    exact_ends = np.exp(mu * T * np.arange(1, n_t + 1) / n_t)[:, None] * np.sin(np.pi * x)[None, :]
    return float(np.max(np.abs(values - exact))), float(np.max(np.abs(ends - exact_ends)))


def order_text(errors: list[float]) -> str:
    """log2 of the ratio of the last two errors above 1e-12 (below it, rounding
    takes over)."""
    rates = [math.log2(a / b) for a, b in zip(errors, errors[1:]) if b > 1e-12]
    return f"{rates[-1]:.2f}" if rates else "-"


def convergence() -> dict[int, list[tuple[float, float]]]:
    print(f"2. u_t = u_xx on (0, 1), u(x, 0) = sin(pi x), T = {T}, {POINTS} interior points")
    print()
    results = {q: [heat_errors(q, n_t) for n_t in STEPS] for q in DEGREES}
    for label, column, expected in (
        ("largest error over [0, T]", 0, "q + 1"),
        ("largest error at the interval ends", 1, "2q + 1"),
    ):
        print(f"{label}, against the exact solution of the space-discrete system:")
        print()
        print(f"{'q':>3} " + " ".join(f"{'n_t=' + str(n):>9}" for n in STEPS) + f" {'order':>6}")
        for q in DEGREES:
            errors = [results[q][i][column] for i in range(len(STEPS))]
            print(f"{q:>3} " + " ".join(f"{e:>9.2e}" for e in errors) + f" {order_text(errors):>6}")
        print(f"(order: from the last two errors above 1e-12; expected: {expected})")
        print()
    return results


def plot(results: dict[int, list[tuple[float, float]]]) -> None:
    figure = Figure(figsize=(12.5, 4.4), layout="constrained")
    left, right = figure.subplots(1, 2)
    n_t = 4
    middle = POINTS // 2
    fine = np.linspace(0.0, T, 801)
    _, x, mu = laplacian(POINTS)
    left.plot(fine, np.exp(mu * fine) * np.sin(np.pi * x[middle]), "k-", label="exact")
    for q, style in ((0, "C0"), (1, "C1")):  # the colours of the right panel
        coefficients, _, _ = heat_solution(q, n_t)
        for k in range(n_t):
            piece = np.linspace(k * T / n_t, (k + 1) * T / n_t, 100)
            piece[-1] = np.nextafter(piece[-1], 0.0)
            values = pwpoly_numpy.evaluate(q, n_t, T, coefficients[:, middle], piece)
            left.plot(piece, values, style, label=f"dG({q}), n_t = {n_t}" if k == 0 else None)
    left.set_xlabel("time t")
    left.set_ylabel("u(t, x = 1/2)")
    left.set_title("dG in time: one polynomial per interval, upwind jumps")
    left.legend()
    widths = [T / n for n in STEPS]
    for q in DEGREES:
        color = f"C{q}"
        right.loglog(
            widths, [e[0] for e in results[q]], "o-", color=color, label=f"dG({q}), max over [0, T]"
        )
        right.loglog(
            widths, [e[1] for e in results[q]], "s--", color=color, label=f"dG({q}), interval ends"
        )
    right.set_xlabel("interval width w")
    right.set_ylabel("largest error")
    right.set_title("Convergence: w^(q+1) over [0, T], w^(2q+1) at the ends")
    right.legend(fontsize="small", loc="upper left", bbox_to_anchor=(1.02, 1.0))
    figure.savefig("dg_in_time.png", dpi=110)
    print("wrote dg_in_time.png")


def main() -> None:
    pade_check()
    plot(convergence())


if __name__ == "__main__":
    main()
