// Locating times on the grid: interval index and local coordinate at the ends,
// break points, non-finite times and degenerate grids.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include "core_test_helpers.hpp"
#include "legendre/interval_location.hpp"

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

namespace pwpoly {
namespace {

// The located interval is found sooner from the reciprocal width; near every
// break point, where the product and the quotient can disagree, the result
// must still be that of the quotient, to the bit.
TEST(LegendreGrid, ReciprocalGuessNeverChangesTheLocation) {
    using testing::bits;
    const LegendreBasis grids[] = {
        {3, 10, 1.0}, {2, 3, 0.3}, {1, 7, 2.9},   {4, 1000, 1e-3}, {2, 49, 49.0},
        {1, 3, -2.0}, {2, 5, 0.0}, {3, 1, 1e300}, {2, 0, 1.0},     {1, 4294967295U, 1.0}};
    const double specials[] = {0.0,
                               -0.0,
                               -1.0,
                               std::numeric_limits<double>::infinity(),
                               -std::numeric_limits<double>::infinity(),
                               std::numeric_limits<double>::quiet_NaN()};
    for (const LegendreBasis& basis : grids) {
        const GridWidth width = grid_width(basis);
        auto expect_same = [&](double t) {
            const IntervalLocation plain = locate_interval(basis, t);
            const IntervalLocation guessed = locate_interval(basis, t, width);
            EXPECT_EQ(plain.k, guessed.k) << "t = " << t;
            EXPECT_EQ(bits(plain.xi), bits(guessed.xi)) << "t = " << t;
        };
        for (double t : specials) {
            expect_same(t);
        }
        const std::uint32_t breaks = std::min<std::uint32_t>(basis.n_t, 2000);
        for (std::uint32_t k = 0; k <= breaks; ++k) {
            const double at = static_cast<double>(k) * width.w;
            double below = at;
            double above = at;
            for (int step = 0; step < 4; ++step) {
                expect_same(below);
                expect_same(above);
                below = std::nextafter(below, -std::numeric_limits<double>::infinity());
                above = std::nextafter(above, std::numeric_limits<double>::infinity());
            }
        }
    }
}

// The same identity over random grids and times: spans from subnormal to
// huge, negative ones, up to 2^32 - 1 intervals, and times spread over the
// span, beyond it, and within a few hundred units in the last place of a
// break point.
TEST(LegendreGrid, ReciprocalGuessAgreesOnRandomGridsAndTimes) {
    using testing::bits;
    // A fixed seed: the same times on every run.
    std::mt19937_64 random(20261208);  // NOLINT(bugprone-random-generator-seed)
    const double spans[] = {1.0, 3.0, 1e-3, 0.1, 7.5, 1e300, 1e-300, 5e-324, 1e-310, -2.0, -1e-3};
    std::uniform_real_distribution<double> unit(-0.25, 1.25);
    std::uniform_int_distribution<int> ulps(-300, 300);
    for (int trial = 0; trial < 2000; ++trial) {
        const double T = spans[random() % std::size(spans)] * (1.0 + unit(random) / 4.0);
        const auto n_t = static_cast<index_t>(1 + (random() >> (1 + random() % 63)) % 4294967295U);
        const LegendreBasis basis{2, n_t, T};
        const GridWidth width = grid_width(basis);
        for (int sample = 0; sample < 100; ++sample) {
            double t = 0.0;
            if (sample % 2 == 0) {
                t = unit(random) * T;
            } else {
                const double k = std::floor(unit(random) * static_cast<double>(n_t));
                t = k * width.w;
                const int steps = ulps(random);
                for (int step = 0; step < std::abs(steps); ++step) {
                    t = std::nextafter(t, steps < 0 ? -HUGE_VAL : HUGE_VAL);
                }
            }
            const IntervalLocation plain = locate_interval(basis, t);
            const IntervalLocation guessed = locate_interval(basis, t, width);
            ASSERT_EQ(plain.k, guessed.k) << "T = " << T << ", n_t = " << n_t << ", t = " << t;
            ASSERT_EQ(bits(plain.xi), bits(guessed.xi))
                << "T = " << T << ", n_t = " << n_t << ", t = " << t;
        }
    }
}

}  // namespace
}  // namespace pwpoly
