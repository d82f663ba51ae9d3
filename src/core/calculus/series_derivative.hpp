// The time derivative of any order of piecewise Legendre series, formed on
// the coefficients.
#pragma once

#include <cstdint>
#include <span>

#include "calculus/series_columns.hpp"

namespace pwpoly::calculus {

/// Writes the coefficients of d^nu/dt^nu of every polynomial of `series` into
/// `out`, which has the layout of SeriesColumns for degree
/// derivative_degree(degree, nu) on the same grid (n_t * (that degree + 1)
/// rows of series.columns values), for the intervals first <= k < last only;
/// the rows of other intervals are left as they are.
///
/// Per interval and column, each of the nu steps is NumPy's legder step with
/// scale s = 2 / w (w = interval_width, the chain rule dxi/dt = 2 / w), in
/// its order of rounded operations: every coefficient times s; then, with n
/// the current degree, for j = n down to 3: d[j - 1] = (2j - 1) * c[j] and
/// c[j - 2] = c[j - 2] + c[j]; d[1] = 3 * c[2] when n > 1; d[0] = c[1]. So the
/// result is the exact derivative of the stored polynomial up to rounding.
/// nu = 0 copies; nu > degree writes zeros (degree 0). The work of one
/// interval is min(nu, degree) * (degree + 1) * columns steps.
///
/// Fails, before any work, as check_series does, with "calculus kernel:
/// range out of bounds" unless first <= last <= n_t, and with "calculus
/// kernel: wrong buffer size" for an `out` of another size.
void differentiate_series(const SeriesColumns& series, std::uint64_t nu, std::span<double> out,
                          index_t first, index_t last);

}  // namespace pwpoly::calculus
