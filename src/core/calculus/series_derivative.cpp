// Differentiation of Legendre series, NumPy's legder recurrence on whole rows
// of columns at a time.
#include "calculus/series_derivative.hpp"

#include <algorithm>
#include <vector>

#include "support/cancellation.hpp"

namespace pwpoly::calculus {
namespace {

// One legder step on rows 0 ... n of `c` (each `columns` wide), writing rows
// 0 ... n - 1 of `d`; `c` is scaled and then changed in place, as in NumPy.
void derivative_step(std::vector<double>& c, std::vector<double>& d, std::uint64_t n,
                     std::size_t columns, double scale) {
    const std::size_t used = static_cast<std::size_t>(n + 1) * columns;
    for (std::size_t v = 0; v < used; ++v) {
        c[v] = c[v] * scale;
    }
    for (std::uint64_t j = n; j >= 3; --j) {
        const auto factor = static_cast<double>(2 * j - 1);
        double* target = d.data() + (j - 1) * columns;
        double* lower = c.data() + (j - 2) * columns;
        const double* source = c.data() + j * columns;
        for (std::size_t e = 0; e < columns; ++e) {
            target[e] = factor * source[e];
            lower[e] = lower[e] + source[e];
        }
    }
    if (n > 1) {
        for (std::size_t e = 0; e < columns; ++e) {
            d[columns + e] = 3.0 * c[2 * columns + e];
        }
    }
    std::copy_n(c.begin() + static_cast<std::ptrdiff_t>(columns), columns, d.begin());
}

}  // namespace

void differentiate_series(const SeriesColumns& series, std::uint64_t nu, std::span<double> out,
                          index_t first, index_t last) {
    check_series(series);
    const LegendreBasis& basis = series.basis;
    const std::size_t columns = series.columns;
    const index_t out_degree = derivative_degree(basis.degree, nu);
    check_range(first, last, basis.n_t);
    check_calculus_sizes(count_equals(std::uint64_t{basis.n_t} * (std::uint64_t{out_degree} + 1),
                                      columns, out.size()));
    const std::uint64_t n_t = basis.n_t;
    if (nu > basis.degree) {
        for (std::uint64_t k = first; k < last; ++k) {
            std::fill_n(out.begin() + static_cast<std::ptrdiff_t>(k * columns), columns, 0.0);
        }
        return;
    }
    const double w = interval_width(basis);
    const double scale = 2.0 / w;
    const std::uint64_t rows = std::uint64_t{basis.degree} + 1;
    std::vector<double> current(static_cast<std::size_t>(rows) * columns);
    std::vector<double> next(current.size());
    CancellationCounter poll;
    for (std::uint64_t k = first; k < last; ++k) {
        poll.tick(static_cast<std::size_t>(rows * columns * (nu + 1)));
        for (std::uint64_t i = 0; i < rows; ++i) {
            const double* row = series.values.data() + (k + n_t * i) * columns;
            std::copy_n(row, columns, current.begin() + static_cast<std::ptrdiff_t>(i * columns));
        }
        for (std::uint64_t step = 0; step < nu; ++step) {
            derivative_step(current, next, basis.degree - step, columns, scale);
            current.swap(next);
        }
        for (std::uint64_t i = 0; i <= out_degree; ++i) {
            double* row = out.data() + (k + n_t * i) * columns;
            std::copy_n(current.begin() + static_cast<std::ptrdiff_t>(i * columns), columns, row);
        }
    }
}

}  // namespace pwpoly::calculus
