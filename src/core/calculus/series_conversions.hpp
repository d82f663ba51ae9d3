// Other forms of piecewise Legendre series: the one-sided values at the ends
// of each interval, the power-basis coefficients of each piece, and the
// series from values at Lagrange nodes.
#pragma once

#include <cstddef>
#include <span>

#include "calculus/series_columns.hpp"

namespace pwpoly::calculus {

/// The value of every polynomial of `series` at the left (xi = -1) and right
/// (xi = +1) end of the intervals first <= k < last, into start and end
/// (n_t rows of series.columns values each; other rows left as they are).
/// Each is S = -0.0; S = S + P_i * c_i for i ascending with P_i(1) = 1 and
/// P_i(-1) = (-1)^i exactly: the bits expansion_value gives at xi = +-1.
/// Fails as check_series, with "calculus kernel: range out of bounds" unless
/// first <= last <= n_t, and with "calculus kernel: wrong buffer size".
void series_end_values(const SeriesColumns& series, std::span<double> start, std::span<double> end,
                       index_t first, index_t last);

/// The coefficients of each piece in powers of s = t - k * w on interval k
/// (w = interval_width), as scipy.interpolate.PPoly holds them: `out` has
/// (degree + 1) * n_t * columns values, out[((degree - j) * n_t + k) * columns
/// + e] the coefficient of s^j (highest power first), written for the
/// intervals first <= k < last. With u = (2 / w) s - 1 (the local coordinate),
/// the table Q_i(s) = P_i(u) comes from the Legendre recurrence on
/// coefficient arrays: Q_0 = 1, Q_1 = (2 / w) s - 1,
/// Q_{n+1} = ((2n + 1) u Q_n - n Q_{n-1}) / (n + 1); each coefficient is then
/// sum_i Q_i[j] c_i, i ascending. The table grows like (2 / w)^j binomials:
/// accurate to rounding for moderate degrees only.
/// Fails as series_end_values does.
void power_coefficients(const SeriesColumns& series, std::span<double> out, index_t first,
                        index_t last);

/// Legendre coefficients from values at the nodes of a grid, with the same
/// local weights W on every interval ((degree + 1) x (degree + 1), row-major,
/// W[p][c] the weight of node c of an interval in its coefficient of P_p):
///   out[k + n_t p, e] = sum_c W[p][c] * values[k * node_step + c, e],
/// the sum from 0.0 with c ascending, as a compressed-row product of the
/// transformation forms it; for first <= k < last. node_step is degree for
/// nodes that neighbouring intervals share at their common end (the
/// equidistant Lagrange nodes: n_t * degree + 1 of them), degree + 1 for
/// nodes of their own. `node_values` has node_count rows of `columns` values,
/// `out` N rows. Requires degree >= 1 and node_count >= (n_t - 1) *
/// node_step + degree + 1. Fails with "calculus kernel: wrong buffer size"
/// for other sizes and as series_end_values for the range.
void apply_local_weights(const LegendreBasis& basis, std::span<const double> weights,
                         std::uint64_t node_step, std::span<const double> node_values,
                         std::size_t columns, std::span<double> out, index_t first, index_t last);

}  // namespace pwpoly::calculus
