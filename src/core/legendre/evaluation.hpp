// Evaluating a piecewise Legendre expansion, or its time derivative, at one
// time.
#pragma once

#include "legendre/coefficient_matrix.hpp"
#include "legendre/legendre_basis.hpp"

namespace pwpoly {

/// Sum of P_i(xi) * c_i over the coefficients of one interval, i ascending:
///   S = -0.0;  S = S + P_i(xi) * c_i  (each product and sum rounded).
/// The sum starts from negative zero, so all-zero coefficients give +0.0 and
/// all terms -0.0 give -0.0. Allocates nothing and never fails.
[[nodiscard]] double expansion_value(double xi, const IntervalCoefficients& coefficients);

/// Time derivative of the expansion of one interval of width w:
///   S = -0.0;  S = S + P'_i(xi) * c_i  (i ascending, the i = 0 term 0 * c_0
///   included);  result (S + S) / w.
/// P'_i = dP_i/dxi as LegendreDerivativeRecurrence computes it.
/// w is the interval width T / n_t (not the rounded width of the located
/// interval). Allocates nothing and never fails.
[[nodiscard]] double expansion_time_derivative(double xi, double w,
                                               const IntervalCoefficients& coefficients);

/// Value at time t of the expansion with coefficients `c` (c[k, i] in row k,
/// column i): locate_interval, then expansion_value of row k. Fails with
/// "Matrix slicing out of bounds." when k >= c.rows (always for n_t = 0) and
/// with "Matrix index out of bounds." when degree >= c.cols, before any
/// arithmetic. Non-finite inputs propagate; nothing else fails.
[[nodiscard]] double evaluate(const LegendreBasis& basis, double t, const CoefficientView& c);

/// Time derivative at t of the expansion with coefficients `c`: as evaluate,
/// then expansion_time_derivative of row k with w = T / n_t. Same failures.
[[nodiscard]] double evaluate_derivative(const LegendreBasis& basis, double t,
                                         const CoefficientView& c);

/// evaluate on the whole of an owning matrix.
[[nodiscard]] inline double evaluate(const LegendreBasis& basis, double t,
                                     const CoefficientMatrix& c) {
    return evaluate(basis, t, view_of(c));
}

/// evaluate_derivative on the whole of an owning matrix.
[[nodiscard]] inline double evaluate_derivative(const LegendreBasis& basis, double t,
                                                const CoefficientMatrix& c) {
    return evaluate_derivative(basis, t, view_of(c));
}

}  // namespace pwpoly
