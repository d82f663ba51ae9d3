// The nodal-values-to-Legendre transformation of each node family: the local
// weight table and the global matrix it spreads over the grid.
#pragma once

#include <cstdint>
#include <span>

#include "batch/csr_arrays.hpp"
#include "lagrange/square_matrix.hpp"
#include "nodes/node_family.hpp"

namespace pwpoly {

/// The (degree + 1) x (degree + 1) table W: W.at(p, c) is the weight of the
/// value at local node c in the Legendre coefficient of degree p.
/// - equidistant: lagrange_to_legendre_weights(degree), pwpoly's bits;
/// - gauss_legendre: ((2p + 1) / 2 * w_c) * P_p(x_c), exact discrete
///   orthogonality (the rule is exact for degree 2 degree + 1);
/// - gauss_lobatto: the same for p < degree, and (degree / 2 * w_c) *
///   P_degree(x_c) for the top degree, whose discrete norm is 2 / degree;
/// - chebyshev_lobatto: the exact integrals (2p + 1) / 2 * integral of l_c P_p,
///   by a Gauss-Legendre rule of degree + 1 points, with l_c from
///   lagrange_basis_values; O(degree^3).
/// Preconditions as reference_nodes (degree >= 1 for every family but
/// Gauss-Legendre, degree <= max_family_degree for the computed ones).
[[nodiscard]] SquareMatrix family_weight_table(NodeFamily family, index_t degree);

/// The transformation of a grid: row p * n_t + k is the coefficient of P_p on
/// interval k, with degree + 1 entries W[p][c] in columns
/// k * interval_node_step(family, degree) + c, c ascending (row r's entries
/// at r * (degree + 1) + c). Columns shared by neighbouring intervals appear
/// in the rows of both.
struct FamilyTransformation {
    SquareMatrix weights;
    NodeFamily family;
    index_t degree;
    index_t n_t;

    /// (degree + 1) * n_t rows.
    [[nodiscard]] std::uint64_t row_count() const { return std::uint64_t{weights.size} * n_t; }
};

/// Writes rows [first, last) as triplets: the entries of row r at places
/// r * (degree + 1) + c of `rows`, `cols` and `values` (each of
/// row_count() * (degree + 1) elements). Fails with "batch kernel: wrong buffer
/// size" otherwise, or when last > row_count() or first > last.
void fill_family_triplets(const FamilyTransformation& transformation, std::uint64_t first,
                          std::uint64_t last, std::span<std::int64_t> rows,
                          std::span<std::int64_t> cols, std::span<double> values);

/// Writes rows [first, last) into compressed-row arrays with int32 indices:
/// indptr[r + 1] = (r + 1) * (degree + 1), and indptr[0] = 0 when first is 0.
/// Same checks as fill_family_triplets (indptr of row_count() + 1 elements).
void fill_family_csr(const FamilyTransformation& transformation, std::uint64_t first,
                     std::uint64_t last, const batch::CsrArrays<std::int32_t>& out);

}  // namespace pwpoly
