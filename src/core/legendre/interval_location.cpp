// Locating a time on the grid, step by step in the order that makes the
// result reproducible bit for bit.
#include "legendre/interval_location.hpp"

#include <limits>

namespace pwpoly {

namespace {

/// floor(q) as an interval index, saturating at both ends; NaN goes to 0.
/// Below 1 (and for NaN) floor(q) is at most 0; from 1 up to the largest
/// index, truncation toward zero is floor. So no call of floor() is needed,
/// and the result is the same for every q.
index_t saturating_floor(double q) {
    constexpr index_t largest = std::numeric_limits<index_t>::max();
    if (!(q >= 1.0)) {
        return 0;
    }
    if (q >= static_cast<double>(largest)) {
        return largest;
    }
    return static_cast<index_t>(q);
}

// The interval index for q = t / w, clamped to the last interval. With no
// interval at all, 0 keeps the index from wrapping; the callers refuse it.
index_t interval_index(const LegendreBasis& basis, double q) {
    const index_t k = saturating_floor(q);
    if (k < basis.n_t) {
        return k;
    }
    return basis.n_t == 0 ? 0 : basis.n_t - 1;
}

// The local coordinate of t on interval k, clamped to [-1, 1].
double local_coordinate(double t, index_t k, double w) {
    double xi = unclamped_local_coordinate(t, k, w);
    if (xi < -1.0) {
        xi = -1.0;
    } else if (xi > 1.0) {
        xi = 1.0;
    }
    return xi;
}

}  // namespace

IntervalLocation locate_interval(const LegendreBasis& basis, double t) {
    return locate_interval(basis, t, interval_width(basis));
}

IntervalLocation locate_interval(const LegendreBasis& basis, double t, double w) {
    const index_t k = interval_index(basis, t / w);
    return {k, local_coordinate(t, k, w)};
}

IntervalLocation locate_interval(const LegendreBasis& basis, double t, const GridWidth& width) {
    // The product with the reciprocal width is ready sooner than the quotient
    // and gives the same interval except within rounding of a break point.
    // The local coordinate is computed for that guess while the quotient is
    // still being formed, and again only if the quotient disagrees.
    const index_t guess = interval_index(basis, t * width.inverse);
    const double xi = local_coordinate(t, guess, width.w);
    const index_t k = interval_index(basis, t / width.w);
    if (k == guess) [[likely]] {
        return {k, xi};
    }
    return {k, local_coordinate(t, k, width.w)};
}

}  // namespace pwpoly
