// Inverses of small dense matrices: closed-form cofactors for 4 x 4, Gaussian
// elimination with partial pivoting beyond, each with a fixed operation order.
#pragma once

#include <optional>

#include "lagrange/square_matrix.hpp"

namespace pwpoly {

/// Inverse of a 4 x 4 matrix by cofactors. K[r][c], the cofactor of a(r, c), is
/// the signed 3 x 3 minor summed as six triple products; det = a(0,0) K[0][0] +
/// a(1,0) K[1][0] + a(2,0) K[2][0] + a(3,0) K[3][0], summed in this order; the
/// inverse is K[c][r] * (1.0 / det), one reciprocal for all sixteen entries.
/// Returns nothing when det is exactly 0.0 (a NaN det is not a failure).
/// The matrix must be 4 x 4.
[[nodiscard]] std::optional<SquareMatrix> invert_by_cofactors(const SquareMatrix& a);

/// Inverse by Gaussian elimination with partial pivoting on a working copy M
/// of `a`, applied to X = identity, n = a.size:
/// 1. for each column i: pivot row r >= i with the greatest |M[r][i]|, the
///    smallest r on ties; swap rows r and i of M and X when r != i; then the
///    multipliers l_q = M[q][i] * (1.0 / M[i][i]) are stored in M[q][i] and
///    M[q][s] = M[q][s] - M[i][s] * l_q for all q > i, s > i;
/// 2. forward: for i = 0 .. n-2 and q > i, X[q] = X[q] - X[i] * M[q][i];
/// 3. back: for i = n-1 down to 0, X[i] = X[i] / M[i][i], then
///    X[q] = X[q] - X[i] * M[q][i] for q < i.
/// Each expression is one rounded operation per arithmetic step, in the order
/// written. Returns nothing when a pivot or a diagonal entry is exactly 0.0.
[[nodiscard]] std::optional<SquareMatrix> invert_by_elimination(const SquareMatrix& a);

}  // namespace pwpoly
