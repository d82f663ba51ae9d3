// Locating a time on the grid, step by step in the order that makes the
// result reproducible bit for bit.
#include "legendre/interval_location.hpp"

#include <cmath>
#include <limits>

namespace pwpoly {

namespace {

/// floor(q) as an interval index, saturating at both ends; NaN goes to 0.
index_t saturating_index(double floored) {
    constexpr index_t largest = std::numeric_limits<index_t>::max();
    if (!(floored > 0.0)) {
        return 0;
    }
    if (floored >= static_cast<double>(largest)) {
        return largest;
    }
    return static_cast<index_t>(floored);
}

}  // namespace

IntervalLocation locate_interval(const LegendreBasis& basis, double t) {
    const double w = interval_width(basis);
    const double q = t / w;
    const double floored = std::floor(q);
    index_t k = saturating_index(floored);
    if (k >= basis.n_t) {
        // Beyond the last interval. With no interval at all, 0 keeps the
        // index from wrapping; the callers refuse it.
        k = basis.n_t == 0 ? 0 : basis.n_t - 1;
    }

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
    return {k, xi};
}

}  // namespace pwpoly
