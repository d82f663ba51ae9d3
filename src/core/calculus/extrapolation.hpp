// Values of piecewise Legendre series at times outside the span [0, T]: the
// polynomials of the end intervals continued, or NaN, in place of the
// clamped values of pwpoly's rule.
#pragma once

#include <cstddef>
#include <span>

#include "calculus/series_columns.hpp"

namespace pwpoly::calculus {

/// What a time outside [0, T] gets.
enum class OutsideSpan {
    /// NaN in every column.
    nan,
    /// The polynomial of the first interval (t < 0) or of the last (t > T)
    /// continued beyond the span.
    extend,
};

/// Rewrites the results of the times first <= j < last that lie outside
/// [0, T] (t < 0 or t > T) or are NaN; out[j * columns + e] belongs to time j
/// and polynomial e, and the results of other times are left as they are
/// (pwpoly's clamped values, which a batch kernel wrote before).
///
/// Under `nan` such a time gets NaN. Under `extend` a NaN time gets NaN; any
/// other is located as locate_interval locates it, in interval 0 or n_t - 1,
/// but with its local coordinate left unclamped:
///   a = k * w;  b = w + a;  xi = t + (a + b) * (-0.5);  xi = xi + xi;
///   xi = xi / (b - a);
/// and gets S = -0.0; S = S + P_i(xi) * c_i over the nonzero coefficients, i
/// ascending (a zero coefficient adds nothing, also where P_i(xi) has
/// overflowed). For an infinite xi, or where the recurrence overflowed into
/// NaN with no NaN coefficient, the result is the limit for |xi| -> infinity:
/// c_0 when every higher coefficient is zero, else an infinity with the sign
/// of the highest nonzero term.
///
/// Fails as check_series, with "calculus kernel: range out of bounds" unless
/// first <= last <= times.size(), and with "calculus kernel: wrong buffer
/// size" unless out.size() == times.size() * columns.
void extrapolate_outside_span(const SeriesColumns& series, OutsideSpan policy,
                              std::span<const double> times, std::span<double> out,
                              std::size_t first, std::size_t last);

/// The index of the first time among first <= j < last that lies outside
/// [0, T] or is NaN, or `last` when there is none. Fails with "calculus
/// kernel: range out of bounds" unless first <= last <= times.size().
[[nodiscard]] std::size_t first_outside_span(double T, std::span<const double> times,
                                             std::size_t first, std::size_t last);

}  // namespace pwpoly::calculus
