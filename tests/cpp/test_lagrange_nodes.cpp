// Lagrange nodes of the whole grid and the equidistant points of one interval.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core_test_helpers.hpp"
#include "lagrange/equidistant_points.hpp"
#include "lagrange/lagrange_basis.hpp"

namespace pwpoly {
namespace {

using testing::bits;
using testing::message_of;
constexpr index_t max_index = std::numeric_limits<index_t>::max();

void expect_points(index_t degree, index_t n_t, double T, const std::vector<double>& expected) {
    const LagrangeBasis basis = LagrangeBasis::create(degree, n_t, T);
    ASSERT_EQ(basis.points.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(bits(basis.points[i]), bits(expected[i]))
            << "node " << i << " is " << basis.points[i];
    }
    EXPECT_EQ(basis.degree, degree);
    EXPECT_EQ(basis.n_t, n_t);
}

TEST(LagrangeNodes, PinnedExamples) {
    expect_points(2, 2, 1.0, {0.0, 0.25, 0.5, 0.75, 1.0});
    expect_points(3, 1, 1.0, {0.0, 0.3333333333333333, 0.6666666666666666, 1.0});
    expect_points(1, 3, 0.3, {0.0, 0.09999999999999999, 0.19999999999999998, 0.3});
    expect_points(
        2, 3, 0.3,
        {0.0, 0.049999999999999996, 0.09999999999999999, 0.15, 0.19999999999999998, 0.25, 0.3});
}

TEST(LagrangeNodes, DegenerateGridsAndSpans) {
    expect_points(0, 5, 2.5, {2.5});
    expect_points(0, 0, 2.5, {2.5});
    expect_points(7, 0, -1.5, {-1.5});
    expect_points(1, 2, -1.0, {-0.0, -0.5, -1.0});
    const LagrangeBasis nan_span = LagrangeBasis::create(2, 2, std::nan(""));
    ASSERT_EQ(nan_span.points.size(), 5U);
    for (const double x : nan_span.points) {
        EXPECT_TRUE(std::isnan(x));
    }
    // The largest degree is fine when there is no interval.
    expect_points(max_index, 0, 1.0, {1.0});
}

TEST(LagrangeNodes, OversizedGridsFailBeforeAllocating) {
    EXPECT_EQ(message_of([] { (void)LagrangeBasis::create(max_index, 1, 1.0); }),
              "capacity overflow");
    EXPECT_EQ(message_of([] { (void)LagrangeBasis::create(1, 300000000, 1.0); }),
              "capacity overflow");
    // 134217728 intervals of 16 bytes exceed one vector; the nodes alone would fit.
    EXPECT_EQ(message_of([] { (void)LagrangeBasis::create(1, 134217728, 1.0); }),
              "capacity overflow");
    // The intervals would fit, the 300000001 nodes not; nothing is allocated.
    EXPECT_EQ(message_of([] { (void)LagrangeBasis::create(3, 100000000, 1.0); }),
              "capacity overflow");
    EXPECT_EQ(message_of([] { (void)equidistant_points(0.0, 1.0, max_index); }),
              "capacity overflow");
}

TEST(EquidistantPoints, BothEndsIncludedAndDegreeZeroIsNan) {
    EXPECT_EQ(equidistant_points(-1.0, 1.0, 4), (std::vector<double>{-1.0, -0.5, 0.0, 0.5, 1.0}));
    // Multiplying before dividing: 3 * (1 / 10) would give 0.30000000000000004.
    const std::vector<double> tenths = equidistant_points(0.0, 1.0, 10);
    EXPECT_EQ(tenths[3], 0.3);
    EXPECT_EQ(tenths[7], 0.7);
    const std::vector<double> single = equidistant_points(2.0, 3.0, 0);
    ASSERT_EQ(single.size(), 1U);
    EXPECT_TRUE(std::isnan(single[0]));
}

}  // namespace
}  // namespace pwpoly
