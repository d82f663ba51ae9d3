// Sums of Legendre terms, in ascending degree from negative zero, one rounded
// operation per line.
#include "legendre/evaluation.hpp"

#include "legendre/interval_location.hpp"
#include "legendre/legendre_derivative.hpp"
#include "legendre/legendre_recurrence.hpp"

namespace pwpoly {

double expansion_value(double xi, const IntervalCoefficients& coefficients) {
    LegendreRecurrence legendre(xi);
    double sum = -0.0;
    for (std::uint64_t i = 0; i < coefficients.count; ++i) {
        if (i != 0) {
            legendre.advance();
        }
        const double term = legendre.value() * coefficients.first[i * coefficients.stride];
        sum = sum + term;
    }
    return sum;
}

double expansion_time_derivative(double xi, double w, const IntervalCoefficients& coefficients) {
    LegendreDerivativeRecurrence legendre(xi);
    double sum = -0.0;
    for (std::uint64_t i = 0; i < coefficients.count; ++i) {
        if (i != 0) {
            legendre.advance();
        }
        const double term = legendre.derivative() * coefficients.first[i * coefficients.stride];
        sum = sum + term;
    }
    // Chain rule, dxi/dt = 2 / w.
    const double doubled = sum + sum;
    return doubled / w;
}

double evaluate(const LegendreBasis& basis, double t, const CoefficientView& c) {
    const IntervalLocation at = locate_interval(basis, t);
    const IntervalCoefficients row = interval_coefficients(c, at.k, basis.degree);
    return expansion_value(at.xi, row);
}

double evaluate_derivative(const LegendreBasis& basis, double t, const CoefficientView& c) {
    const IntervalLocation at = locate_interval(basis, t);
    const IntervalCoefficients row = interval_coefficients(c, at.k, basis.degree);
    return expansion_time_derivative(at.xi, interval_width(basis), row);
}

}  // namespace pwpoly
