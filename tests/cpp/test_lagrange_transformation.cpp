// The local weight table, the per-degree slabs, and the global transformation
// with its triplets, built through the sparse records and directly.
#include <gtest/gtest.h>

#include <limits>

#include "core_test_helpers.hpp"
#include "lagrange/dense_inverse.hpp"
#include "lagrange/equidistant_points.hpp"
#include "lagrange/legendre_slab.hpp"
#include "lagrange/transformation.hpp"
#include "lagrange/transformation_triplets.hpp"
#include "lagrange/weight_table.hpp"
#include "legendre/legendre_recurrence.hpp"

namespace pwpoly {
namespace {

using testing::bits;
using testing::message_of;
constexpr char degree_zero[] = "Lagrange to Legendre conversion not meaningful for degree 0";

void expect_weights_near(index_t degree, const std::vector<std::vector<double>>& exact) {
    const SquareMatrix w = lagrange_to_legendre_weights(degree);
    ASSERT_EQ(w.size, degree + 1);
    for (index_t p = 0; p <= degree; ++p) {
        for (index_t c = 0; c <= degree; ++c) {
            EXPECT_NEAR(w.at(p, c), exact[p][c], 1e-15) << "W[" << p << "][" << c << "]";
        }
    }
}

TEST(WeightTable, FixedTablesAndInvertedVandermonde) {
    EXPECT_EQ(lagrange_to_legendre_weights(1).entries, (std::vector<double>{0.5, 0.5, -0.5, 0.5}));
    EXPECT_EQ(lagrange_to_legendre_weights(2).entries,
              (std::vector<double>{1.0 / 6, 2.0 / 3, 1.0 / 6, -0.5, 0.0, 0.5, 1.0 / 3, -2.0 / 3,
                                   1.0 / 3}));
    expect_weights_near(3, {{1. / 8, 3. / 8, 3. / 8, 1. / 8},
                            {-11. / 40, -27. / 40, 27. / 40, 11. / 40},
                            {3. / 8, -3. / 8, -3. / 8, 3. / 8},
                            {-9. / 40, 27. / 40, -27. / 40, 9. / 40}});
    expect_weights_near(4, {{7. / 90, 16. / 45, 2. / 15, 16. / 45, 7. / 90},
                            {-7. / 30, -8. / 15, 0, 8. / 15, 7. / 30},
                            {17. / 63, 16. / 63, -22. / 21, 16. / 63, 17. / 63},
                            {-4. / 15, 8. / 15, 0, -8. / 15, 4. / 15},
                            {16. / 105, -64. / 105, 32. / 35, -64. / 105, 16. / 105}});
    // The elimination's operation order is fixed, down to the rounding residue
    // where the exact weight is zero.
    const SquareMatrix w4 = lagrange_to_legendre_weights(4);
    EXPECT_EQ(bits(w4.at(1, 2)), bits(-7.737918050417757e-17));
    EXPECT_EQ(bits(w4.at(3, 2)), bits(7.737918050417757e-17));
}

TEST(WeightTable, ReproducesLegendreValuesAtTheNodes) {
    // sum_c W[p][c] P_j(xi_c) = [p == j]: W inverts the transposed Vandermonde
    // matrix, for cofactors (3) and elimination (4 and up).
    for (index_t degree = 3; degree <= 10; ++degree) {
        const SquareMatrix w = lagrange_to_legendre_weights(degree);
        const std::vector<double> nodes = equidistant_points(-1.0, 1.0, degree);
        std::vector<std::vector<double>> p_at(degree + 1, std::vector<double>(degree + 1));
        for (index_t c = 0; c <= degree; ++c) {
            legendre_values(nodes[c], p_at[c]);
        }
        for (index_t p = 0; p <= degree; ++p) {
            for (index_t j = 0; j <= degree; ++j) {
                double sum = 0.0;
                for (index_t c = 0; c <= degree; ++c) {
                    sum += w.at(p, c) * p_at[c][j];
                }
                EXPECT_NEAR(sum, p == j ? 1.0 : 0.0, 1e-10) << degree << ": " << p << ", " << j;
            }
        }
    }
}

TEST(WeightTable, Failures) {
    EXPECT_EQ(message_of([] { (void)lagrange_to_legendre_weights(0); }), degree_zero);
    EXPECT_EQ(message_of([] { (void)lagrange_to_legendre_weights(100000); }), "capacity overflow");
    EXPECT_FALSE(invert_by_cofactors(SquareMatrix::zeros(4)).has_value());
    SquareMatrix singular = SquareMatrix::identity(5);
    singular.at(3, 3) = 0.0;
    EXPECT_FALSE(invert_by_elimination(singular).has_value());
}

TEST(LegendreSlab, RowsSpreadOneRowOfWeights) {
    const CsrMatrix b1 =
        to_legendre_basis_matrix_for_pol_degree(LagrangeBasis::create(1, 2, 1.0), 1);
    EXPECT_EQ(b1.major_offsets, (std::vector<index_t>{0, 2, 4}));
    EXPECT_EQ(b1.column_indices, (std::vector<index_t>{0, 1, 1, 2}));
    EXPECT_EQ(b1.values, (std::vector<double>{-0.5, 0.5, -0.5, 0.5}));
    EXPECT_EQ(b1.ncols, 3U);

    const LagrangeBasis degree_two = LagrangeBasis::create(2, 1, 1.0);
    EXPECT_EQ(message_of([&] { (void)to_legendre_basis_matrix_for_pol_degree(degree_two, 3); }),
              "Matrix slicing out of bounds.");
    const LagrangeBasis flat = LagrangeBasis::create(0, 0, 1.0);
    EXPECT_EQ(message_of([&] { (void)to_legendre_basis_matrix_for_pol_degree(flat, 9); }),
              degree_zero);
}

Triplets through_sparse_records(index_t degree, index_t n_t) {
    return csr_to_triplets(
        get_transormation_matrix_to_legendre(LagrangeBasis::create(degree, n_t, 1.0)));
}

TEST(Transformation, PinnedTriplets) {
    EXPECT_EQ(through_sparse_records(1, 2), (Triplets{{0, 0, 1, 1, 2, 2, 3, 3},
                                                      {0, 1, 1, 2, 0, 1, 1, 2},
                                                      {0.5, 0.5, 0.5, 0.5, -0.5, 0.5, -0.5, 0.5}}));
    EXPECT_EQ(through_sparse_records(2, 1),
              (Triplets{{0, 0, 0, 1, 1, 1, 2, 2, 2},
                        {0, 1, 2, 0, 1, 2, 0, 1, 2},
                        {0.16666666666666666, 0.6666666666666666, 0.16666666666666666, -0.5, 0.0,
                         0.5, 0.3333333333333333, -0.6666666666666666, 0.3333333333333333}}));
    const CsrMatrix empty = get_transormation_matrix_to_legendre(LagrangeBasis::create(2, 0, 1.0));
    EXPECT_EQ(empty.nrows(), 0U);
    EXPECT_EQ(empty.ncols, 1U);
}

TEST(Transformation, DirectTripletsEqualTheAssembledOnes) {
    const std::pair<index_t, index_t> grids[] = {{1, 0}, {1, 1}, {1, 5}, {2, 3},   {3, 4},
                                                 {4, 2}, {5, 3}, {7, 1}, {3, 1000}};
    for (const auto& [degree, n_t] : grids) {
        const Triplets assembled = through_sparse_records(degree, n_t);
        const TransformationTriplets direct =
            transformation_triplets(LagrangeBasis::create(degree, n_t, 1.0));
        ASSERT_EQ(direct.count, (degree + 1) * (degree + 1) * n_t);
        EXPECT_EQ(materialise_triplets(direct), assembled) << degree << ", " << n_t;
        for (index_t m = 0; m < direct.count; ++m) {
            ASSERT_EQ(direct.row(m), assembled.rows[m]);
            ASSERT_EQ(direct.col(m), assembled.cols[m]);
            ASSERT_EQ(bits(direct.value(m)), bits(assembled.values[m]));
        }
    }
}

TEST(Transformation, MapsNodalValuesToLegendreCoefficients) {
    // f(t) = 1 + 2t - t^3 sampled at the nodes of 2 intervals on [0, 2]; the
    // coefficients of interval k sit at rows p * n_t + k.
    auto f = [](double t) { return 1.0 + 2.0 * t - t * t * t; };
    const LagrangeBasis basis = LagrangeBasis::create(3, 2, 2.0);
    const Triplets t = materialise_triplets(transformation_triplets(basis));
    std::vector<double> coefficients(8, 0.0);
    for (std::size_t m = 0; m < t.rows.size(); ++m) {
        coefficients[t.rows[m]] += t.values[m] * f(basis.points[t.cols[m]]);
    }
    for (const auto& [time, k, xi] : {std::tuple{0.3, 0, -0.4}, std::tuple{1.7, 1, 0.4}}) {
        double p[4];
        legendre_values(xi, p);
        double sum = 0.0;
        for (int degree = 0; degree <= 3; ++degree) {
            sum += coefficients[degree * 2 + k] * p[degree];
        }
        EXPECT_NEAR(sum, f(time), 1e-12) << "t = " << time;
    }
}

TEST(Transformation, FailuresComeBeforeAnythingLargeIsBuilt) {
    for (const index_t n_t : {0U, 3U}) {
        const LagrangeBasis flat = LagrangeBasis::create(0, n_t, 1.0);
        EXPECT_EQ(message_of([&] { (void)get_transormation_matrix_to_legendre(flat); }),
                  degree_zero);
        EXPECT_EQ(message_of([&] { (void)transformation_triplets(flat); }), degree_zero);
    }
    const LagrangeBasis widest = LagrangeBasis::create(std::numeric_limits<index_t>::max(), 0, 1.0);
    EXPECT_EQ(message_of([&] { (void)get_transormation_matrix_to_legendre(widest); }),
              "capacity overflow");
    EXPECT_EQ(message_of([&] { (void)transformation_triplets(widest); }), "capacity overflow");
    // 301^2 * 3000 triplets would not fit one vector of values.
    const LagrangeBasis dense = LagrangeBasis::create(300, 3000, 1.0);
    EXPECT_EQ(message_of([&] { (void)transformation_triplets(dense); }), "capacity overflow");
    EXPECT_EQ(message_of([&] { (void)get_transormation_matrix_to_legendre(dense); }),
              "capacity overflow");
    // A record whose points are too few for its grid.
    const LagrangeBasis short_points{{0.0, 1.0}, 2, 1};
    EXPECT_EQ(message_of([&] { (void)transformation_triplets(short_points); }),
              "assertion failed: j < self.ncols");
    EXPECT_EQ(message_of([&] { (void)get_transormation_matrix_to_legendre(short_points); }),
              "assertion failed: j < self.ncols");
}

}  // namespace
}  // namespace pwpoly
