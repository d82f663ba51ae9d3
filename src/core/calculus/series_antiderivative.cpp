// Antiderivatives of Legendre series interval by interval (NumPy's legint
// recurrence with the constant that vanishes at the left end), their joining
// along the grid, and definite integrals.
#include "calculus/series_antiderivative.hpp"

#include <cmath>
#include <vector>

#include "legendre/interval_location.hpp"
#include "legendre/legendre_recurrence.hpp"
#include "support/cancellation.hpp"

namespace pwpoly::calculus {
namespace {

// A sum with Neumaier's compensation: the rounding error of each addition is
// gathered in `correction`, added once at the end.
struct CompensatedSum {
    double sum = 0.0;
    double correction = 0.0;

    void add(double x) {
        const double t = sum + x;
        if (std::fabs(sum) >= std::fabs(x)) {
            const double lost = sum - t;
            correction = correction + (lost + x);
        } else {
            const double lost = x - t;
            correction = correction + (lost + sum);
        }
        sum = t;
    }

    // An infinite or NaN sum stays as it is: its correction means nothing.
    [[nodiscard]] double value() const { return std::isfinite(sum) ? sum + correction : sum; }
};

// (2i + 1) as an exact double.
double odd(std::uint64_t i) { return static_cast<double>(2 * i + 1); }

// r_0 of interval k, column e, with the rounded steps of integrate_pieces:
// c_0 - t_1 with c_j = coefficient * s and t_1 = c_1 / 3 (c_0 for degree 0).
double piece_constant(const SeriesColumns& series, std::uint64_t k, std::size_t e, double s) {
    const std::uint64_t n_t = series.basis.n_t;
    const double c0 = at_row(series.values, series.columns, k, e) * s;
    if (series.basis.degree == 0) {
        return c0;
    }
    const double c1 = at_row(series.values, series.columns, k + n_t, e) * s;
    const double t1 = c1 / odd(1);
    return c0 - t1;
}

}  // namespace

void integrate_pieces(const SeriesColumns& series, std::span<double> out, index_t first,
                      index_t last) {
    check_series(series);
    const LegendreBasis& basis = series.basis;
    const std::size_t columns = series.columns;
    const std::uint64_t degree = basis.degree;
    const std::uint64_t n_t = basis.n_t;
    check_calculus_sizes(degree < 0xFFFFFFFFULL &&
                         count_equals(n_t * (degree + 2), columns, out.size()));
    check_range(first, last, n_t);
    const double w = interval_width(basis);
    const double s = w * 0.5;
    const std::span<const double> in = series.values;
    // The scaled coefficients c_j and the quotients t_j of one interval, a
    // row of `columns` values per degree.
    std::vector<double> c(static_cast<std::size_t>(degree + 1) * columns);
    std::vector<double> t(c.size());
    CancellationCounter poll;
    for (std::uint64_t k = first; k < last; ++k) {
        poll.tick(static_cast<std::size_t>((degree + 2) * columns));
        for (std::uint64_t j = 0; j <= degree; ++j) {
            for (std::size_t e = 0; e < columns; ++e) {
                const std::size_t v = static_cast<std::size_t>(j) * columns + e;
                c[v] = at_row(in, columns, k + n_t * j, e) * s;
                t[v] = j == 0 ? c[v] : c[v] / odd(j);
            }
        }
        for (std::uint64_t i = 0; i <= degree + 1; ++i) {
            double* row = out.data() + (k + n_t * i) * columns;
            for (std::size_t e = 0; e < columns; ++e) {
                // r_0 = c_0 - t_1; r_i = t_{i-1} - t_{i+1}.
                double r = i == 0 ? c[e] : t[(i - 1) * columns + e];
                if (i + 1 <= degree) {
                    r = r - t[(i + 1) * columns + e];
                }
                row[e] = r;
            }
        }
    }
}

void join_pieces(const SeriesColumns& series, std::span<double> pieces, std::size_t first_column,
                 std::size_t last_column) {
    check_series(series);
    const LegendreBasis& basis = series.basis;
    const std::size_t columns = series.columns;
    const std::uint64_t n_t = basis.n_t;
    check_calculus_sizes(basis.degree < 0xFFFFFFFFU &&
                         count_equals(n_t * (basis.degree + 2ULL), columns, pieces.size()));
    check_range(first_column, last_column, columns);
    const double s = interval_width(basis) * 0.5;
    std::vector<CompensatedSum> running(last_column - first_column);
    CancellationCounter poll;
    for (std::uint64_t k = 0; k < n_t; ++k) {
        poll.tick(running.size() + 1);
        double* constants = pieces.data() + k * columns;
        const double* c0 = series.values.data() + k * columns;
        for (std::size_t e = first_column; e < last_column; ++e) {
            CompensatedSum& sum = running[e - first_column];
            // The constant is formed afresh rather than read, so that running
            // the same columns again gives the same result.
            const double own = piece_constant(series, k, e, s);
            constants[e] = k == 0 ? own : own + sum.value();
            // As integrate_pieces scales it, then doubled (exactly).
            const double scaled = c0[e] * s;
            sum.add(scaled + scaled);
        }
    }
}

void definite_integral(const SeriesColumns& series, double a, double b, std::span<double> out,
                       std::size_t first_column, std::size_t last_column) {
    check_series(series);
    const LegendreBasis& basis = series.basis;
    const std::size_t columns = series.columns;
    check_range(first_column, last_column, columns);
    check_calculus_sizes(out.size() == columns);
    check(a >= 0.0 && a <= basis.T && b >= 0.0 && b <= basis.T,
          "calculus kernel: integration bounds outside [0, T]");
    const bool reversed = a > b;
    const double lower = reversed ? b : a;
    const double upper = reversed ? a : b;
    const std::uint64_t degree = basis.degree;
    const std::uint64_t n_t = basis.n_t;
    const IntervalLocation from = locate_interval(basis, lower);
    const IntervalLocation to = locate_interval(basis, upper);

    // G_i at both ends: the integrals from -1 of P_0 ... P_degree.
    const auto antiderivative_factors = [degree](double xi) {
        std::vector<double> p(static_cast<std::size_t>(degree) + 2);
        legendre_values(xi, std::span<double>(p));
        std::vector<double> g(static_cast<std::size_t>(degree) + 1);
        g[0] = xi + 1.0;
        for (std::uint64_t i = 1; i <= degree; ++i) {
            const double difference = p[i + 1] - p[i - 1];
            g[i] = difference / odd(i);
        }
        return g;
    };
    const std::vector<double> g_from = antiderivative_factors(from.xi);
    const std::vector<double> g_to = antiderivative_factors(to.xi);
    const std::span<const double> in = series.values;
    const double s = interval_width(basis) * 0.5;

    CancellationCounter poll;
    for (std::size_t e = first_column; e < last_column; ++e) {
        CompensatedSum total;
        for (std::uint64_t i = 0; i <= degree; ++i) {
            const double term = at_row(in, columns, from.k + n_t * i, e) * g_from[i];
            total.add(-term);
        }
        for (std::uint64_t k = from.k; k < to.k; ++k) {
            poll.tick();
            const double c0 = at_row(in, columns, k, e);
            total.add(c0 + c0);
        }
        for (std::uint64_t i = 0; i <= degree; ++i) {
            const double term = at_row(in, columns, to.k + n_t * i, e) * g_to[i];
            total.add(term);
        }
        const double integral = total.value() * s;
        out[e] = reversed ? -integral : integral;
    }
}

}  // namespace pwpoly::calculus
