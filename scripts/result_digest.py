"""Prints a digest of the bits of every result of pwpoly and pwpoly_numpy over
a fixed grid of arguments: two builds (GCC's and a wheel's, say) that print
the same digest give the same bits.

    python scripts/result_digest.py

Needs NumPy and SciPy. Runs from anywhere: it imports the installed modules.
"""

import hashlib
import sys

import numpy

import pwpoly
import pwpoly_numpy


class Digest:
    def __init__(self) -> None:
        self.hash = hashlib.sha256()
        self.count = 0

    def add(self, values: object, dtype: type = numpy.float64) -> None:
        array = numpy.ascontiguousarray(numpy.asarray(values, dtype=dtype).ravel())
        self.hash.update(array.tobytes())
        self.count += array.size


def main() -> None:
    digest = Digest()
    rng = numpy.random.default_rng(12345)
    for degree in (1, 2, 3, 5, 8, 13, 21, 40):
        for n_t in (1, 2, 3, 7, 16):
            for T in (1.0, 3.0, 0.1, 1e3, 7.25):
                size = n_t * (degree + 1)
                digest.add(pwpoly.get_lagrange_points(degree, n_t, T))
                rows, columns, weights = pwpoly.lagrange_to_legendre_basis_transformation(
                    degree, n_t
                )
                digest.add(rows, numpy.int64)
                digest.add(columns, numpy.int64)
                digest.add(weights)
                basis = pwpoly.LegendreBasis(degree, n_t, T)
                coefficients = rng.standard_normal(size)
                evaluator = pwpoly.LegendreBasisEvaluator(degree, n_t, T)
                evaluator.set_dofs(list(coefficients))
                # Random times, the break points, and times at the very ends.
                times = numpy.concatenate(
                    [
                        rng.uniform(0, T, 40),
                        numpy.linspace(0, T, n_t + 1),
                        [T * (1 - 1e-16), 1e-300],
                    ]
                )
                for t in times:
                    digest.add(basis.evaluate_all_basis_functions(t))
                    digest.add(basis.evaluate_all_basis_function_derivatives(t))
                    digest.add(
                        [
                            basis.evaluate_at(t, list(coefficients)),
                            evaluator.evaluate_at(t),
                            evaluator.evaluate_derivative_at(t),
                        ]
                    )
                columns_of_five = rng.standard_normal((size, 5))
                for values in (coefficients, columns_of_five):
                    digest.add(pwpoly_numpy.evaluate(degree, n_t, T, values, times))
                    digest.add(pwpoly_numpy.evaluate_derivative(degree, n_t, T, values, times))
                digest.add(pwpoly_numpy.lagrange_points(degree, n_t, T))
                for part in pwpoly_numpy.transformation_triplets(degree, n_t):
                    digest.add(part)
                for derivative in (False, True):
                    matrix = pwpoly_numpy.basis_matrix(degree, n_t, T, times, derivative=derivative)
                    digest.add(matrix.data)
                    digest.add(matrix.indices, numpy.int64)
                    digest.add(matrix.indptr, numpy.int64)
    # Long arrays, which the vector kernels take four times at a time.
    coefficients = rng.standard_normal(50 * 12)
    times = rng.uniform(0, 2.0, 200_000)
    digest.add(pwpoly_numpy.evaluate(11, 50, 2.0, coefficients, times))
    digest.add(
        pwpoly_numpy.evaluate_derivative(11, 50, 2.0, numpy.tile(coefficients[:, None], 3), times)
    )
    print(f"Python {sys.version.split()[0]}, {pwpoly.__file__}")
    print(f"{digest.count} values, sha256 {digest.hash.hexdigest()}")


if __name__ == "__main__":
    main()
