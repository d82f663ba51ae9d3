// The calculus kernels on Legendre series against values worked out by hand
// on grids where every step is exact: derivatives with their interval
// scaling, joined antiderivatives, definite integrals, end values, power
// coefficients, local weights, extrapolation, and the checks on sizes and
// ranges.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "calculus/extrapolation.hpp"
#include "calculus/series_antiderivative.hpp"
#include "calculus/series_conversions.hpp"
#include "calculus/series_derivative.hpp"
#include "core_test_helpers.hpp"

namespace pwpoly {
namespace {

using calculus::SeriesColumns;
using testing::message_of;
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// One column of P_3 on one interval of width 2 (scale 1) or 1 (scale 2).
TEST(SeriesDerivative, FollowsTheLegendreIdentitiesWithTheIntervalScaling) {
    const std::vector<double> p3 = {0.0, 0.0, 0.0, 1.0};
    for (const double T : {2.0, 1.0}) {
        const double scale = 2.0 / T;
        const SeriesColumns series{{3, 1, T}, p3, 1};
        // P_3' = 5 P_2 + P_0; P_3'' = 15 P_1; P_3''' = 15.
        const std::vector<std::vector<double>> expected = {
            {0.0, 0.0, 0.0, 1.0}, {1.0, 0.0, 5.0}, {0.0, 15.0}, {15.0}, {0.0}, {0.0}};
        for (std::uint64_t nu = 0; nu < expected.size(); ++nu) {
            std::vector<double> out(expected[nu].size(), -7.0);
            calculus::differentiate_series(series, nu, out, 0, 1);
            for (std::size_t i = 0; i < out.size(); ++i) {
                EXPECT_EQ(out[i], expected[nu][i] * std::pow(scale, static_cast<double>(nu)))
                    << "nu = " << nu << ", i = " << i << ", T = " << T;
            }
        }
    }
}

TEST(SeriesDerivative, WritesOnlyTheIntervalsOfItsRangeAndEveryColumn) {
    // Two intervals of width 2, two columns: column e of interval k holds
    // (k + 1) * (e + 1) * P_2, whose derivative is 3 (k + 1)(e + 1) P_1.
    const std::vector<double> values = {0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 2, 4};
    const SeriesColumns series{{2, 2, 4.0}, values, 2};
    std::vector<double> out(8, -7.0);
    calculus::differentiate_series(series, 1, out, 1, 2);
    EXPECT_EQ(out, (std::vector<double>{-7, -7, 0, 0, -7, -7, 6, 12}));
}

TEST(SeriesAntiderivative, JoinsPiecesIntoAContinuousFunctionZeroAtTheStart) {
    // The constant 1 on four intervals of width 1: its antiderivative is t,
    // on interval k the series (k + 1/2) P_0 + (1/2) P_1.
    const std::vector<double> ones(4, 1.0);
    const SeriesColumns series{{0, 4, 4.0}, ones, 1};
    std::vector<double> pieces(8, -7.0);
    calculus::integrate_pieces(series, pieces, 0, 4);
    EXPECT_EQ(pieces, (std::vector<double>{0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5}));
    calculus::join_pieces(series, pieces, 0, 1);
    EXPECT_EQ(pieces, (std::vector<double>{0.5, 1.5, 2.5, 3.5, 0.5, 0.5, 0.5, 0.5}));
}

TEST(SeriesAntiderivative, IntegratesEachDegreeAsLegint) {
    // On one interval of width 2: the integral from -1 of P_0 + P_1 + P_2 + P_3
    // is (P_0 + P_1) + (P_2 - P_0) / 3 + (P_3 - P_1) / 5 + (P_4 - P_2) / 7.
    const std::vector<double> values = {1.0, 1.0, 1.0, 1.0};
    std::vector<double> pieces(5);
    calculus::integrate_pieces({{3, 1, 2.0}, values, 1}, pieces, 0, 1);
    const double third = 1.0 / 3.0;
    const double fifth = 1.0 / 5.0;
    const double seventh = 1.0 / 7.0;
    EXPECT_EQ(pieces,
              (std::vector<double>{1.0 - third, 1.0 - fifth, third - seventh, fifth, seventh}));
}

TEST(DefiniteIntegral, SumsWholeIntervalsAndTheTwoPartialOnes) {
    // Interval 0 of [0, 4] (width 2) holds 1 + xi = t, interval 1 the constant 2.
    const std::vector<double> values = {1.0, 2.0, 1.0, 0.0};
    const SeriesColumns series{{1, 2, 4.0}, values, 1};
    const auto integral = [&](double a, double b) {
        std::vector<double> out(1);
        calculus::definite_integral(series, a, b, out, 0, 1);
        return out[0];
    };
    EXPECT_EQ(integral(0.0, 4.0), 6.0);
    EXPECT_EQ(integral(0.5, 3.0), 3.875);
    EXPECT_EQ(integral(3.0, 0.5), -3.875);
    EXPECT_EQ(integral(1.0, 1.5), 0.625);
    EXPECT_EQ(integral(2.5, 2.5), 0.0);
    EXPECT_EQ(message_of([&] { (void)integral(-1.0, 2.0); }),
              "calculus kernel: integration bounds outside [0, T]");
}

TEST(EndValues, AlternateInSignAtTheLeftEnd) {
    const std::vector<double> values = {1.0, 2.0, 3.0, 4.0};
    std::vector<double> start(1);
    std::vector<double> end(1);
    calculus::series_end_values({{3, 1, 1.0}, values, 1}, start, end, 0, 1);
    EXPECT_EQ(start[0], -2.0);
    EXPECT_EQ(end[0], 10.0);
}

TEST(PowerCoefficients, ShiftTheLegendrePolynomialsToTheLeftEnd) {
    // P_2 on the second interval of width 2: xi = s - 1, P_2 = 1.5 s^2 - 3 s + 1.
    const std::vector<double> values = {0.0, 0.0, 0.0, 0.0, 0.0, 1.0};
    std::vector<double> out(6, -7.0);
    calculus::power_coefficients({{2, 2, 4.0}, values, 1}, out, 1, 2);
    EXPECT_EQ(out, (std::vector<double>{-7.0, 1.5, -7.0, -3.0, -7.0, 1.0}));
}

TEST(LocalWeights, ReadTheNodesOfEachIntervalWithTheirStep) {
    // Degree 1, weights [[1, 2], [3, 4]]: shared nodes (step 1) and own ones (step 2).
    const std::vector<double> weights = {1.0, 2.0, 3.0, 4.0};
    const std::vector<double> shared = {1.0, 10.0, 100.0};
    std::vector<double> out(4);
    calculus::apply_local_weights({1, 2, 1.0}, weights, 1, shared, 1, out, 0, 2);
    EXPECT_EQ(out, (std::vector<double>{21.0, 210.0, 43.0, 430.0}));
    const std::vector<double> own = {1.0, 10.0, 100.0, 1000.0};
    calculus::apply_local_weights({1, 2, 1.0}, weights, 2, own, 1, out, 0, 2);
    EXPECT_EQ(out, (std::vector<double>{21.0, 2100.0, 43.0, 4300.0}));
    EXPECT_EQ(message_of([&] {
                  calculus::apply_local_weights({1, 2, 1.0}, weights, 2, shared, 1, out, 0, 2);
              }),
              "calculus kernel: wrong buffer size");
}

TEST(Extrapolation, ContinuesTheEndPolynomialsOrWritesNan) {
    // On [0, 2], one interval: 3 + 2 P_1 = 3 + 2 (t - 1), and -P_2 beside it.
    const std::vector<double> values = {3.0, 0.0, 2.0, 0.0, 0.0, -1.0};
    const SeriesColumns series{{2, 1, 2.0}, values, 2};
    const std::vector<double> times = {-1.0, 1.0, 4.0, -inf, inf, nan};
    std::vector<double> out(12, 5.0);
    calculus::extrapolate_outside_span(series, calculus::OutsideSpan::extend, times, out, 0, 6);
    // t = -1: xi = -2, P_2 = 5.5; t = 4: xi = 3, P_2 = 13.
    const std::vector<double> extended = {-1.0, -5.5, 5.0, 5.0,  9.0, -13.0,
                                          -inf, -inf, inf, -inf, nan, nan};
    for (std::size_t v = 0; v < out.size(); ++v) {
        EXPECT_TRUE(out[v] == extended[v] || (std::isnan(out[v]) && std::isnan(extended[v])))
            << v << ": " << out[v];
    }
    std::fill(out.begin(), out.end(), 5.0);
    calculus::extrapolate_outside_span(series, calculus::OutsideSpan::nan, times, out, 0, 6);
    for (std::size_t v = 0; v < out.size(); ++v) {
        EXPECT_EQ(std::isnan(out[v]), v / 2 != 1) << v;
    }
    EXPECT_EQ(calculus::first_outside_span(2.0, times, 0, 6), 0U);
    EXPECT_EQ(calculus::first_outside_span(2.0, times, 1, 2), 2U);
    EXPECT_EQ(calculus::first_outside_span(2.0, times, 1, 3), 2U);
}

TEST(Extrapolation, OverflowGivesTheLimitAndZeroCoefficientsAddNothing) {
    // 1 + 0 P_1 + 0 P_2 + P_3 far out: P_3 overflows; and the constant 1 padded with zeros.
    const std::vector<double> values = {1.0, 1.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0};
    const SeriesColumns series{{3, 1, 1.0}, values, 2};
    const std::vector<double> times = {-1e300, 1e300};
    std::vector<double> out(4);
    calculus::extrapolate_outside_span(series, calculus::OutsideSpan::extend, times, out, 0, 2);
    EXPECT_EQ(out, (std::vector<double>{-inf, 1.0, inf, 1.0}));
}

TEST(CalculusChecks, RefuseWrongSizesAndRanges) {
    const std::vector<double> values(6, 1.0);
    std::vector<double> out(6);
    EXPECT_EQ(
        message_of([&] { calculus::differentiate_series({{2, 2, 1.0}, values, 1}, 1, out, 0, 2); }),
        "calculus kernel: wrong buffer size");
    EXPECT_EQ(
        message_of([&] { calculus::differentiate_series({{2, 2, 1.0}, values, 1}, 0, out, 1, 3); }),
        "calculus kernel: range out of bounds");
    EXPECT_EQ(
        message_of([&] { calculus::differentiate_series({{2, 0, 1.0}, values, 1}, 0, out, 0, 0); }),
        "calculus kernel: n_t must be at least 1");
    EXPECT_EQ(message_of([&] { calculus::integrate_pieces({{2, 2, 1.0}, values, 1}, out, 0, 2); }),
              "calculus kernel: wrong buffer size");
}

}  // namespace
}  // namespace pwpoly
