// Extrapolation beyond [0, T]: the unclamped local coordinate and the
// Legendre sums at it, with the limits at infinity.
#include "calculus/extrapolation.hpp"

#include <cmath>
#include <limits>
#include <vector>

#include "legendre/interval_location.hpp"
#include "legendre/legendre_recurrence.hpp"
#include "support/cancellation.hpp"

namespace pwpoly::calculus {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

bool outside(double t, double T) { return std::isnan(t) || t < 0.0 || t > T; }

// The limit of sum_i c_i P_i(xi) as xi goes to +infinity (toward_negative
// false) or -infinity: P_i(xi) grows like xi^i with a positive factor.
double limit_at_infinity(const SeriesColumns& series, std::uint64_t k, std::size_t e,
                         bool toward_negative) {
    const std::uint64_t n_t = series.basis.n_t;
    std::uint64_t highest = 0;
    for (std::uint64_t i = 0; i <= series.basis.degree; ++i) {
        const double c = at_row(series.values, series.columns, k + n_t * i, e);
        if (std::isnan(c)) {
            return nan;
        }
        if (c != 0.0) {
            highest = i;
        }
    }
    const double c = at_row(series.values, series.columns, k + n_t * highest, e);
    if (highest == 0) {
        return c;
    }
    const bool flips = toward_negative && highest % 2 == 1;
    const bool negative = (c < 0.0) != flips;
    return negative ? -inf : inf;
}

// The row of time t (outside [0, T], not NaN) under `extend`: the sums of
// the first or last interval at the unclamped local coordinate, with the
// Legendre values `p` as scratch.
void extend_row(const SeriesColumns& series, double t, double w, std::span<double> p, double* row) {
    const bool before = t < 0.0;
    const std::uint64_t k = before ? 0 : series.basis.n_t - 1;
    const std::uint64_t n_t = series.basis.n_t;
    const double xi = unclamped_local_coordinate(t, k, w);
    if (std::isinf(xi)) {
        for (std::size_t e = 0; e < series.columns; ++e) {
            row[e] = limit_at_infinity(series, k, e, before);
        }
        return;
    }
    legendre_values(xi, p);
    for (std::size_t e = 0; e < series.columns; ++e) {
        double sum = -0.0;
        bool nan_coefficient = false;
        for (std::uint64_t i = 0; i < p.size(); ++i) {
            const double c = at_row(series.values, series.columns, k + n_t * i, e);
            nan_coefficient = nan_coefficient || std::isnan(c);
            if (c != 0.0) {
                const double term = p[i] * c;
                sum = sum + term;
            }
        }
        const bool overflowed = std::isnan(sum) && !nan_coefficient;
        row[e] = overflowed ? limit_at_infinity(series, k, e, before) : sum;
    }
}

}  // namespace

void extrapolate_outside_span(const SeriesColumns& series, OutsideSpan policy,
                              std::span<const double> times, std::span<double> out,
                              std::size_t first, std::size_t last) {
    check_series(series);
    const std::size_t columns = series.columns;
    check_range(first, last, times.size());
    check_calculus_sizes(count_equals(times.size(), columns, out.size()));
    const LegendreBasis& basis = series.basis;
    const double w = interval_width(basis);
    std::vector<double> p(policy == OutsideSpan::extend ? basis.degree + std::size_t{1} : 0);
    CancellationCounter poll;
    for (std::size_t j = first; j < last; ++j) {
        poll.tick();
        const double t = times[j];
        if (!outside(t, basis.T)) {
            continue;
        }
        double* row = out.data() + j * columns;
        if (policy == OutsideSpan::nan || std::isnan(t)) {
            std::fill_n(row, columns, nan);
            continue;
        }
        poll.tick(p.size() * columns);
        extend_row(series, t, w, p, row);
    }
}

std::size_t first_outside_span(double T, std::span<const double> times, std::size_t first,
                               std::size_t last) {
    check_range(first, last, times.size());
    CancellationCounter poll;
    for (std::size_t j = first; j < last; ++j) {
        poll.tick();
        if (outside(times[j], T)) {
            return j;
        }
    }
    return last;
}

}  // namespace pwpoly::calculus
