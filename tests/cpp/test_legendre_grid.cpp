// Locating times on the grid: interval index and local coordinate at the ends,
// break points, non-finite times and degenerate grids.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "legendre/interval_location.hpp"
#include "legendre_test_helpers.hpp"

namespace pwpoly {
namespace {

using testing::bits;
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

TEST(LegendreGrid, SizesAreExactForTheLargestRecord) {
    const LegendreBasis largest{4294967295U, 4294967295U, 1.0};
    EXPECT_EQ(coefficients_per_interval(largest), 4294967296ULL);
    EXPECT_EQ(coefficient_count(largest), 4294967295ULL * 4294967296ULL);
}

TEST(LegendreGrid, LocatesTimesToTheBit) {
    struct Case {
        LegendreBasis basis;
        double t;
        index_t k;
        double xi;
    };
    const Case cases[] = {
        {{2, 3, 3.0}, 0.0, 0, -1.0},
        {{2, 3, 3.0}, 1.25, 1, -0.5},
        {{2, 3, 1.0}, 1.0, 2, 1.0},
        {{2, 3, 0.3}, 0.3, 2, 0.9999999999999998},
        {{2, 10, 1.0}, 0.7, 6, 0.9999999999999967},  // floor(0.7 / 0.1) = 6
        {{2, 3, 1.0}, 1.0 / 3.0, 1, -1.0},
        {{2, 3, 3.0}, -1e-300, 0, -1.0},
        {{2, 3, 3.0}, -inf, 0, -1.0},
        {{2, 3, 3.0}, 4.0, 2, 1.0},
        {{2, 3, 3.0}, inf, 2, 1.0},
        {{1, 4294967295U, 1.0}, 2.0, 4294967294U, 1.0},  // saturates, then clamps
        {{2, 3, 0.0}, 0.5, 2, 1.0},
        {{2, 3, 0.0}, -0.5, 0, -1.0},
        {{2, 3, 0.0}, 0.0, 0, nan},
        {{2, 3, 3.0}, nan, 0, nan},
    };
    for (const Case& c : cases) {
        const IntervalLocation at = locate_interval(c.basis, c.t);
        EXPECT_EQ(at.k, c.k) << "T = " << c.basis.T << ", t = " << c.t;
        if (std::isnan(c.xi)) {
            EXPECT_TRUE(std::isnan(at.xi)) << "T = " << c.basis.T << ", t = " << c.t;
        } else {
            EXPECT_EQ(bits(at.xi), bits(c.xi)) << "T = " << c.basis.T << ", t = " << c.t;
        }
    }
}

TEST(LegendreGrid, NegativeSpansAndNoIntervalsStayInRange) {
    for (const double t : {-4.0, -1.5, -0.0, 1.25, 3.0, inf, -inf, nan}) {
        const IntervalLocation at = locate_interval({2, 3, -3.0}, t);
        EXPECT_LT(at.k, 3U) << t;
        EXPECT_TRUE(std::isnan(t) || (at.xi >= -1.0 && at.xi <= 1.0)) << t << " -> " << at.xi;
        EXPECT_EQ(locate_interval({2, 0, 3.0}, t).k, 0U) << t;
    }
}

}  // namespace
}  // namespace pwpoly
