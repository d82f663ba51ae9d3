// The degree-p slab of the Lagrange-to-Legendre transformation: row p of the
// weight table spread over all intervals of the grid.
#pragma once

#include "lagrange/lagrange_basis.hpp"
#include "lagrange/square_matrix.hpp"
#include "sparse/csr_matrix.hpp"

namespace pwpoly {

/// The column count of the transformation of `basis`, the length N of its
/// points; fails with "assertion failed: j < self.ncols" when a column
/// k * degree + c of some interval would not be below N (never for a record
/// built by LagrangeBasis::create, where N = n_t * degree + 1).
[[nodiscard]] index_t transformation_columns(const LagrangeBasis& basis);

/// B_p: the n_t x N matrix mapping the N global node values to the n_t Legendre
/// coefficients of degree p, one per interval. Row k holds exactly degree + 1
/// stored entries, at columns k * degree + c for c = 0 .. degree ascending,
/// with values W[p][c]; exact zeros of W are stored entries. Neighbouring rows
/// share column (k + 1) * degree.
/// Fails, in this order: "Lagrange to Legendre conversion not meaningful for
/// degree 0" (for every n_t and p), the failures of the weight table
/// (lagrange_to_legendre_weights), "Matrix slicing out of bounds." when
/// p > degree, and "capacity overflow" when the entries do not fit.
/// Computes W anew on every call.
[[nodiscard]] CsrMatrix to_legendre_basis_matrix_for_pol_degree(const LagrangeBasis& basis,
                                                                index_t p);

/// The same B_p from a weight table computed once for basis.degree, so that the
/// slabs of one transformation share it. Fails with the equality assertion
/// "weight table of another degree" unless weights.size == basis.degree + 1,
/// with "Matrix slicing out of bounds." when p > basis.degree, and with
/// "capacity overflow" when the entries do not fit.
[[nodiscard]] CsrMatrix legendre_slab(const LagrangeBasis& basis, const SquareMatrix& weights,
                                      index_t p);

}  // namespace pwpoly
