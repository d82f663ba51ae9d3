// Derivatives of the Legendre polynomials with respect to the local coordinate,
// accurate up to the interval ends.
#pragma once

#include "legendre/legendre_recurrence.hpp"

namespace pwpoly {

/// Below this value of s = xi * xi - 1 the quotient formula is used; above it
/// (|xi| within about 5e-4 of the interval ends) the derivative recurrence.
inline constexpr double derivative_end_zone = -1e-3;

/// Running Legendre values P_i(xi) together with their derivatives P'_i(xi) =
/// dP_i/dxi, i = 0, 1, ..., one degree per advance(). P'_0 = 0 and P'_1 = 1.
///
/// For i >= 2 the rule is chosen once per point from s = xi * xi - 1 (two
/// rounded operations):
/// - s > -1e-3, near the interval ends: with n the degree as a double,
///   P'_{n+1} = P'_{n-1} + (2n + 1) * P_n (the factor as in the value
///   recurrence, then one multiplication and one addition). This gives
///   P'_i(1) = i(i+1)/2 and P'_i(-1) = (-1)^(i+1) i(i+1)/2 exactly.
/// - otherwise, and for a NaN xi: P'_i = ((P_i * xi - P_{i-1}) * i) / D with
///   D = s + 1e-15, rounded in the order P_i * xi, minus P_{i-1}, times i,
///   divided by D. The 1e-15 shifts the result by about 1e-12 relative at
///   most, since |s| >= 1e-3 here.
/// The quotient alone would lose every digit near the ends (its numerator and
/// denominator both vanish there), hence the split.
class LegendreDerivativeRecurrence {
public:
    /// Starts at degree 0.
    explicit LegendreDerivativeRecurrence(double xi);

    /// The current degree i, as an exact double.
    [[nodiscard]] double degree() const { return values_.degree(); }
    /// P_i(xi), bit for bit as LegendreRecurrence gives it.
    [[nodiscard]] double value() const { return values_.value(); }
    /// P'_i(xi).
    [[nodiscard]] double derivative() const { return derivative_; }

    /// Moves from degree i to i + 1.
    void advance();

private:
    LegendreRecurrence values_;
    bool near_end_;
    double denominator_;
    double previous_derivative_ = 0.0;
    double derivative_ = 0.0;
};

}  // namespace pwpoly
