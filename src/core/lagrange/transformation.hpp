// The global Lagrange-to-Legendre transformation: the slabs B_0 .. B_degree
// stacked vertically into one compressed-row matrix.
#pragma once

#include "lagrange/lagrange_basis.hpp"
#include "lagrange/square_matrix.hpp"
#include "sparse/csr_matrix.hpp"

namespace pwpoly {

/// M, the ((degree + 1) * n_t) x N matrix that maps the values at the N global
/// nodes (in node order) to Legendre coefficients in the coefficient layout
/// (coefficient of degree p on interval k at position p * n_t + k). Row
/// p * n_t + k holds exactly degree + 1 stored entries, at columns
/// k * degree + c for c = 0 .. degree, with values W[p][c]; explicit zeros are
/// kept. Independent of T. Built by stacking the slabs of
/// to_legendre_basis_matrix_for_pol_degree with csr_block_from_ndarray; the
/// weight table is computed once and shared by all slabs (the slabs are the
/// same as if each computed it anew).
/// Fails as transformation_weights does, before any slab is built.
[[nodiscard]] CsrMatrix get_transormation_matrix_to_legendre(const LagrangeBasis& basis);

/// The number of stored entries, (degree + 1)^2 * n_t, of the transformation
/// of a grid, after the checks that refuse it without computing anything.
/// Fails, in this order, with "Lagrange to Legendre conversion not meaningful
/// for degree 0" (also with n_t 0); "capacity overflow" for the largest
/// degree, whose degree + 1 slabs cannot be counted (even with n_t 0);
/// "capacity overflow" when the entries do not fit one vector of values
/// (8 bytes each).
[[nodiscard]] index_t check_transformation_size(index_t degree, index_t n_t);

/// The weight table that all slabs of the transformation of `basis` share,
/// after every check that can refuse the transformation: those of
/// check_transformation_size, so that an over-large request fails before
/// anything is computed; then the failures of lagrange_to_legendre_weights;
/// then "assertion failed: j < self.ncols" for a record whose points are too
/// few for its grid.
[[nodiscard]] SquareMatrix transformation_weights(const LagrangeBasis& basis);

}  // namespace pwpoly
