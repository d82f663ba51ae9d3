// Building the global node list interval by interval.
#include "lagrange/lagrange_basis.hpp"

#include <limits>
#include <utility>

#include "lagrange/equidistant_points.hpp"

namespace pwpoly {

LagrangeBasis LagrangeBasis::create(index_t degree, index_t n_t, double T) {
    const double width = T / static_cast<double>(n_t);

    // Both lists are checked before either is allocated.
    const std::size_t interval_count =
        checked_vector_length(n_t, policy_bytes<std::pair<double, double>>);
    const std::size_t node_count =
        checked_vector_length(checked_add(checked_mul(n_t, degree), 1), policy_bytes<double>);
    if (n_t != 0 && degree == std::numeric_limits<index_t>::max()) {
        fail(std::string(capacity_overflow_message));
    }
    std::vector<std::pair<double, double>> intervals;
    intervals.reserve(interval_count);
    std::vector<double> points;
    points.reserve(node_count);

    for (index_t i = 0; i < n_t; ++i) {
        const double left = static_cast<double>(i) * width;
        const double right = left + width;
        intervals.emplace_back(left, right);
    }
    // The right end of each interval (node `degree`) is dropped: it is node 0 of
    // the next interval, or T after the last one.
    for (const auto& [left, right] : intervals) {
        for (index_t c = 0; c < degree; ++c) {
            points.push_back(equidistant_point(left, right, c, degree));
        }
    }
    points.push_back(T);
    return LagrangeBasis{std::move(points), degree, n_t};
}

}  // namespace pwpoly
