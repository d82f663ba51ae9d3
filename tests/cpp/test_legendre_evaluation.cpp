// Legendre values and derivatives, and evaluation of piecewise expansions:
// worked examples to the bit, signed zeros, non-finite inputs, accuracy at the
// interval ends, and the bounds checks.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "core_test_helpers.hpp"
#include "legendre/evaluation.hpp"
#include "legendre/interval_location.hpp"
#include "legendre/legendre_derivative.hpp"

namespace pwpoly {
namespace {

using testing::bits;
using testing::message_of;
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

/// The value recurrence as one expression per step, restarted from P_0.
double reference_value(double xi, int degree) {
    double p0 = 1.0;
    double p1 = xi;
    if (degree == 0) {
        return p0;
    }
    double n = 1.0;
    for (int step = 1; step < degree; ++step) {
        const double p2 = ((((n + n) + 1.0) * xi) * p1 - p0 * n) / (n + 1.0);
        p0 = p1;
        p1 = p2;
        n = n + 1.0;
    }
    return p1;
}

/// dP_n/dx from P_n(x) = sum_k C(n,k) C(n+k,k) ((x-1)/2)^k in long double,
/// expanded about the nearer end (P_n(-x) = (-1)^n P_n(x)).
long double reference_derivative(double xi, int n) {
    const long double h = (std::fabs(static_cast<long double>(xi)) - 1.0L) / 2.0L;
    long double sum = 0.0L;
    long double binomials = 1.0L;
    long double power = 1.0L;
    for (int k = 1; k <= n; ++k) {
        binomials = binomials * (n - k + 1) / k * (n + k) / k;
        sum += binomials * k * power / 2.0L;
        power *= h;
    }
    return (xi < 0 && n % 2 == 0) ? -sum : sum;
}

TEST(LegendreRecurrence, ValuesMatchTheRoundingOrderAndEndsAreExact) {
    for (const double xi : {-1.0, -0.7, -0.5, -1e-3, 0.0, 1.0 / 3.0, 0.99951, 1.0, nan}) {
        const std::vector<double> values = legendre_values(xi, 30);
        for (int i = 0; i <= 30; ++i) {
            const double expected = reference_value(xi, i);
            if (std::isnan(expected)) {
                EXPECT_TRUE(std::isnan(values[i]) && i >= 1) << xi << " P_" << i;
            } else {
                EXPECT_EQ(bits(values[i]), bits(expected)) << xi << " P_" << i;
            }
        }
    }
    EXPECT_EQ(message_of([] { (void)legendre_values(0.0, 4294967295U); }), "capacity overflow");
}

TEST(LegendreDerivative, AccurateUpToTheEndsAndAcrossTheSwitch) {
    for (const double xi : {0.9999999999999967, -0.9999999999999967, 0.9999999, 0.99951, 0.99949,
                            -0.99949, 0.9, -0.75, 0.6}) {
        LegendreDerivativeRecurrence legendre(xi);
        for (int n = 1; n <= 12; ++n) {
            legendre.advance();
            const long double error = legendre.derivative() - reference_derivative(xi, n);
            EXPECT_LE(std::fabs(error), 1e-11L * n * (n + 1) / 2) << "xi = " << xi << ", n = " << n;
        }
    }
}

TEST(Evaluate, WorkedExampleToTheBit) {
    const CoefficientMatrix c =
        coefficient_matrix(std::vector<double>{1, 2, 3, 4, 5, 6, 7, 8, 9}, 3, 2);
    EXPECT_EQ(bits(evaluate({2, 3, 3.0}, 1.25, c)), bits(-1.5));
    EXPECT_EQ(bits(evaluate_derivative({2, 3, 3.0}, 1.25, c)), bits(-14.000000000000032));
}

TEST(Evaluate, ViewsCopiesAndIntervalSlicesGiveTheSameBits) {
    const std::vector<double> longer{0.3, -1.7, 2.9, 4.1, 0.25, -6.5, 7.3, 8.8, -0.9, 1e300};
    const CoefficientMatrix copy = coefficient_matrix(longer, 3, 2);  // drops the last value
    EXPECT_EQ(copy.values, std::vector<double>(longer.begin(), longer.begin() + 9));
    const LegendreBasis basis{2, 3, 0.3};
    for (const double t : {-1.0, 0.05, 0.17, 0.2999, 0.3, nan}) {
        const IntervalLocation at = locate_interval(basis, t);
        const std::vector<double> row{longer[at.k], longer[at.k + 3], longer[at.k + 6]};
        const double value = evaluate(basis, t, coefficient_view(longer, 3, 2));
        EXPECT_EQ(bits(value), bits(evaluate(basis, t, copy))) << t;
        EXPECT_EQ(bits(value), bits(expansion_value(at.xi, contiguous_coefficients(row)))) << t;
        EXPECT_EQ(bits(value), bits(expansion_value(at.xi, {longer.data() + at.k, 3, 3}))) << t;
        EXPECT_EQ(bits(evaluate_derivative(basis, t, copy)),
                  bits(expansion_time_derivative(at.xi, interval_width(basis),
                                                 contiguous_coefficients(row))))
            << t;
    }
}

TEST(Evaluate, SignedZerosDegreeZeroAndNonFiniteInputs) {
    const LegendreBasis basis{2, 3, 3.0};
    const CoefficientMatrix zeros = coefficient_matrix(std::vector<double>(9, 0.0), 3, 2);
    const CoefficientMatrix minus_zeros = coefficient_matrix(std::vector<double>(9, -0.0), 3, 2);
    EXPECT_EQ(bits(evaluate(basis, 1.25, zeros)), bits(0.0));
    EXPECT_EQ(bits(evaluate(basis, 3.0, minus_zeros)), bits(-0.0));  // every P_i(1) = 1
    EXPECT_TRUE(std::isnan(evaluate(basis, nan, zeros)));
    EXPECT_TRUE(std::isnan(evaluate_derivative(basis, nan, zeros)));

    const CoefficientMatrix c = coefficient_matrix(std::vector<double>{4.0, -7.5, inf}, 3, 0);
    EXPECT_EQ(evaluate({0, 3, 3.0}, 1.25, c), -7.5);
    EXPECT_EQ(evaluate({0, 3, 3.0}, nan, c), 4.0);
    EXPECT_EQ(bits(evaluate_derivative({0, 3, 3.0}, 1.25, c)), bits(-0.0));  // 0 * -7.5
    EXPECT_TRUE(std::isnan(evaluate_derivative({0, 3, 3.0}, 2.5, c)));

    // Degree 1 at a NaN time: P'_0 = 0 and P'_1 = 1 keep the derivative finite.
    const std::vector<double> linear{1, 2, 3, 4, 5, 6};
    EXPECT_EQ(evaluate_derivative({1, 3, 3.0}, nan, coefficient_matrix(linear, 3, 1)), 8.0);
}

TEST(Evaluate, DerivativeAtTheEndsKeepsHighDegrees) {
    // One interval of width 2, so d/dt equals d/dxi; P'_3(+-1) = 6.
    const CoefficientMatrix c = coefficient_matrix(std::vector<double>{0, 0, 0, 1}, 1, 3);
    for (const double t : {-1.0, 2.0, 5.0}) {
        EXPECT_EQ(evaluate_derivative({3, 1, 2.0}, t, c), 6.0);
    }
}

TEST(Evaluate, BoundsChecksComeBeforeArithmetic) {
    const std::vector<double> eight(8, 1.0);
    EXPECT_EQ(message_of([&] { (void)coefficient_matrix(eight, 3, 2); }),
              "Matrix view: input data buffer too small.");
    EXPECT_EQ(message_of([&] { (void)coefficient_view(eight, 2, 4294967295U); }),
              "Matrix view: input data buffer too small.");
    const CoefficientMatrix empty = coefficient_matrix({}, 0, 2);
    EXPECT_EQ(message_of([&] { (void)evaluate({2, 0, 3.0}, 1.0, empty); }),
              "Matrix slicing out of bounds.");
    EXPECT_EQ(message_of([&] { (void)evaluate_derivative({2, 0, 3.0}, nan, empty); }),
              "Matrix slicing out of bounds.");
    EXPECT_EQ(
        message_of([&] { (void)evaluate({2, 3, 3.0}, 1.0, coefficient_matrix(eight, 3, 1)); }),
        "Matrix index out of bounds.");
    EXPECT_EQ(
        message_of([&] { (void)evaluate({2, 3, 3.0}, 2.5, coefficient_matrix(eight, 2, 2)); }),
        "Matrix slicing out of bounds.");
}

}  // namespace
}  // namespace pwpoly
