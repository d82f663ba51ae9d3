// Sums of Legendre terms, in ascending degree from negative zero, one rounded
// operation per line.
#include "legendre/evaluation.hpp"

#include "legendre/interval_location.hpp"
#include "legendre/legendre_derivative.hpp"
#include "legendre/legendre_recurrence.hpp"
#include "support/cancellation.hpp"

namespace pwpoly {
namespace {

// Sums longer than this poll for cancellation as they go; shorter ones, the
// usual case, run the loop below without the poll's bookkeeping.
constexpr std::uint64_t unpolled_terms = cancellation_interval;

// S = -0.0; S = S + factor_i * c_i for i ascending, the factors being P_i(xi)
// (Recurrence::value) or P'_i(xi) (Recurrence::derivative); a poll every
// few thousand terms. The same rounded operations as the short loops.
template <class Recurrence, double (Recurrence::*factor)() const>
[[gnu::noinline, gnu::cold]] double polled_sum(double xi,
                                               const IntervalCoefficients& coefficients) {
    Recurrence legendre(xi);
    CancellationCounter poll;
    double sum = -0.0;
    for (std::uint64_t i = 0; i < coefficients.count; ++i) {
        if (i != 0) {
            legendre.advance();
        }
        poll.tick();
        const double term = (legendre.*factor)() * coefficients.first[i * coefficients.stride];
        sum = sum + term;
    }
    return sum;
}

// Chain rule, dxi/dt = 2 / w: (S + S) / w.
inline double time_derivative(double sum, double w) {
    const double doubled = sum + sum;
    return doubled / w;
}

}  // namespace

double expansion_value(double xi, const IntervalCoefficients& coefficients) {
    if (coefficients.count > unpolled_terms) [[unlikely]] {
        return polled_sum<LegendreRecurrence, &LegendreRecurrence::value>(xi, coefficients);
    }
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
    if (coefficients.count > unpolled_terms) [[unlikely]] {
        return time_derivative(
            polled_sum<LegendreDerivativeRecurrence, &LegendreDerivativeRecurrence::derivative>(
                xi, coefficients),
            w);
    }
    LegendreDerivativeRecurrence legendre(xi);
    double sum = -0.0;
    for (std::uint64_t i = 0; i < coefficients.count; ++i) {
        if (i != 0) {
            legendre.advance();
        }
        const double term = legendre.derivative() * coefficients.first[i * coefficients.stride];
        sum = sum + term;
    }
    return time_derivative(sum, w);
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
