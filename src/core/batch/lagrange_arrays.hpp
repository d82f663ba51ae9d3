// The Lagrange nodes and the Lagrange-to-Legendre transformation written into
// caller-owned arrays: 64-bit triplets, or the compressed-row arrays of the
// matrix itself.
#pragma once

#include <cstdint>
#include <span>

#include "batch/csr_arrays.hpp"
#include "lagrange/transformation_triplets.hpp"

namespace pwpoly::batch {

/// The rows first ... last - 1 of a matrix: the part of it that one call
/// writes, so that a long fill can be done piece by piece.
struct RowRange {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
};

/// True when get_lagrange_points(degree, n_t, T) fits the size policy: the
/// checks of lagrange_node_count (n_t <= 134217727 for its interval list,
/// n_t * degree + 1 nodes of 8 bytes in one vector, degree + 1 without
/// wrap-around when n_t >= 1), answered without failing.
[[nodiscard]] bool lagrange_points_fit(index_t degree, index_t n_t);

/// True when transformation_triplets(degree, n_t) passes all its checks but
/// the inversion of the weight table: those of lagrange_points_fit, degree
/// >= 1, and (degree + 1)^2 * n_t stored values of 8 bytes in one vector.
[[nodiscard]] bool transformation_fits(index_t degree, index_t n_t);

/// Writes the nodes of intervals first ... last - 1 of
/// LagrangeBasis::create(degree, n_t, T) into their places of `out` (global
/// node order; T itself too when last == n_t), with the same bits
/// (for_each_lagrange_point_of). Fails with "batch kernel: wrong buffer size"
/// unless out.size() is n_t * degree + 1 and first <= last <= n_t.
void fill_lagrange_points(index_t degree, index_t n_t, double T, std::span<double> out,
                          index_t first, index_t last);

/// Writes the triplets of the matrix rows in `part` into their places of
/// `rows`, `cols` and `values`: triplet m as materialise_triplets gives it,
/// with the indices widened to 64 bits. Fails with "batch kernel: wrong buffer
/// size" unless each span holds transformation.count elements and `part` lies
/// within the (degree + 1) * n_t rows.
void fill_transformation_triplets(const TransformationTriplets& transformation,
                                  std::span<std::int64_t> rows, std::span<std::int64_t> cols,
                                  std::span<double> values, RowRange part);

/// Writes the transformation as a compressed-row matrix of (degree + 1) * n_t
/// rows: the same entries in the same order as the triplets, with
/// indptr[r] = r * (degree + 1). Fails with "batch kernel: wrong buffer size"
/// unless data and indices hold transformation.count elements and indptr one
/// more than the row count. Writes the rows in `part` only (indptr[0] with the
/// part that starts at row 0).
void fill_transformation_csr(const TransformationTriplets& transformation,
                             const CsrArrays<std::int32_t>& out, RowRange part);

}  // namespace pwpoly::batch
