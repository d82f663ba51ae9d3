// Sums of Legendre terms, in ascending degree from negative zero, one rounded
// operation per line.
#include "legendre/evaluation.hpp"

#include "legendre/interval_location.hpp"
#include "legendre/legendre_derivative.hpp"
#include "legendre/legendre_recurrence.hpp"

namespace pwpoly {

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
