// The Legendre recurrences of LegendreRecurrence and
// LegendreDerivativeRecurrence run for a block of points at once, lane by
// lane, with the same rounded operations in the same order.
#pragma once

#include "batch/lane_location.hpp"
#include "legendre/legendre_derivative.hpp"
#include "legendre/legendre_recurrence.hpp"

namespace pwpoly::batch {

/// divide_by_degree for every lane: x * 0.5 for d = 2, x * 0.25 for d = 4
/// (exact, so the same bits as the quotient), else x / d.
[[nodiscard, gnu::always_inline]] inline LaneDoubles divide_lanes_by_degree(LaneDoubles x,
                                                                            double d) {
    if (d == 2.0) {
        return x * 0.5;
    }
    if (d == 4.0) {
        return x * 0.25;
    }
    return x / d;
}

/// P_n(xi) and P_{n-1}(xi) for the points xi of a block, all at the same
/// degree n. Lane l holds, bit for bit, what LegendreRecurrence(xi[l]) holds
/// after the same number of advance() calls.
struct LegendreLanes {
    LaneDoubles xi;
    /// P_{n-1}(xi) per lane (0.0 at degree 0).
    LaneDoubles previous = broadcast(0.0);
    /// P_n(xi) per lane; P_0 = 1.0, also for a NaN xi.
    LaneDoubles current = broadcast(1.0);
    /// The degree n, as an exact double.
    double degree = 0.0;

    /// Starts at degree 0.
    [[gnu::always_inline]] explicit LegendreLanes(LaneDoubles points) : xi(points) {}
    /// Starts at degree 0 with every point 0.0 (a placeholder to assign to).
    [[gnu::always_inline]] LegendreLanes() : LegendreLanes(broadcast(0.0)) {}

    /// Moves every lane from degree n to n + 1:
    ///   u = (2n + 1) * xi;  u = u * P_n;  v = P_{n-1} * n;
    ///   P_{n+1} = divide_by_degree(u - v, n + 1)   (P_1 = xi).
    [[gnu::always_inline]] void advance() {
        if (degree == 0.0) {
            previous = current;
            current = xi;
            degree = 1.0;
            return;
        }
        const double odd = legendre_odd_factor(degree);
        const double next_degree = degree + 1.0;
        LaneDoubles u = odd * xi;
        u = u * current;
        const LaneDoubles v = previous * degree;
        const LaneDoubles numerator = u - v;
        previous = current;
        current = divide_lanes_by_degree(numerator, next_degree);
        degree = next_degree;
    }
};

/// P'_n(xi) = dP_n/dxi for the points of a block, with the values beside it.
/// Lane l holds, bit for bit, what LegendreDerivativeRecurrence(xi[l]) holds
/// after the same number of advance() calls. Both rules of that class are
/// computed in every lane and each lane keeps the one its point selects
/// (s = xi * xi - 1 > derivative_end_zone: the derivative recurrence; else,
/// and for NaN, the quotient).
struct LegendreDerivativeLanes {
    LegendreLanes values;
    /// s = xi * xi - 1 per lane, which selects the rule.
    LaneDoubles s;
    /// s + 1e-15 per lane, the quotient's denominator.
    LaneDoubles denominator;
    /// P'_{n-1}(xi) per lane.
    LaneDoubles previous = broadcast(0.0);
    /// P'_n(xi) per lane; P'_0 = 0.
    LaneDoubles current = broadcast(0.0);

    /// Starts at degree 0.
    [[gnu::always_inline]] explicit LegendreDerivativeLanes(LaneDoubles points)
        : values(points), s(points * points - 1.0), denominator(s + 1e-15) {}
    /// Starts at degree 0 with every point 0.0 (a placeholder to assign to).
    [[gnu::always_inline]] LegendreDerivativeLanes() : LegendreDerivativeLanes(broadcast(0.0)) {}

    /// Moves every lane from degree n to n + 1.
    [[gnu::always_inline]] void advance() {
        const double n = values.degree;
        if (n == 0.0) {
            values.advance();
            previous = current;
            current = broadcast(1.0);
            return;
        }
        // Near the ends: P'_{n+1} = P'_{n-1} + (2n + 1) * P_n, from P_n before the step.
        const double odd = legendre_odd_factor(n);
        const LaneDoubles increment = odd * values.current;
        const LaneDoubles by_recurrence = previous + increment;
        values.advance();
        // Elsewhere: P'_{n+1} = ((P_{n+1} * xi - P_n) * (n + 1)) / D, from the values after it.
        LaneDoubles numerator = values.current * values.xi;
        numerator = numerator - values.previous;
        numerator = numerator * values.degree;
        const LaneDoubles by_quotient = numerator / denominator;
        previous = current;
        current = s > derivative_end_zone ? by_recurrence : by_quotient;
    }
};

}  // namespace pwpoly::batch
