// The three-term recurrence of the Legendre polynomials at one point, with a
// fixed order of rounded operations; every Legendre value of the module comes
// from here.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "support/size_policy.hpp"

namespace pwpoly {

/// 2n + 1 for the degree n held as a double, formed as (n + n) + 1.0. Both
/// steps are exact for every degree the module can reach.
[[nodiscard]] inline double legendre_odd_factor(double n) {
    double m = n + n;
    m = m + 1.0;
    return m;
}

/// x / d for a degree d >= 2 held as a double. Dividing by a power of two is
/// exact, so it is done as the multiplication by its exact reciprocal, which
/// gives the same bits sooner.
[[nodiscard]] inline double divide_by_degree(double x, double d) {
    if (d == 2.0) {
        return x * 0.5;
    }
    if (d == 4.0) {
        return x * 0.25;
    }
    return x / d;
}

/// Running Legendre values P_0(xi), P_1(xi), ... at one point xi, one degree
/// per advance(). P_0 = 1.0 exactly (also for a NaN xi) and P_1 = xi; from
/// there, with n the current degree as a double (1.0, 2.0, ...), each step
/// performs exactly these rounded operations:
///   u = (2n + 1) * xi;  u = u * P_n;  v = P_{n-1} * n;
///   P_{n+1} = (u - v) / (n + 1)
/// (2n + 1 as in legendre_odd_factor). Running the recurrence costs O(1) per
/// degree and gives the same bits as restarting it from P_0 for every degree.
class LegendreRecurrence {
public:
    /// Starts at degree 0.
    explicit LegendreRecurrence(double xi) : xi_(xi) {}

    /// The point the polynomials are evaluated at.
    [[nodiscard]] double xi() const { return xi_; }
    /// The current degree n, as an exact double.
    [[nodiscard]] double degree() const { return n_; }
    /// P_n(xi) for the current degree n.
    [[nodiscard]] double value() const { return current_; }
    /// P_{n-1}(xi) for the current degree n >= 1 (0.0 at degree 0).
    [[nodiscard]] double previous() const { return previous_; }

    /// Moves from degree n to n + 1.
    void advance() {
        if (n_ == 0.0) {
            previous_ = current_;
            current_ = xi_;
            n_ = 1.0;
            return;
        }
        // P_{n+1} = (((2n + 1) * xi) * P_n - P_{n-1} * n) / (n + 1), in this association.
        const double odd = legendre_odd_factor(n_);
        double u = odd * xi_;
        u = u * current_;
        const double v = previous_ * n_;
        const double numerator = u - v;
        const double next_degree = n_ + 1.0;
        const double next = divide_by_degree(numerator, next_degree);
        previous_ = current_;
        current_ = next;
        n_ = next_degree;
    }

private:
    double xi_;
    double n_ = 0.0;
    double previous_ = 0.0;
    double current_ = 1.0;
};

/// Writes P_0(xi) ... P_{m-1}(xi) into `out`, m = out.size(), by the recurrence
/// above (out[i] = P_i(xi)). Allocates nothing and never fails.
void legendre_values(double xi, std::span<double> out);

/// P_0(xi) ... P_degree(xi) as a new vector of degree + 1 values (index i holds
/// P_i). Fails with "capacity overflow" when degree + 1 values do not fit one
/// vector, before allocating.
[[nodiscard]] std::vector<double> legendre_values(double xi, index_t degree);

}  // namespace pwpoly
