"""
pwpoly with NumPy and SciPy
===========================

Builds the Lagrange-to-Legendre matrix M as a scipy.sparse.csr_array
(pwpoly_numpy.transformation_matrix), applies it to the values of a function
at the Lagrange nodes, and checks the coefficients c = M v against pwpoly:

- the triplets of pwpoly applied by a plain Python loop;
- pwpoly's evaluator at the nodes, which must give back the nodal values;
- the sparse basis matrices (pwpoly_numpy.basis_matrix) times c, which must
  match pwpoly_numpy.evaluate at many times; and evaluate itself, which
  gives pwpoly's evaluator's numbers bit for bit.

Needs numpy and scipy (python3 -m pip install ".[scipy]").
"""

from __future__ import annotations

import numpy as np
import numpy.typing as npt

import pwpoly
import pwpoly_numpy

DEGREE = 4
N_T = 6
T = 3.0

FloatArray = npt.NDArray[np.float64]


def f(t: FloatArray) -> FloatArray:
    return np.asarray(np.exp(-t) * np.sin(3.0 * t), dtype=np.float64)


def df(t: FloatArray) -> FloatArray:
    return np.asarray(np.exp(-t) * (3.0 * np.cos(3.0 * t) - np.sin(3.0 * t)), dtype=np.float64)


def apply_triplets(degree: int, n_t: int, nodal_values: FloatArray) -> FloatArray:
    """M v computed entry by entry from the triplets, without SciPy."""
    rows, columns, values = pwpoly.lagrange_to_legendre_basis_transformation(degree, n_t)
    result = np.zeros((degree + 1) * n_t)
    for row, column, weight in zip(rows, columns, values):
        result[row] += weight * nodal_values[column]
    return result


def report(label: str, a: FloatArray, b: FloatArray) -> None:
    """Prints the largest absolute difference between a and b."""
    print(f"  {label:<60} max {float(np.max(np.abs(a - b))):.3e}")


def main() -> None:
    matrix = pwpoly_numpy.transformation_matrix(DEGREE, N_T)
    print(
        f"Lagrange-to-Legendre matrix for degree {DEGREE} on {N_T} intervals of [0, {T}]: "
        f"{matrix.shape[0]} x {matrix.shape[1]}, {matrix.nnz} stored entries"
    )

    nodes = pwpoly_numpy.lagrange_points(DEGREE, N_T, T)
    nodal_values = f(nodes)
    coefficients: FloatArray = np.asarray(matrix @ nodal_values, dtype=np.float64)

    evaluator = pwpoly.LegendreBasisEvaluator(DEGREE, N_T, T)
    evaluator.set_dofs(coefficients)
    at_nodes = np.array([evaluator.evaluate_at(t) for t in nodes])

    times: FloatArray = np.linspace(0.0, T, 1001, dtype=np.float64)
    # One row per time, one column per coefficient: degree + 1 entries per row.
    values_table = pwpoly_numpy.basis_matrix(DEGREE, N_T, T, times)
    derivatives_table = pwpoly_numpy.basis_matrix(DEGREE, N_T, T, times, derivative=True)
    values = pwpoly_numpy.evaluate(DEGREE, N_T, T, coefficients, times)
    derivatives = pwpoly_numpy.evaluate_derivative(DEGREE, N_T, T, coefficients, times)
    scalar_values = np.array([evaluator.evaluate_at(t) for t in times])

    print()
    print("Agreement with pwpoly (rounding errors only):")
    report(
        "M v (scipy) vs the triplets applied in a loop",
        coefficients,
        apply_triplets(DEGREE, N_T, nodal_values),
    )
    report(f"evaluator vs f at the {nodes.size} nodes", at_nodes, nodal_values)
    report(
        f"basis matrix @ c vs evaluate, {times.size} times",
        np.asarray(values_table @ coefficients, dtype=np.float64),
        values,
    )
    report(
        f"derivative basis matrix @ c vs evaluate_derivative, {times.size} times",
        np.asarray(derivatives_table @ coefficients, dtype=np.float64),
        derivatives,
    )
    identical = bool(np.array_equal(values.view(np.uint64), scalar_values.view(np.uint64)))
    print(f"  evaluate and pwpoly's evaluator agree bit for bit: {identical}")
    print()
    print("Approximation of f(t) = exp(-t) sin(3t):")
    report(f"|p - f|, {times.size} times", values, f(times))
    report(f"|dp/dt - df/dt|, {times.size} times", derivatives, df(times))


if __name__ == "__main__":
    main()
