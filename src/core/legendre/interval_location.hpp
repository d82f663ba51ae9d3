// Locating a time on the grid: the interval that holds it and its local
// coordinate in [-1, 1].
#pragma once

#include <cstdint>

#include "legendre/legendre_basis.hpp"
#include "support/size_policy.hpp"

namespace pwpoly {

/// Where a time lies on the grid of a LegendreBasis.
struct IntervalLocation {
    /// Interval index, 0 <= k <= n_t - 1 (0 when n_t is 0).
    index_t k;
    /// Local coordinate in interval k: -1 at its left end, 1 at its right end;
    /// clamped to [-1, 1], or NaN.
    double xi;
};

/// Maps time `t` to its interval and local coordinate. Every evaluation of the
/// grid starts here, so the steps and their roundings are fixed:
///   w = T / n_t;  q = t / w;  f = floor(q);
///   k = f converted with saturation (NaN or f <= 0 -> 0, f >= 2^32 - 1 -> 2^32 - 1),
///   then clamped to n_t - 1;
///   a = k * w;  b = w + a;
///   xi = t + (a + b) * (-0.5);  xi = xi + xi;  xi = xi / (b - a);
///   xi clamped to [-1, 1] (a NaN xi stays NaN).
/// Times before 0 (also -inf) land at k = 0, xi = -1; times beyond T (also
/// +inf) in the last interval; a NaN time at k = 0 with a NaN xi. Never fails.
/// With n_t = 0 there is no interval: k is 0 and xi is meaningless, and the
/// callers' bounds checks fail.
[[nodiscard]] IntervalLocation locate_interval(const LegendreBasis& basis, double t);

/// The same, with the interval width w = interval_width(basis) computed by
/// the caller (an evaluator computes it once); the result is identical.
[[nodiscard]] IntervalLocation locate_interval(const LegendreBasis& basis, double t, double w);

/// The interval width w = interval_width(basis) and its reciprocal 1 / w.
struct GridWidth {
    double w;
    double inverse;
};

/// The width of the grid of `basis`, with its reciprocal.
[[nodiscard]] inline GridWidth grid_width(const LegendreBasis& basis) {
    const double w = interval_width(basis);
    return {w, 1.0 / w};
}

/// The same location again (bit for bit), found sooner: for callers that
/// locate many times on one grid and keep its GridWidth.
[[nodiscard]] IntervalLocation locate_interval(const LegendreBasis& basis, double t,
                                               const GridWidth& width);

/// The local coordinate of t on interval k of width w, without the clamp to
/// [-1, 1]: xi = 2 (t - (a + b) / 2) / (b - a) with a = k * w and b = w + a,
/// the interval bounds exactly as the Lagrange nodes place them. The product
/// with -0.5 and the doubling are exact; a + b, the addition of t and the
/// division by the rounded width b - a are the rounded steps. The interval
/// location clamps this value; extrapolation beyond the span uses it as it is.
[[nodiscard]] inline double unclamped_local_coordinate(double t, std::uint64_t k, double w) {
    const double a = static_cast<double>(k) * w;
    const double b = w + a;
    const double bounds_sum = a + b;
    const double minus_midpoint = bounds_sum * -0.5;
    double xi = t + minus_midpoint;
    xi = xi + xi;
    const double rounded_width = b - a;
    return xi / rounded_width;
}

}  // namespace pwpoly
