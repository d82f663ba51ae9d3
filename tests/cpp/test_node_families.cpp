// Reference nodes and weights of the node families, their transformation
// tables, and their placement on the grid.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core_test_helpers.hpp"
#include "legendre/legendre_recurrence.hpp"
#include "nodes/family_transformation.hpp"
#include "nodes/grid_nodes.hpp"
#include "nodes/reference_nodes.hpp"

namespace pwpoly {
namespace {

using testing::bits;
using testing::message_of;

double legendre(index_t n, double x) { return legendre_values(x, n)[n]; }

void expect_ascending_and_mirrored(const std::vector<double>& nodes) {
    for (std::size_t c = 0; c + 1 < nodes.size(); ++c) {
        EXPECT_LT(nodes[c], nodes[c + 1]) << c;
        EXPECT_EQ(nodes[c], -nodes[nodes.size() - 1 - c]) << c;
    }
}

TEST(ReferenceNodes, SmallCountsAreTheKnownRoots) {
    EXPECT_EQ(gauss_legendre_nodes(1), (std::vector<double>{0.0}));
    const std::vector<double> two = gauss_legendre_nodes(2);
    EXPECT_NEAR(two[1], 1.0 / std::sqrt(3.0), 2e-16);
    const std::vector<double> three = gauss_legendre_nodes(3);
    EXPECT_EQ(three[1], 0.0);
    EXPECT_NEAR(three[2], std::sqrt(0.6), 2e-16);
    EXPECT_EQ(gauss_lobatto_nodes(1), (std::vector<double>{-1.0, 1.0}));
    EXPECT_EQ(gauss_lobatto_nodes(2), (std::vector<double>{-1.0, 0.0, 1.0}));
    EXPECT_NEAR(gauss_lobatto_nodes(3)[2], 1.0 / std::sqrt(5.0), 2e-16);
    const std::vector<double> chebyshev = chebyshev_lobatto_nodes(4);
    EXPECT_EQ(chebyshev[2], 0.0);
    EXPECT_NEAR(chebyshev[3], std::sqrt(0.5), 2e-16);
}

TEST(ReferenceNodes, HighDegreesKeepOrderSymmetryAndInterlacing) {
    // The roots of P'_n lie between consecutive roots of P_n: a Newton
    // iteration that jumped to a neighbouring root would break this.
    for (const index_t n : {7U, 64U, 999U, 1000U, 4096U}) {
        const std::vector<double> roots = gauss_legendre_nodes(n);
        const std::vector<double> lobatto = gauss_lobatto_nodes(n);
        expect_ascending_and_mirrored(roots);
        expect_ascending_and_mirrored(lobatto);
        expect_ascending_and_mirrored(chebyshev_lobatto_nodes(n));
        for (index_t c = 1; c < n; ++c) {
            ASSERT_LT(roots[c - 1], lobatto[c]) << n << " " << c;
            ASSERT_LT(lobatto[c], roots[c]) << n << " " << c;
        }
    }
}

TEST(ReferenceRules, WeightsOfSmallRulesAndTheirSums) {
    const std::vector<double> simpson{1.0 / 3, 4.0 / 3, 1.0 / 3};
    for (const NodeFamily family :
         {NodeFamily::gauss_lobatto, NodeFamily::chebyshev_lobatto, NodeFamily::equidistant}) {
        const ReferenceRule rule = reference_rule(family, 2);
        for (std::size_t c = 0; c < 3; ++c) {
            EXPECT_NEAR(rule.weights[c], simpson[c], 8e-16);
        }
    }
    for (const NodeFamily family :
         {NodeFamily::gauss_legendre, NodeFamily::gauss_lobatto, NodeFamily::chebyshev_lobatto}) {
        for (const index_t degree : {1U, 5U, 40U, 500U}) {
            const ReferenceRule rule = reference_rule(family, degree);
            double sum = 0.0;
            for (const double w : rule.weights) {
                EXPECT_GT(w, 0.0);
                sum += w;
            }
            EXPECT_NEAR(sum, 2.0, 1e-13) << degree;
        }
    }
}

TEST(FamilyTables, InvertTheLegendreVandermondeMatrix) {
    // sum_c W[p][c] P_j(x_c) = [p == j] for every family.
    for (const NodeFamily family :
         {NodeFamily::gauss_legendre, NodeFamily::gauss_lobatto, NodeFamily::chebyshev_lobatto}) {
        for (const index_t degree : {1U, 2U, 9U, 30U}) {
            const SquareMatrix w = family_weight_table(family, degree);
            const std::vector<double> x = reference_nodes(family, degree);
            for (index_t p = 0; p <= degree; ++p) {
                for (index_t j = 0; j <= degree; ++j) {
                    double sum = 0.0;
                    for (index_t c = 0; c <= degree; ++c) {
                        sum += w.at(p, c) * legendre(j, x[c]);
                    }
                    EXPECT_NEAR(sum, p == j ? 1.0 : 0.0, 1e-13) << degree << " " << p << " " << j;
                }
            }
        }
    }
    EXPECT_EQ(family_weight_table(NodeFamily::equidistant, 5),
              family_weight_table(NodeFamily::equidistant, 5));
    EXPECT_EQ(family_weight_table(NodeFamily::gauss_legendre, 0).entries,
              (std::vector<double>{1.0}));
}

TEST(GridPlacement, SharedEndsAndTheLastNodeAreThoseOfTheLagrangeNodes) {
    const std::vector<double> reference = gauss_lobatto_nodes(3);
    std::vector<double> out(3 * 3 + 1);
    place_grid_nodes(NodeFamily::gauss_lobatto, reference, 3, 0.7, 0, 3, out);
    const double width = 0.7 / 3.0;
    EXPECT_EQ(out[0], 0.0);
    EXPECT_EQ(bits(out[3]), bits(1.0 * width));
    EXPECT_EQ(bits(out[6]), bits(2.0 * width));
    EXPECT_EQ(out[9], 0.7);
    // Filling in two ranges gives the same nodes as one call.
    std::vector<double> parts(out.size(), -1.0);
    place_grid_nodes(NodeFamily::gauss_lobatto, reference, 3, 0.7, 2, 3, parts);
    place_grid_nodes(NodeFamily::gauss_lobatto, reference, 3, 0.7, 0, 2, parts);
    EXPECT_EQ(parts, out);

    std::vector<double> weights(out.size());
    const ReferenceRule rule = reference_rule(NodeFamily::gauss_lobatto, 3);
    place_grid_weights(NodeFamily::gauss_lobatto, rule.weights, 3, 0.7, 0, 3, weights);
    EXPECT_EQ(weights[3], (rule.weights[0] + rule.weights[3]) * (width * 0.5));
    EXPECT_EQ(weights[9], rule.weights[3] * (width * 0.5));

    EXPECT_EQ(message_of([&] {
                  place_grid_nodes(NodeFamily::gauss_legendre, reference, 3, 0.7, 0, 3, out);
              }),
              "batch kernel: wrong buffer size");
}

}  // namespace
}  // namespace pwpoly
