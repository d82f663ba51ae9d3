// Placing the equidistant points of one interval.
#include "lagrange/equidistant_points.hpp"

#include <limits>

namespace pwpoly {

std::vector<double> equidistant_points(double a, double b, index_t degree) {
    if (degree == std::numeric_limits<index_t>::max()) {
        fail(std::string(capacity_overflow_message));
    }
    std::vector<double> points = reserve_vector<double>(std::uint64_t{degree} + 1);
    for (index_t k = 0; k <= degree; ++k) {
        points.push_back(equidistant_point(a, b, k, degree));
    }
    return points;
}

}  // namespace pwpoly
