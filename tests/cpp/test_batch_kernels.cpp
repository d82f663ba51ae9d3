// Batch kernels against the core's scalar functions, to the bit: evaluations
// over grids, degrees, column counts, coefficient orders and awkward times;
// basis matrix rows; nodes and the transformation; the size predicates; the
// precondition checks and cancellation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "batch/basis_rows.hpp"
#include "batch/coefficient_order.hpp"
#include "batch/expansion_batch.hpp"
#include "batch/lagrange_arrays.hpp"
#include "core_test_helpers.hpp"
#include "lagrange/lagrange_basis.hpp"
#include "lagrange/transformation.hpp"
#include "legendre/basis_tables.hpp"
#include "legendre/coefficient_store.hpp"
#include "support/cancellation.hpp"

namespace pwpoly {
namespace {

using testing::bits;
using testing::message_of;
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

/// Times that probe every branch of the location: break points and their
/// neighbours, both ends, outside the span, non-finite times, and a few in
/// between; 4 * n_t + 15 of them, so that the last block is a short one.
std::vector<double> awkward_times(const LegendreBasis& basis) {
    const double w = interval_width(basis);
    std::vector<double> times = {-1.0,
                                 -0.0,
                                 0.0,
                                 basis.T,
                                 2.0 * basis.T,
                                 -inf,
                                 inf,
                                 nan,
                                 1e300,
                                 -1e-300,
                                 std::nextafter(basis.T, 0.0)};
    for (index_t k = 0; k <= basis.n_t; ++k) {
        const double point = static_cast<double>(k) * w;
        times.push_back(point);
        times.push_back(std::nextafter(point, -inf));
        times.push_back(std::nextafter(point, inf));
        times.push_back(point + 0.37 * w);
    }
    return times;
}

std::vector<double> random_values(std::size_t count, unsigned seed) {
    std::mt19937_64 generator(seed);
    std::uniform_real_distribution<double> uniform(-2.0, 2.0);
    std::vector<double> values(count);
    for (double& value : values) {
        value = uniform(generator);
    }
    return values;
}

void expect_same_bits(double got, double expected, const char* what, double t) {
    if (std::isnan(expected)) {
        EXPECT_TRUE(std::isnan(got)) << what << " at t = " << t;
    } else {
        EXPECT_EQ(bits(got), bits(expected)) << what << " at t = " << t << ": " << got;
    }
}

/// Column e of `rows` (N rows of `columns` values in `order`) in the flat layout.
std::vector<double> column_in_flat_layout(const LegendreBasis& basis,
                                          const std::vector<double>& rows, std::size_t columns,
                                          std::size_t e, batch::CoefficientOrder order) {
    std::vector<double> flat(coefficient_count(basis));
    for (std::uint64_t i = 0; i <= basis.degree; ++i) {
        for (std::uint64_t k = 0; k < basis.n_t; ++k) {
            const std::uint64_t row = order == batch::CoefficientOrder::flat
                                          ? k + basis.n_t * i
                                          : k * (basis.degree + 1) + i;
            flat[k + basis.n_t * i] = rows[row * columns + e];
        }
    }
    return flat;
}

CoefficientStore store_with(const LegendreBasis& basis, const std::vector<double>& flat) {
    CoefficientStore store = make_coefficient_store(basis);
    CoefficientVector buffer = make_coefficient_buffer(store);
    std::copy(flat.begin(), flat.end(), buffer.begin());
    set_dofs(store, std::move(buffer), flat.size());
    return store;
}

struct Grid {
    index_t degree;
    index_t n_t;
    double T;
};

class BatchGrids : public ::testing::TestWithParam<Grid> {};

TEST_P(BatchGrids, EvaluationsMatchTheEvaluatorForEveryColumnAndOrder) {
    const LegendreBasis basis{GetParam().degree, GetParam().n_t, GetParam().T};
    const std::vector<double> times = awkward_times(basis);
    for (const std::size_t columns : {1, 3, 6}) {
        for (const auto order :
             {batch::CoefficientOrder::flat, batch::CoefficientOrder::by_interval}) {
            const std::vector<double> rows =
                random_values(coefficient_count(basis) * columns, columns);
            const batch::ExpansionColumns expansions{basis, rows, columns, order};
            std::vector<double> values(times.size() * columns);
            std::vector<double> derivatives(times.size() * columns);
            batch::evaluate_expansions(expansions, times, values);
            batch::evaluate_expansion_derivatives(expansions, times, derivatives);
            for (std::size_t e = 0; e < columns; ++e) {
                const CoefficientStore store =
                    store_with(basis, column_in_flat_layout(basis, rows, columns, e, order));
                for (std::size_t j = 0; j < times.size(); ++j) {
                    expect_same_bits(values[j * columns + e], evaluate_at(store, times[j]), "value",
                                     times[j]);
                    expect_same_bits(derivatives[j * columns + e],
                                     evaluate_derivative_at(store, times[j]), "derivative",
                                     times[j]);
                }
            }
        }
    }
}

template <class Index>
void expect_rows_match_local_entries(const LegendreBasis& basis, batch::BasisTable table) {
    const std::vector<double> times = awkward_times(basis);
    const std::size_t per_row = basis.degree + 1;
    std::vector<double> data(times.size() * per_row);
    std::vector<Index> indices(data.size());
    std::vector<Index> indptr(times.size() + 1);
    batch::fill_basis_rows(basis, table, times, batch::CsrArrays<Index>{data, indices, indptr});
    for (std::size_t j = 0; j < times.size(); ++j) {
        const LocalBasisEntries local = table == batch::BasisTable::values
                                            ? local_basis_values(basis, times[j])
                                            : local_basis_derivatives(basis, times[j]);
        ASSERT_EQ(indptr[j], static_cast<Index>(j * per_row));
        for (std::size_t i = 0; i < per_row; ++i) {
            EXPECT_EQ(indices[j * per_row + i], static_cast<Index>(local.k + basis.n_t * i));
            expect_same_bits(data[j * per_row + i], local.entries[i], "entry", times[j]);
        }
    }
    EXPECT_EQ(indptr.back(), static_cast<Index>(data.size()));
}

TEST_P(BatchGrids, BasisRowsHoldTheLocalEntriesOfTheTables) {
    const LegendreBasis basis{GetParam().degree, GetParam().n_t, GetParam().T};
    for (const auto table : {batch::BasisTable::values, batch::BasisTable::derivatives}) {
        expect_rows_match_local_entries<std::int32_t>(basis, table);
        expect_rows_match_local_entries<std::int64_t>(basis, table);
    }
}

INSTANTIATE_TEST_SUITE_P(Grids, BatchGrids,
                         ::testing::Values(Grid{0, 3, 3.0}, Grid{1, 1, 1.0}, Grid{2, 3, 3.0},
                                           Grid{3, 10, 1.0}, Grid{4, 7, 0.3}, Grid{7, 5, -2.0},
                                           Grid{12, 4, 1e-3}, Grid{20, 3, 7.0}, Grid{3, 2, inf},
                                           Grid{2, 3, 0.0}),
                         [](const ::testing::TestParamInfo<Grid>& info) {
                             return "degree" + std::to_string(info.param.degree) + "_n_t" +
                                    std::to_string(info.param.n_t) + "_grid" +
                                    std::to_string(info.index);
                         });

/// Times in runs: the awkward times in ascending order, each five times over
/// (whole blocks in one interval), an ascending sweep and the same reversed,
/// then NaN; what the location's cache of the last interval sees.
std::vector<double> ordered_times(const LegendreBasis& basis) {
    std::vector<double> times;
    for (const double t : awkward_times(basis)) {
        if (!std::isnan(t)) {
            times.push_back(t);
        }
    }
    std::sort(times.begin(), times.end());
    std::vector<double> runs;
    for (const double t : times) {
        runs.insert(runs.end(), 5, t);
    }
    const std::size_t sweep = 16 * std::size_t{basis.n_t} + 3;
    for (std::size_t j = 0; j <= sweep; ++j) {
        runs.push_back(basis.T * static_cast<double>(j) / static_cast<double>(sweep));
    }
    for (std::size_t j = 0; j <= sweep; ++j) {
        runs.push_back(basis.T * static_cast<double>(sweep - j) / static_cast<double>(sweep));
    }
    runs.push_back(nan);
    return runs;
}

class BatchOrderedGrids : public ::testing::TestWithParam<Grid> {};

TEST_P(BatchOrderedGrids, TimesInRunsAndEveryColumnCountKeepTheEvaluatorsBits) {
    const LegendreBasis basis{GetParam().degree, GetParam().n_t, GetParam().T};
    const std::vector<double> times = ordered_times(basis);
    for (const std::size_t columns : {1, 2, 3, 4, 5, 7, 8, 9}) {
        for (const auto order :
             {batch::CoefficientOrder::flat, batch::CoefficientOrder::by_interval}) {
            const std::vector<double> rows =
                random_values(coefficient_count(basis) * columns, columns + 7);
            const batch::ExpansionColumns expansions{basis, rows, columns, order};
            std::vector<double> values(times.size() * columns);
            std::vector<double> derivatives(times.size() * columns);
            batch::evaluate_expansions(expansions, times, values);
            batch::evaluate_expansion_derivatives(expansions, times, derivatives);
            for (std::size_t e = 0; e < columns; ++e) {
                const CoefficientStore store =
                    store_with(basis, column_in_flat_layout(basis, rows, columns, e, order));
                for (std::size_t j = 0; j < times.size(); ++j) {
                    expect_same_bits(values[j * columns + e], evaluate_at(store, times[j]), "value",
                                     times[j]);
                    expect_same_bits(derivatives[j * columns + e],
                                     evaluate_derivative_at(store, times[j]), "derivative",
                                     times[j]);
                }
            }
        }
    }
}

TEST_P(BatchOrderedGrids, PlanesHoldTheColumnsOfEachGroupAndNothingElse) {
    const LegendreBasis basis{GetParam().degree, GetParam().n_t, GetParam().T};
    const std::vector<double> times = ordered_times(basis);
    const std::size_t columns = 6;
    const std::vector<double> rows = random_values(coefficient_count(basis) * columns, 3);
    std::vector<double> whole(times.size() * columns);
    batch::evaluate_expansions({basis, rows, columns}, times, whole);
    for (const std::size_t planes : {2, 3, 6}) {
        const std::size_t width = columns / planes;
        // Two spare values between the planes, which must stay untouched.
        const std::size_t plane_stride = times.size() * width + 2;
        std::vector<double> out(planes * plane_stride, 42.0);
        batch::evaluate_expansions({basis, rows, columns, {}, 0, planes, plane_stride}, times, out);
        for (std::size_t p = 0; p < planes; ++p) {
            for (std::size_t j = 0; j < times.size(); ++j) {
                for (std::size_t c = 0; c < width; ++c) {
                    const double got = out[p * plane_stride + j * width + c];
                    expect_same_bits(got, whole[j * columns + p * width + c], "plane", times[j]);
                }
            }
            EXPECT_EQ(out[p * plane_stride + times.size() * width], 42.0);
            EXPECT_EQ(out[p * plane_stride + times.size() * width + 1], 42.0);
        }
    }
    // A plane count that does not divide the columns, planes beside a window,
    // and a last plane that would end beyond `out` fail before any work.
    std::vector<double> out(times.size() * columns);
    const auto planes_message = [&](std::size_t planes, std::size_t stride,
                                    std::size_t plane_stride) {
        return message_of([&] {
            batch::evaluate_expansions({basis, rows, columns, {}, stride, planes, plane_stride},
                                       times, out);
        });
    };
    EXPECT_EQ(planes_message(4, 0, times.size()), "batch kernel: wrong buffer size");
    EXPECT_EQ(planes_message(2, 7, times.size() * 3), "batch kernel: wrong buffer size");
    EXPECT_EQ(planes_message(2, 0, times.size() * 3 + 1), "batch kernel: wrong buffer size");
    EXPECT_EQ(planes_message(2, 0, times.size() * 3 - 1), "batch kernel: wrong buffer size");
    EXPECT_EQ(planes_message(2, 0, times.size() * 3), "<no failure>");
}

INSTANTIATE_TEST_SUITE_P(Grids, BatchOrderedGrids,
                         ::testing::Values(Grid{0, 3, 3.0}, Grid{1, 4, 1.0}, Grid{2, 3, 0.3},
                                           Grid{3, 25, 1.0}, Grid{4, 7, 7.5}, Grid{5, 6, 0.7},
                                           Grid{6, 5, 1e-3}, Grid{3, 1, 2.0}, Grid{3, 3, -2.0}),
                         [](const ::testing::TestParamInfo<Grid>& info) {
                             return "degree" + std::to_string(info.param.degree) + "_n_t" +
                                    std::to_string(info.param.n_t) + "_grid" +
                                    std::to_string(info.index);
                         });

TEST(BatchLagrange, NodesAndTransformationMatchTheCore) {
    for (const auto& [degree, n_t] :
         {std::pair<index_t, index_t>{1, 2}, {2, 3}, {3, 5}, {5, 1}, {9, 4}}) {
        const LagrangeBasis basis = LagrangeBasis::create(degree, n_t, 0.3);
        std::vector<double> points(basis.points.size());
        batch::fill_lagrange_points(degree, n_t, 0.3, points, 0, n_t);
        for (std::size_t g = 0; g < points.size(); ++g) {
            EXPECT_EQ(bits(points[g]), bits(basis.points[g])) << "node " << g;
        }

        const TransformationTriplets description = transformation_triplets(degree, n_t);
        const Triplets expected = materialise_triplets(description);
        std::vector<std::int64_t> rows(description.count);
        std::vector<std::int64_t> cols(description.count);
        std::vector<double> values(description.count);
        const std::uint64_t row_count = std::uint64_t{degree + 1} * n_t;
        batch::fill_transformation_triplets(description, rows, cols, values, {0, row_count});
        const CsrMatrix matrix = get_transormation_matrix_to_legendre(basis);
        std::vector<double> data(description.count);
        std::vector<std::int32_t> indices(description.count);
        std::vector<std::int32_t> indptr(matrix.major_offsets.size());
        batch::fill_transformation_csr(description, {data, indices, indptr}, {0, row_count});
        for (std::size_t m = 0; m < description.count; ++m) {
            EXPECT_EQ(rows[m], expected.rows[m]);
            EXPECT_EQ(cols[m], expected.cols[m]);
            EXPECT_EQ(bits(values[m]), bits(expected.values[m]));
            EXPECT_EQ(indices[m], static_cast<std::int32_t>(matrix.column_indices[m]));
            EXPECT_EQ(bits(data[m]), bits(matrix.values[m]));
        }
        for (std::size_t r = 0; r < indptr.size(); ++r) {
            EXPECT_EQ(indptr[r], static_cast<std::int32_t>(matrix.major_offsets[r]));
        }
    }
}

TEST(BatchLagrange, SizePredicatesAgreeWithTheCoreChecks) {
    constexpr index_t largest = std::numeric_limits<index_t>::max();
    const std::vector<std::pair<index_t, index_t>> requests = {
        {0, 0},         {0, 5},          {1, 0},         {3, 25000},     {largest, 0},
        {largest, 1},   {1, 134217727},  {1, 134217728}, {2, 134217727}, {16382, 1},
        {16383, 1},     {16382, 2},      {3, 16777215},  {3, 16777216},  {268435454, 1},
        {268435455, 1}, {100, 26843545}, {4000, 16},     {20000, 1},     {1, largest},
    };
    for (const auto& [degree, n_t] : requests) {
        const bool nodes_fit =
            message_of([&] { (void)lagrange_node_count(degree, n_t); }) == "<no failure>";
        const bool transformation_fits =
            nodes_fit &&
            message_of([&] { (void)check_transformation_size(degree, n_t); }) == "<no failure>";
        EXPECT_EQ(batch::lagrange_points_fit(degree, n_t), nodes_fit) << degree << ", " << n_t;
        EXPECT_EQ(batch::transformation_fits(degree, n_t), transformation_fits)
            << degree << ", " << n_t;
    }
}

TEST(BatchChecks, MismatchedBuffersAndEmptyGridsFailBeforeAnyWork) {
    const std::vector<double> coefficients(9);
    const std::vector<double> times(4);
    std::vector<double> out(4);
    const auto evaluate = [&](const LegendreBasis& basis, std::size_t columns,
                              std::span<double> results) {
        return message_of(
            [&] { batch::evaluate_expansions({basis, coefficients, columns}, times, results); });
    };
    EXPECT_EQ(evaluate({2, 0, 1.0}, 1, out), "batch kernel: n_t must be 1 to 2147483647");
    EXPECT_EQ(evaluate({2, 3, 1.0}, 0, out), "batch kernel: wrong buffer size");
    EXPECT_EQ(evaluate({2, 4, 1.0}, 1, out), "batch kernel: wrong buffer size");
    EXPECT_EQ(evaluate({2, 3, 1.0}, 1, std::span<double>(out).first(3)),
              "batch kernel: wrong buffer size");
    EXPECT_EQ(evaluate({2, 3, 1.0}, 3, out), "batch kernel: wrong buffer size");

    std::vector<double> data(12);
    std::vector<std::int32_t> indices(12);
    std::vector<std::int32_t> indptr(4);
    EXPECT_EQ(message_of([&] {
                  batch::fill_basis_rows({2, 3, 1.0}, batch::BasisTable::values, times,
                                         batch::CsrArrays<std::int32_t>{data, indices, indptr});
              }),
              "batch kernel: wrong buffer size");
    std::vector<double> points(6);
    EXPECT_EQ(message_of([&] { batch::fill_lagrange_points(2, 3, 1.0, points, 0, 3); }),
              "batch kernel: wrong buffer size");
    points.resize(7);
    EXPECT_EQ(message_of([&] { batch::fill_lagrange_points(2, 3, 1.0, points, 2, 4); }),
              "batch kernel: wrong buffer size");
    // A window must have at least two columns, and its last row must end
    // within each span.
    const std::vector<double> table(std::size_t{9} * 3);
    std::vector<double> wide(std::size_t{4} * 3);
    const auto window = [&](std::size_t columns, std::size_t stride, std::size_t skip) {
        return message_of([&] {
            batch::evaluate_expansions(
                {{2, 3, 1.0}, std::span(table).subspan(skip), columns, {}, stride}, times,
                std::span(wide).subspan(skip));
        });
    };
    EXPECT_EQ(window(1, 3, 0), "batch kernel: wrong buffer size");
    EXPECT_EQ(window(2, 3, 2), "batch kernel: wrong buffer size");
    EXPECT_EQ(window(2, 1, 0), "batch kernel: wrong buffer size");
    EXPECT_EQ(window(2, 3, 1), "<no failure>");
}

TEST(BatchOrder, ReorderingByIntervalInPiecesMovesEveryRowOnce) {
    // degree 2, n_t 3, two columns: flat row k + 3 i holds (10 k + i, -(10 k + i)).
    const LegendreBasis basis{2, 3, 1.0};
    std::vector<double> flat(std::size_t{9} * 2);
    for (std::size_t k = 0; k < 3; ++k) {
        for (std::size_t i = 0; i < 3; ++i) {
            flat[(k + 3 * i) * 2] = static_cast<double>(10 * k + i);
            flat[(k + 3 * i) * 2 + 1] = -static_cast<double>(10 * k + i);
        }
    }
    std::vector<double> ordered(flat.size(), nan);
    batch::order_by_interval(basis, 2, flat, ordered, 0, 1);
    batch::order_by_interval(basis, 2, flat, ordered, 1, 3);
    for (std::size_t row = 0; row < 9; ++row) {
        const std::size_t interval = row / 3;
        const auto expected = static_cast<double>((10 * interval) + (row % 3));
        EXPECT_EQ(ordered[row * 2], expected);
        EXPECT_EQ(ordered[row * 2 + 1], -expected);
    }
    const auto order = [&](std::size_t columns, std::size_t first, std::size_t last) {
        return message_of(
            [&] { batch::order_by_interval(basis, columns, flat, ordered, first, last); });
    };
    EXPECT_EQ(order(3, 0, 3), "batch kernel: wrong buffer size");
    EXPECT_EQ(order(0, 0, 3), "batch kernel: wrong buffer size");
    EXPECT_EQ(order(2, 2, 4), "batch kernel: wrong buffer size");
    EXPECT_EQ(order(2, 2, 1), "batch kernel: wrong buffer size");
}

TEST(BatchPieces, PiecesAndWindowsGiveTheBitsOfTheWholeCall) {
    const LegendreBasis basis{5, 7, 0.7};
    const std::vector<double> times = awkward_times(basis);
    const std::size_t columns = 7;
    const std::vector<double> rows = random_values(coefficient_count(basis) * columns, columns);
    const batch::ExpansionColumns all{basis, rows, columns};
    std::vector<double> whole(times.size() * columns);
    batch::evaluate_expansions(all, times, whole);
    // Each time alone, in windows of 3, 2 and 2 columns.
    std::vector<double> pieces(whole.size(), -1.0);
    for (std::size_t j = 0; j < times.size(); ++j) {
        for (const auto& [start, width] :
             {std::pair<std::size_t, std::size_t>{0, 3}, {3, 2}, {5, 2}}) {
            batch::evaluate_expansions({basis, std::span(rows).subspan(start), width, {}, columns},
                                       std::span(times).subspan(j, 1),
                                       std::span(pieces).subspan(j * columns + start, width));
        }
    }
    for (std::size_t m = 0; m < whole.size(); ++m) {
        EXPECT_EQ(bits(pieces[m]), bits(whole[m])) << "entry " << m;
    }

    // Nodes and transformation rows filled in ranges equal the whole fill.
    const index_t degree = 3;
    const index_t n_t = 5;
    std::vector<double> nodes(n_t * degree + 1);
    std::vector<double> nodes_in_parts(nodes.size(), -1.0);
    batch::fill_lagrange_points(degree, n_t, 0.9, nodes, 0, n_t);
    for (const auto& [first, last] : {std::pair<index_t, index_t>{0, 2}, {2, 3}, {3, 3}, {3, 5}}) {
        batch::fill_lagrange_points(degree, n_t, 0.9, nodes_in_parts, first, last);
    }
    for (std::size_t g = 0; g < nodes.size(); ++g) {
        EXPECT_EQ(bits(nodes_in_parts[g]), bits(nodes[g])) << "node " << g;
    }
    const TransformationTriplets description = transformation_triplets(degree, n_t);
    const std::uint64_t row_count = std::uint64_t{degree + 1} * n_t;
    std::vector<double> data(description.count);
    std::vector<std::int32_t> indices(description.count);
    std::vector<std::int32_t> indptr(row_count + 1);
    batch::fill_transformation_csr(description, {data, indices, indptr}, {0, row_count});
    std::vector<double> data_in_parts(data.size(), -1.0);
    std::vector<std::int32_t> indices_in_parts(indices.size(), -1);
    std::vector<std::int32_t> indptr_in_parts(indptr.size(), -1);
    for (const auto& [first, last] :
         {std::pair<std::uint64_t, std::uint64_t>{0, 7}, {7, 8}, {8, 20}}) {
        batch::fill_transformation_csr(
            description, {data_in_parts, indices_in_parts, indptr_in_parts}, {first, last});
    }
    EXPECT_EQ(indices_in_parts, indices);
    EXPECT_EQ(indptr_in_parts, indptr);
    for (std::size_t m = 0; m < data.size(); ++m) {
        EXPECT_EQ(bits(data_in_parts[m]), bits(data[m])) << "entry " << m;
    }
}

TEST(BatchCancellation, AKernelStopsWithWhatTheCheckThrows) {
    struct Cancelled {};
    static int polls = 0;
    polls = 0;
    install_cancellation_check([] {
        if (++polls == 3) {
            throw Cancelled{};
        }
    });
    const LegendreBasis basis{3, 100, 1.0};
    const std::vector<double> coefficients(coefficient_count(basis), 1.0);
    const std::vector<double> times(100000, 0.5);
    std::vector<double> out(times.size(), -1.0);
    EXPECT_THROW(batch::evaluate_expansions({basis, coefficients}, times, out), Cancelled);
    install_cancellation_check(nullptr);
    EXPECT_EQ(polls, 3);
    EXPECT_EQ(out.back(), -1.0);  // stopped long before the end
}

}  // namespace
}  // namespace pwpoly
