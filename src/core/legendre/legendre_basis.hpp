// The uniform time grid of a piecewise Legendre expansion: the LegendreBasis
// record and the sizes derived from it.
#pragma once

#include <cstdint>

#include "support/size_policy.hpp"

namespace pwpoly {

/// A time span [0, T] cut into `n_t` intervals of equal width, with Legendre
/// polynomials P_0 ... P_degree on every interval. A plain value that owns
/// nothing; no field is validated, so T may be zero, negative or non-finite and
/// `n_t` may be 0 (every evaluation then fails its bounds check). The fields are
/// in the order of the Python constructor (degree, n_t, T).
struct LegendreBasis {
    /// Highest Legendre degree; every interval carries degree + 1 coefficients.
    index_t degree;
    /// Number of intervals.
    index_t n_t;
    /// End of the time span, in the caller's time unit.
    double T;
};

/// Interval width w = T / n_t: `n_t` converted exactly to a double, then one
/// rounded division. Never fails; `n_t` = 0 gives an infinite or NaN width.
[[nodiscard]] inline double interval_width(const LegendreBasis& basis) {
    return basis.T / static_cast<double>(basis.n_t);
}

/// Coefficients per interval, degree + 1, exact (up to 2^32, hence 64 bits).
[[nodiscard]] inline std::uint64_t coefficients_per_interval(const LegendreBasis& basis) {
    return std::uint64_t{basis.degree} + 1;
}

/// Total number of coefficients N = n_t * (degree + 1), exact: the product is
/// below 2^64, so it never wraps. N is the length of every coefficient vector
/// and basis table of the grid; whether 8 * N bytes fit one vector is checked
/// where such a vector is allocated.
[[nodiscard]] inline std::uint64_t coefficient_count(const LegendreBasis& basis) {
    return std::uint64_t{basis.n_t} * coefficients_per_interval(basis);
}

}  // namespace pwpoly
