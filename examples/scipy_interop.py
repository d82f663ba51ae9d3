"""pwpoly with NumPy and SciPy.

Turns the Lagrange-to-Legendre triplets into a scipy.sparse.csr_matrix M,
applies it to the values of a function at the Lagrange nodes, and checks the
coefficients c = M v against pwpoly itself:

- the same triplets applied by a plain Python loop;
- the evaluator at the nodes, which must give back the nodal values;
- the basis-function tables, stacked into an evaluation matrix, times c,
  which must match the evaluator at many times.

Needs numpy and scipy.
"""

from __future__ import annotations

import numpy as np
import numpy.typing as npt
import scipy.sparse

import pwpoly

DEGREE = 4
N_T = 6
T = 3.0

FloatArray = npt.NDArray[np.float64]


def f(t: FloatArray) -> FloatArray:
    return np.asarray(np.exp(-t) * np.sin(3.0 * t), dtype=np.float64)


def df(t: FloatArray) -> FloatArray:
    return np.asarray(np.exp(-t) * (3.0 * np.cos(3.0 * t) - np.sin(3.0 * t)), dtype=np.float64)


def transformation_matrix(degree: int, n_t: int) -> scipy.sparse.csr_matrix:
    """The Lagrange-to-Legendre matrix: (degree + 1) * n_t rows, n_t * degree + 1 columns.

    Row p * n_t + k is the coefficient of P_p on interval k (the coefficient
    layout of pwpoly); column g is Lagrange node g.
    """
    rows, columns, values = pwpoly.lagrange_to_legendre_basis_transformation(degree, n_t)
    shape = ((degree + 1) * n_t, n_t * degree + 1)
    return scipy.sparse.csr_matrix((values, (rows, columns)), shape=shape)


def apply_triplets(degree: int, n_t: int, nodal_values: FloatArray) -> FloatArray:
    """M v computed entry by entry from the triplets, without SciPy."""
    rows, columns, values = pwpoly.lagrange_to_legendre_basis_transformation(degree, n_t)
    result = np.zeros((degree + 1) * n_t)
    for row, column, weight in zip(rows, columns, values):
        result[row] += weight * nodal_values[column]
    return result


def report(label: str, a: FloatArray, b: FloatArray) -> None:
    """Prints the largest absolute difference between a and b."""
    print(f"  {label:<52} max {float(np.max(np.abs(a - b))):.3e}")


def main() -> None:
    matrix = transformation_matrix(DEGREE, N_T)
    print(
        f"Lagrange-to-Legendre matrix for degree {DEGREE} on {N_T} intervals of [0, {T}]: "
        f"{matrix.shape[0]} x {matrix.shape[1]}, {matrix.nnz} stored entries"
    )

    nodes = np.array(pwpoly.get_lagrange_points(DEGREE, N_T, T))
    nodal_values = f(nodes)
    coefficients: FloatArray = np.asarray(matrix @ nodal_values, dtype=np.float64)

    evaluator = pwpoly.LegendreBasisEvaluator(DEGREE, N_T, T)
    evaluator.set_dofs(coefficients)
    at_nodes = np.array([evaluator.evaluate_at(t) for t in nodes])

    basis = pwpoly.LegendreBasis(DEGREE, N_T, T)
    times: FloatArray = np.linspace(0.0, T, 1001, dtype=np.float64)
    # One row per time, one column per coefficient: mostly zeros, so sparse.
    values_table = scipy.sparse.csr_matrix(
        np.array([basis.evaluate_all_basis_functions(t) for t in times])
    )
    derivatives_table = scipy.sparse.csr_matrix(
        np.array([basis.evaluate_all_basis_function_derivatives(t) for t in times])
    )
    values = np.array([evaluator.evaluate_at(t) for t in times])
    derivatives = np.array([evaluator.evaluate_derivative_at(t) for t in times])

    print()
    print("Agreement with pwpoly (rounding errors only):")
    report(
        "M v (scipy) vs the triplets applied in a loop",
        coefficients,
        apply_triplets(DEGREE, N_T, nodal_values),
    )
    report(f"evaluator vs f at the {nodes.size} nodes", at_nodes, nodal_values)
    report(
        f"values table @ c vs evaluator, {times.size} times",
        np.asarray(values_table @ coefficients, dtype=np.float64),
        values,
    )
    report(
        f"derivatives table @ c vs evaluator, {times.size} times",
        np.asarray(derivatives_table @ coefficients, dtype=np.float64),
        derivatives,
    )
    print()
    print("Approximation of f(t) = exp(-t) sin(3t):")
    report(f"|p - f|, {times.size} times", values, f(times))
    report(f"|dp/dt - df/dt|, {times.size} times", derivatives, df(times))


if __name__ == "__main__":
    main()
