// Legendre derivatives: the derivative recurrence near the interval ends, the
// quotient formula elsewhere, each rounded step on its own line.
#include "legendre/legendre_derivative.hpp"

namespace pwpoly {

LegendreDerivativeRecurrence::LegendreDerivativeRecurrence(double xi) : values_(xi) {
    const double square = xi * xi;
    const double s = square - 1.0;
    near_end_ = s > derivative_end_zone;  // false for NaN
    denominator_ = s + 1e-15;
}

void LegendreDerivativeRecurrence::advance() {
    const double n = values_.degree();
    if (n == 0.0) {
        values_.advance();
        previous_derivative_ = derivative_;
        derivative_ = 1.0;
        return;
    }

    double next = 0.0;
    if (near_end_) {
        // P'_{n+1} = P'_{n-1} + (2n + 1) * P_n, from P_n before the step.
        const double odd = legendre_odd_factor(n);
        const double increment = odd * values_.value();
        next = previous_derivative_ + increment;
        values_.advance();
    } else {
        // P'_{n+1} = ((P_{n+1} * xi - P_n) * (n + 1)) / D, from the values after the step.
        values_.advance();
        double numerator = values_.value() * values_.xi();
        numerator = numerator - values_.previous();
        numerator = numerator * values_.degree();
        next = numerator / denominator_;
    }
    previous_derivative_ = derivative_;
    derivative_ = next;
}

}  // namespace pwpoly
