// The Lagrange nodes and the Lagrange-to-Legendre transformation written into
// caller-owned arrays: 64-bit triplets, or the compressed-row arrays of the
// matrix itself.
#pragma once

#include <cstdint>
#include <span>

#include "batch/csr_arrays.hpp"
#include "lagrange/transformation_triplets.hpp"

namespace pwpoly::batch {

/// True when get_lagrange_points(degree, n_t, T) fits the size policy: the
/// checks of lagrange_node_count (n_t <= 134217727 for its interval list,
/// n_t * degree + 1 nodes of 8 bytes in one vector, degree + 1 without
/// wrap-around when n_t >= 1), answered without failing.
[[nodiscard]] bool lagrange_points_fit(index_t degree, index_t n_t);

/// True when transformation_triplets(degree, n_t) passes all its checks but
/// the inversion of the weight table: those of lagrange_points_fit, degree
/// >= 1, and (degree + 1)^2 * n_t stored values of 8 bytes in one vector.
[[nodiscard]] bool transformation_fits(index_t degree, index_t n_t);

/// Writes the n_t * degree + 1 nodes of LagrangeBasis::create(degree, n_t, T)
/// into `out`, in global node order, with the same bits (for_each_lagrange_point).
/// Fails with "batch kernel: wrong buffer size" unless out.size() is
/// n_t * degree + 1.
void fill_lagrange_points(index_t degree, index_t n_t, double T, std::span<double> out);

/// Writes the triplets of `transformation` into `rows`, `cols` and `values`:
/// triplet m as materialise_triplets gives it, with the indices widened to
/// 64 bits. Fails with "batch kernel: wrong buffer size" unless each span holds
/// transformation.count elements.
void fill_transformation_triplets(const TransformationTriplets& transformation,
                                  std::span<std::int64_t> rows, std::span<std::int64_t> cols,
                                  std::span<double> values);

/// Writes the transformation as a compressed-row matrix of (degree + 1) * n_t
/// rows: the same entries in the same order as the triplets, with
/// indptr[r] = r * (degree + 1). Fails with "batch kernel: wrong buffer size"
/// unless data and indices hold transformation.count elements and indptr one
/// more than the row count.
void fill_transformation_csr(const TransformationTriplets& transformation,
                             const CsrArrays<std::int32_t>& out);

}  // namespace pwpoly::batch
