// The triplets of the global Lagrange-to-Legendre transformation computed
// straight from the weight table, without building sparse matrices.
#pragma once

#include "lagrange/lagrange_basis.hpp"
#include "lagrange/square_matrix.hpp"
#include "sparse/sparse_matrix_tools.hpp"

namespace pwpoly {

/// A compact description of the triplets that
/// csr_to_triplets(get_transormation_matrix_to_legendre(basis)) returns:
/// the weight table and the grid size, from which triplet m is computed on
/// demand. With d = degree and m = (p * n_t + k) * (d + 1) + c, for p = 0 .. d,
/// k = 0 .. n_t - 1, c = 0 .. d (c fastest), triplet m is
/// (p * n_t + k, k * d + c, W[p][c]): the same values in the same order.
struct TransformationTriplets {
    SquareMatrix weights;
    index_t degree = 0;
    index_t n_t = 0;
    /// (degree + 1)^2 * n_t, the number of triplets.
    index_t count = 0;

    /// Row index of triplet m (m < count), p * n_t + k.
    [[nodiscard]] index_t row(index_t m) const { return m / weights.size; }
    /// Column index of triplet m, k * degree + c.
    [[nodiscard]] index_t col(index_t m) const {
        return (row(m) % n_t) * degree + m % weights.size;
    }
    /// Value of triplet m, W[p][c].
    [[nodiscard]] double value(index_t m) const {
        return weights.at(row(m) / n_t, m % weights.size);
    }
};

/// The description of the transformation of `basis`. Fails exactly as
/// get_transormation_matrix_to_legendre does (see transformation_weights).
/// Allocates only the weight table.
[[nodiscard]] TransformationTriplets transformation_triplets(const LagrangeBasis& basis);

/// The description of the transformation of the grid of `degree` and `n_t`,
/// with every check of LagrangeBasis::create(degree, n_t, T) and of
/// transformation_triplets(basis), in the same order, but without building the
/// nodes, which the triplets do not need: all sizes are checked before the
/// weight table, the only allocation, is computed.
[[nodiscard]] TransformationTriplets transformation_triplets(index_t degree, index_t n_t);

/// The three triplet vectors of `description`, filled directly.
[[nodiscard]] Triplets materialise_triplets(const TransformationTriplets& description);

}  // namespace pwpoly
