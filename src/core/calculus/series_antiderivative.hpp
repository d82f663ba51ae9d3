// Antiderivatives and definite integrals of piecewise Legendre series, formed
// on the coefficients.
#pragma once

#include <cstddef>
#include <span>

#include "calculus/series_columns.hpp"

namespace pwpoly::calculus {

/// Writes, for the intervals first <= k < last, the coefficients of the
/// antiderivative of each interval's polynomial that vanishes at the
/// interval's left end (xi = -1): degree + 1 on the same grid, in the layout
/// of SeriesColumns with series.columns values per row. Rows of other
/// intervals are left as they are.
///
/// With s = w / 2 (dt/dxi), c_i = s * coefficient i, and t_j = c_j / (2j + 1)
/// for j >= 1 (t_0 = c_0), the result is, as NumPy's legint forms it:
///   r_i = t_{i-1} - t_{i+1} (i >= 1; without the second term where
///   i + 1 > degree), and r_0 = c_0 - t_1 (c_0 for degree 0),
/// each step rounded. r_0 makes the value at xi = -1 vanish exactly in exact
/// arithmetic (the integral of P_0 from -1 is P_1 + P_0, that of P_i is
/// (P_{i+1} - P_{i-1}) / (2i + 1)), so no value is subtracted after rounding.
/// The integral over the whole interval is 2 * c_0.
///
/// Fails as check_series, with "calculus kernel: range out of bounds" unless
/// first <= last <= n_t, and with "calculus kernel: wrong buffer size" for an
/// `out` of another size (or a degree + 1 beyond 32 bits), before any work.
void integrate_pieces(const SeriesColumns& series, std::span<double> out, index_t first,
                      index_t last);

/// Joins the pieces that integrate_pieces made of `series` (in `pieces`, of
/// degree series.basis.degree + 1, same grid and columns) into one
/// antiderivative that is continuous across break points and zero at t = 0:
/// sets the constant coefficient (row k) of interval k to its r_0 (formed
/// again as integrate_pieces forms it, so that a second run over the same
/// columns gives the same bits) plus the sum of the integrals
/// 2 * ((w / 2) * c_0) of intervals 0 ... k - 1, for the columns
/// first_column <= e < last_column. The running sum is compensated
/// (Neumaier's summation), so each constant is the rounded exact sum of the
/// rounded integrals.
///
/// A column is one item: its work is n_t steps, the whole grid (the sums run
/// along the intervals, so a column cannot be split).
/// Fails as check_series, with "calculus kernel: wrong buffer size" for
/// `pieces` of another size, and with "calculus kernel: range out of bounds"
/// unless first_column <= last_column <= columns.
void join_pieces(const SeriesColumns& series, std::span<double> pieces, std::size_t first_column,
                 std::size_t last_column);

/// The integral from a to b of every polynomial of `series`, for the columns
/// first_column <= e < last_column, into out[e]. a and b lie in [0, T]; a > b
/// gives the negative of the integral from b to a. Each end is located as
/// locate_interval locates it (intervals ka <= kb); with
/// G_k(xi) = sum_i c_i G_i(xi), G_0(xi) = xi + 1 and
/// G_i(xi) = (P_{i+1}(xi) - P_{i-1}(xi)) / (2i + 1), the integral from -1 to
/// xi of P_i, the result is
///   (w / 2) * (sum_{ka <= k < kb} 2 c_0(k) + G_kb(xi_b) - G_ka(xi_a)),
/// the sum compensated (Neumaier): accurate to rounding of its terms.
///
/// A column is one item: its work is kb - ka + 2 * (degree + 2) steps.
/// Fails as check_series, with "calculus kernel: range out of bounds" unless
/// first_column <= last_column <= columns, with "calculus kernel: integration
/// bounds outside [0, T]" unless both bounds lie in [0, T], and with
/// "calculus kernel: wrong buffer size" unless out.size() == columns.
void definite_integral(const SeriesColumns& series, double a, double b, std::span<double> out,
                       std::size_t first_column, std::size_t last_column);

}  // namespace pwpoly::calculus
