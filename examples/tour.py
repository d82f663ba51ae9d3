"""
A short tour of pwpoly
======================

Builds a piecewise polynomial approximation of a smooth function of time on
[0, T]: samples it at the Lagrange nodes, turns the samples into Legendre
coefficients with the sparse transformation, stores them in an evaluator and
evaluates values and time derivatives. Prints how the error falls as the
degree rises. Needs nothing but pwpoly.
"""

from __future__ import annotations

import math

import pwpoly

T = 2.0
N_T = 8


def f(t: float) -> float:
    return math.exp(-t) * math.sin(3.0 * t)


def df(t: float) -> float:
    return math.exp(-t) * (3.0 * math.cos(3.0 * t) - math.sin(3.0 * t))


def legendre_coefficients(degree: int, n_t: int, nodal_values: list[float]) -> list[float]:
    """Applies the Lagrange-to-Legendre matrix, given as triplets, to nodal values."""
    rows, columns, values = pwpoly.lagrange_to_legendre_basis_transformation(degree, n_t)
    coefficients = [0.0] * (n_t * (degree + 1))
    for row, column, weight in zip(rows, columns, values):
        coefficients[row] += weight * nodal_values[column]
    return coefficients


def piecewise_approximation(degree: int) -> pwpoly.LegendreBasisEvaluator:
    nodes = pwpoly.get_lagrange_points(degree, N_T, T)
    evaluator = pwpoly.LegendreBasisEvaluator(degree, N_T, T)
    evaluator.set_dofs(legendre_coefficients(degree, N_T, [f(t) for t in nodes]))
    return evaluator


def show_basics() -> None:
    print("One piecewise expansion: degree 2 on 3 intervals of [0, 3]")
    basis = pwpoly.LegendreBasis(2, 3, 3.0)
    coefficients = [1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0, 9.0]
    print("  coefficient layout: index k + n_t * i holds P_i on interval k")
    print(f"  value at t = 1.25:          {basis.evaluate_at(1.25, coefficients)!r}")
    evaluator = pwpoly.LegendreBasisEvaluator(2, 3, 3.0)
    evaluator.set_dofs(coefficients)
    print(f"  derivative at t = 1.25:     {evaluator.evaluate_derivative_at(1.25)!r}")
    print(f"  basis values at t = 1.25:   {basis.evaluate_all_basis_functions(1.25)}")
    print(f"  Lagrange nodes (2, 3, 3.0): {pwpoly.get_lagrange_points(2, 3, 3.0)}")
    print()


def show_convergence() -> None:
    print(f"Approximating f(t) = exp(-t) sin(3t) on [0, {T}] with {N_T} intervals")
    print("(errors are maxima over 2001 equally spaced times, interval ends included)")
    print()
    print(f"{'degree':>6}  {'max |error| of f':>18}  {'max |error| of df/dt':>21}")
    times = [T * i / 2000 for i in range(2001)]
    for degree in range(1, 9):
        evaluator = piecewise_approximation(degree)
        value_error = max(abs(evaluator.evaluate_at(t) - f(t)) for t in times)
        derivative_error = max(abs(evaluator.evaluate_derivative_at(t) - df(t)) for t in times)
        print(f"{degree:>6}  {value_error:>18.3e}  {derivative_error:>21.3e}")


def main() -> None:
    show_basics()
    show_convergence()


if __name__ == "__main__":
    main()
