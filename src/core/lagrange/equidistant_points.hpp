// Equidistant points on one interval, both ends included, with a fixed order
// of rounded operations.
#pragma once

#include <vector>

#include "support/size_policy.hpp"

namespace pwpoly {

/// Point k of `degree` equal steps on [a, b]: ((k * (b - a)) / degree) + a,
/// each operation rounded in exactly this order (difference, product with k,
/// quotient by degree, sum with a; k and degree converted exactly to double).
/// For finite a and b, point 0 is a exactly; with degree 0 the point is
/// 0 / 0 + a, a NaN.
[[nodiscard]] inline double equidistant_point(double a, double b, index_t k, index_t degree) {
    const double width = b - a;
    const double scaled = static_cast<double>(k) * width;
    const double step = scaled / static_cast<double>(degree);
    return step + a;
}

/// The degree + 1 points equidistant_point(a, b, k, degree) for k = 0 ..
/// degree, in that order. Fails with "capacity overflow" when degree + 1 does
/// not fit the index type or the points do not fit one vector (8 bytes each),
/// before allocating.
[[nodiscard]] std::vector<double> equidistant_points(double a, double b, index_t degree);

}  // namespace pwpoly
