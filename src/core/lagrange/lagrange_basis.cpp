// Building the global node list interval by interval.
#include "lagrange/lagrange_basis.hpp"

#include <limits>
#include <utility>

namespace pwpoly {

std::size_t lagrange_node_count(index_t degree, index_t n_t) {
    // The interval list of the construction (16 bytes per interval) and the
    // node list must both fit; an interval needs degree + 1 points.
    (void)checked_vector_length(n_t, policy_bytes<std::pair<double, double>>);
    const std::size_t node_count =
        checked_vector_length(checked_add(checked_mul(n_t, degree), 1), policy_bytes<double>);
    if (n_t != 0 && degree == std::numeric_limits<index_t>::max()) {
        fail(std::string(capacity_overflow_message));
    }
    return node_count;
}

LagrangeBasis LagrangeBasis::create(index_t degree, index_t n_t, double T) {
    std::vector<double> points;
    points.reserve(lagrange_node_count(degree, n_t));
    for_each_lagrange_point(degree, n_t, T, [&](double x) { points.push_back(x); });
    return LagrangeBasis{std::move(points), degree, n_t};
}

}  // namespace pwpoly
