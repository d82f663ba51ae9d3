// The local Lagrange-to-Legendre weights of one interval: the Legendre
// coefficient of degree p is the sum over nodes c of W[p][c] * value at c.
#pragma once

#include "lagrange/square_matrix.hpp"

namespace pwpoly {

/// The (degree + 1) x (degree + 1) weight table W: W.at(p, c) is the weight of
/// the value at local node c in the Legendre coefficient of degree p, the same
/// for every interval and every T.
/// - degree 1 and 2: fixed tables of the exact weights rounded to the nearest
///   double (for degree 2: 1/6, 2/3, 1/6; -0.5, 0.0, 0.5; 1/3, -2/3, 1/3);
/// - degree >= 3: W is the inverse of the transposed Legendre-Vandermonde
///   matrix A[j][i] = P_j(xi_i) at the reference nodes
///   xi = equidistant_points(-1.0, 1.0, degree); that is, W[p][c] = A^-1[c][p].
///   A is inverted by invert_by_cofactors for degree 3 and by
///   invert_by_elimination for degree >= 4 (whose steps fix the result bit for
///   bit); tiny values where the exact weight is zero are kept as they come.
/// Fails with, in this order: "Lagrange to Legendre conversion not meaningful
/// for degree 0"; "capacity overflow" when (degree + 1)^2 weights do not fit
/// one vector (formed without wrap-around, so a huge degree never yields a
/// short table); "Failed to invert Vandermonde matrix for Lagrange to Legendre
/// conversion." when the inversion meets an exact zero.
[[nodiscard]] SquareMatrix lagrange_to_legendre_weights(index_t degree);

}  // namespace pwpoly
