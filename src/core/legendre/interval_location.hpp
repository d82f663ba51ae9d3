// Locating a time on the grid: the interval that holds it and its local
// coordinate in [-1, 1]. Every evaluation starts here, so all of it is inline,
// step by step in the order that makes the result reproducible bit for bit.
#pragma once

#include <cstdint>
#include <limits>

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

namespace detail {

/// floor(q) as an interval index, saturating at both ends; NaN goes to 0.
/// Below 1 (and for NaN) floor(q) is at most 0; from 1 up to the largest
/// index, truncation toward zero is floor. So no call of floor() is needed,
/// and the result is the same for every q.
inline index_t saturating_floor(double q) {
    constexpr index_t largest = std::numeric_limits<index_t>::max();
    if (!(q >= 1.0)) {
        return 0;
    }
    if (q >= static_cast<double>(largest)) {
        return largest;
    }
    return static_cast<index_t>(q);
}

// An interval index clamped to the last interval. With no interval at all,
// 0 keeps the index from wrapping; the callers refuse it.
inline index_t clamp_to_grid(const LegendreBasis& basis, index_t k) {
    if (k < basis.n_t) {
        return k;
    }
    return basis.n_t == 0 ? 0 : basis.n_t - 1;
}

// The interval index for q = t / w, clamped to the last interval.
inline index_t interval_index(const LegendreBasis& basis, double q) {
    return clamp_to_grid(basis, saturating_floor(q));
}

// The local coordinate of t on interval k, clamped to [-1, 1].
inline double local_coordinate(double t, index_t k, double w) {
    // Interval bounds, exactly as the Lagrange nodes place them.
    const double a = static_cast<double>(k) * w;
    const double b = w + a;

    // xi = 2 (t - (a + b) / 2) / (b - a). The product with -0.5 and the
    // doubling are exact; a + b, the addition of t and the division by the
    // rounded width b - a are the rounded steps.
    const double bounds_sum = a + b;
    const double minus_midpoint = bounds_sum * -0.5;
    double xi = t + minus_midpoint;
    xi = xi + xi;
    const double rounded_width = b - a;
    xi = xi / rounded_width;

    if (xi < -1.0) {
        xi = -1.0;
    } else if (xi > 1.0) {
        xi = 1.0;
    }
    return xi;
}

}  // namespace detail

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
///
/// This overload takes the interval width w = interval_width(basis) computed
/// by the caller; the result is that of locate_interval(basis, t).
[[nodiscard]] inline IntervalLocation locate_interval(const LegendreBasis& basis, double t,
                                                      double w) {
    const index_t k = detail::interval_index(basis, t / w);
    return {k, detail::local_coordinate(t, k, w)};
}

/// The location of t on the grid of `basis`, as described above.
[[nodiscard]] inline IntervalLocation locate_interval(const LegendreBasis& basis, double t) {
    return locate_interval(basis, t, interval_width(basis));
}

/// The interval width w = interval_width(basis) and its reciprocal 1 / w,
/// or NaN in place of a reciprocal outside the normal range (then every
/// location takes the quotient).
struct GridWidth {
    double w;
    double inverse;
};

/// The width of the grid of `basis`, with its reciprocal.
[[nodiscard]] inline GridWidth grid_width(const LegendreBasis& basis) {
    const double w = interval_width(basis);
    const double inverse = 1.0 / w;
    const double magnitude = inverse < 0.0 ? -inverse : inverse;
    const bool normal = magnitude >= std::numeric_limits<double>::min() &&
                        magnitude <= std::numeric_limits<double>::max();
    return {w, normal ? inverse : std::numeric_limits<double>::quiet_NaN()};
}

/// The same location again (bit for bit), found sooner: for callers that
/// locate many times on one grid and keep its GridWidth.
[[nodiscard]] inline IntervalLocation locate_interval(const LegendreBasis& basis, double t,
                                                      const GridWidth& width) {
    // The interval is floor(t / w), and the product with the reciprocal width
    // names the same interval unless it lies very close to a whole number:
    // p = t * (1 / w) and q = t / w are both within 3 units in the last place
    // (relative, 2^-53 each) of the exact quotient (for a reciprocal in the
    // normal range; grid_width makes it NaN otherwise), so a whole number
    // between p and q would lie within 3 * 2^-53 * p of p. When p keeps more
    // than 2^-50 * p from both neighbouring whole numbers, floor(q) is floor(p)
    // and the division is not needed. Negative, huge and NaN products, and
    // products near a whole number, take the quotient itself.
    const double p = t * width.inverse;
    if (p >= 0.0 && p < 4294967296.0) [[likely]] {
        // Truncation is floor here; the difference is exact (Sterbenz).
        const auto truncated = static_cast<std::int64_t>(p);
        const double fraction = p - static_cast<double>(truncated);
        const double margin = p * 0x1p-50;
        if (fraction > margin && 1.0 - fraction > margin) [[likely]] {
            const index_t k = detail::clamp_to_grid(basis, static_cast<index_t>(truncated));
            return {k, detail::local_coordinate(t, k, width.w)};
        }
    }
    const index_t k = detail::interval_index(basis, t / width.w);
    return {k, detail::local_coordinate(t, k, width.w)};
}

}  // namespace pwpoly
