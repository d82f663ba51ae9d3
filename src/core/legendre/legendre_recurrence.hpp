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
    void advance();

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
