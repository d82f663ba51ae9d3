// End values, power-basis coefficients and the Lagrange-to-Legendre
// application, interval by interval.
#include "calculus/series_conversions.hpp"

#include <vector>

#include "support/cancellation.hpp"

namespace pwpoly::calculus {

void series_end_values(const SeriesColumns& series, std::span<double> start, std::span<double> end,
                       index_t first, index_t last) {
    check_series(series);
    const LegendreBasis& basis = series.basis;
    const std::size_t columns = series.columns;
    const std::uint64_t n_t = basis.n_t;
    check_range(first, last, n_t);
    check_calculus_sizes(count_equals(n_t, columns, start.size()) &&
                         count_equals(n_t, columns, end.size()));
    CancellationCounter poll;
    for (std::uint64_t k = first; k < last; ++k) {
        poll.tick((std::uint64_t{basis.degree} + 1) * columns);
        double* left = start.data() + k * columns;
        double* right = end.data() + k * columns;
        for (std::size_t e = 0; e < columns; ++e) {
            double left_sum = -0.0;
            double right_sum = -0.0;
            double sign = 1.0;
            for (std::uint64_t i = 0; i <= basis.degree; ++i) {
                const double c = at_row(series.values, columns, k + n_t * i, e);
                const double left_term = sign * c;
                left_sum = left_sum + left_term;
                const double right_term = 1.0 * c;
                right_sum = right_sum + right_term;
                sign = -sign;
            }
            left[e] = left_sum;
            right[e] = right_sum;
        }
    }
}

void power_coefficients(const SeriesColumns& series, std::span<double> out, index_t first,
                        index_t last) {
    check_series(series);
    const LegendreBasis& basis = series.basis;
    const std::size_t columns = series.columns;
    const std::uint64_t n_t = basis.n_t;
    const std::uint64_t rows = std::uint64_t{basis.degree} + 1;
    check_range(first, last, n_t);
    check_calculus_sizes(count_equals(rows * n_t, columns, out.size()));
    const double alpha = 2.0 / interval_width(basis);

    // q[i * rows + j]: the coefficient of s^j in P_i((2 / w) s - 1).
    std::vector<double> q(static_cast<std::size_t>(rows * rows), 0.0);
    q[0] = 1.0;
    if (rows > 1) {
        q[rows] = -1.0;
        q[rows + 1] = alpha;
    }
    for (std::uint64_t n = 1; n + 1 < rows; ++n) {
        const double* current = q.data() + n * rows;
        const double* previous = q.data() + (n - 1) * rows;
        double* next = q.data() + (n + 1) * rows;
        const auto odd = static_cast<double>(2 * n + 1);
        const auto degree = static_cast<double>(n);
        const auto next_degree = static_cast<double>(n + 1);
        for (std::uint64_t j = 0; j <= n + 1; ++j) {
            // u * Q_n, coefficient j: alpha * Q_n[j - 1] - Q_n[j].
            const double shifted = j == 0 ? 0.0 : alpha * current[j - 1];
            const double own = j <= n ? current[j] : 0.0;
            const double product = shifted - own;
            const double scaled = odd * product;
            const double older = previous[j] * degree;
            const double numerator = scaled - older;
            next[j] = numerator / next_degree;
        }
    }

    CancellationCounter poll;
    for (std::uint64_t k = first; k < last; ++k) {
        poll.tick(static_cast<std::size_t>(rows * rows * columns));
        for (std::uint64_t j = 0; j < rows; ++j) {
            double* target = out.data() + ((rows - 1 - j) * n_t + k) * columns;
            for (std::size_t e = 0; e < columns; ++e) {
                double sum = 0.0;
                for (std::uint64_t i = j; i < rows; ++i) {
                    const double term =
                        q[i * rows + j] * at_row(series.values, columns, k + n_t * i, e);
                    sum = sum + term;
                }
                target[e] = sum;
            }
        }
    }
}

void apply_local_weights(const LegendreBasis& basis, std::span<const double> weights,
                         std::uint64_t node_step, std::span<const double> node_values,
                         std::size_t columns, std::span<double> out, index_t first, index_t last) {
    check(basis.n_t >= 1, "calculus kernel: n_t must be at least 1");
    check(basis.degree >= 1, "calculus kernel: Lagrange values need degree >= 1");
    const std::uint64_t degree = basis.degree;
    const std::uint64_t rows = degree + 1;
    const std::uint64_t n_t = basis.n_t;
    check_range(first, last, n_t);
    const std::uint64_t node_count = columns == 0 ? 0 : node_values.size() / columns;
    check_calculus_sizes(columns >= 1 && weights.size() == rows * rows && node_step >= 1 &&
                         node_step <= rows &&
                         count_equals(node_count, columns, node_values.size()) &&
                         (n_t - 1) * node_step + rows <= node_count &&
                         count_equals(coefficient_count(basis), columns, out.size()));
    CancellationCounter poll;
    for (std::uint64_t k = first; k < last; ++k) {
        poll.tick(static_cast<std::size_t>(rows * rows * columns));
        for (std::uint64_t p = 0; p < rows; ++p) {
            double* target = out.data() + (k + n_t * p) * columns;
            for (std::size_t e = 0; e < columns; ++e) {
                double sum = 0.0;
                for (std::uint64_t c = 0; c < rows; ++c) {
                    const double term =
                        weights[p * rows + c] * at_row(node_values, columns, k * node_step + c, e);
                    sum = sum + term;
                }
                target[e] = sum;
            }
        }
    }
}

}  // namespace pwpoly::calculus
