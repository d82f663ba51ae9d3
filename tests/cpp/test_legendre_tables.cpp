// Basis tables: the worked example to the bit, placement of the local entries,
// degenerate grids and the size policy.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "core_test_helpers.hpp"
#include "legendre/basis_tables.hpp"
#include "legendre/coefficient_matrix.hpp"

namespace pwpoly {
namespace {

using testing::bits;
using testing::message_of;
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

void expect_bits(const std::vector<double>& got, const std::vector<double>& expected) {
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        if (std::isnan(expected[i])) {
            EXPECT_TRUE(std::isnan(got[i])) << "entry " << i << ": " << got[i];
        } else {
            EXPECT_EQ(bits(got[i]), bits(expected[i])) << "entry " << i << ": " << got[i];
        }
    }
}

TEST(BasisTables, WorkedExamplesToTheBit) {
    expect_bits(evaluate_all_basis_functions({2, 3, 3.0}, 1.25),
                {0, 1, 0, 0, -0.5, 0, 0, -0.125, 0});
    expect_bits(evaluate_all_basis_function_derivatives({2, 3, 3.0}, 1.25),
                {0, 0, 0, 0, 2, 0, 0, -3.000000000000004, 0});
    expect_bits(evaluate_all_basis_functions({0, 3, 3.0}, 1.25), {0, 1, 0});
    expect_bits(evaluate_all_basis_function_derivatives({0, 3, 3.0}, 1.25), {0, 0, 0});
    // NaN time: interval 0, P_0 = 1 and P'_1 = 1 survive, the rest is NaN.
    expect_bits(evaluate_all_basis_functions({2, 2, 3.0}, nan), {1, 0, nan, 0, nan, 0});
    expect_bits(evaluate_all_basis_function_derivatives({2, 2, 3.0}, nan),
                {0, 0, 2.0 / 1.5, 0, nan, 0});
}

TEST(BasisTables, LocalEntriesAreTheTableAtTheirPlaces) {
    const LegendreBasis basis{4, 5, 0.3};
    for (const double t : {0.0, 0.07, 0.12, 0.2999, 1.0}) {
        const LocalBasisEntries values = local_basis_values(basis, t);
        const LocalBasisEntries derivatives = local_basis_derivatives(basis, t);
        ASSERT_EQ(values.k, derivatives.k);
        std::vector<double> expected_values(25, 0.0);
        std::vector<double> expected_derivatives(25, 0.0);
        for (index_t i = 0; i <= 4; ++i) {
            expected_values[values.k + 5 * i] = values.entries[i];
            expected_derivatives[values.k + 5 * i] = derivatives.entries[i];
        }
        expect_bits(evaluate_all_basis_functions(basis, t), expected_values);
        expect_bits(evaluate_all_basis_function_derivatives(basis, t), expected_derivatives);
    }
}

TEST(BasisTables, DerivativeEntriesAtTheEndsAreTriangularNumbers) {
    // T = 2, one interval: w = 2, so the entries are dP_i/dxi.
    const std::vector<double> right = evaluate_all_basis_function_derivatives({10, 1, 2.0}, 2.0);
    const std::vector<double> left = evaluate_all_basis_function_derivatives({10, 1, 2.0}, -3.0);
    for (int i = 0; i <= 10; ++i) {
        const int triangular_number = i * (i + 1) / 2;  // exact: i (i + 1) is even
        const double triangular = triangular_number;
        EXPECT_EQ(right[i], triangular);
        EXPECT_EQ(left[i], i % 2 == 1 ? triangular : -triangular);
    }
}

TEST(BasisTables, FailuresComeInOrderBeforeAnyWrite) {
    EXPECT_EQ(message_of([] { (void)evaluate_all_basis_functions({2, 0, 3.0}, 1.0); }),
              "Matrix slicing out of bounds.");
    EXPECT_EQ(message_of([] { (void)evaluate_all_basis_function_derivatives({0, 0, 3.0}, nan); }),
              "Matrix slicing out of bounds.");
    EXPECT_EQ(message_of([] { (void)checked_coefficient_index({2, 3, 1.0}, 1, 3); }),
              "Matrix index out of bounds.");
    // The degree + 1 local entries are checked first, also without intervals.
    for (const index_t n_t : {0U, 2U}) {
        EXPECT_EQ(
            message_of([n_t] { (void)evaluate_all_basis_functions({4294967295U, n_t, 1.0}, 0); }),
            "capacity overflow");
    }
    // Local entries fit, the table of N = 268436 * 1001 > 268435455 does not.
    EXPECT_EQ(local_basis_values({1000, 268436, 1.0}, 0.5).entries.size(), 1001U);
    EXPECT_EQ(
        message_of([] { (void)evaluate_all_basis_function_derivatives({1000, 268436, 1.0}, 0.5); }),
        "capacity overflow");
}

}  // namespace
}  // namespace pwpoly
