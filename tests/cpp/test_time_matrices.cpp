// The matrices in time: shapes, entries and row placement of every kind.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "core_test_helpers.hpp"
#include "galerkin/time_matrices.hpp"

namespace pwpoly {
namespace {

using testing::message_of;

struct Filled {
    std::vector<double> data;
    std::vector<std::int32_t> indices;
    std::vector<std::int32_t> indptr;
};

Filled fill(TimeMatrix matrix, const LegendreBasis& basis, std::uint64_t split) {
    const TimeMatrixShape shape = time_matrix_shape(matrix, basis.degree, basis.n_t);
    Filled f{std::vector<double>(shape.entries, -7.0), std::vector<std::int32_t>(shape.entries, -1),
             std::vector<std::int32_t>(shape.rows + 1, -1)};
    const batch::CsrArrays<std::int32_t> out{f.data, f.indices, f.indptr};
    // The later rows first: every row is placed from its own index.
    fill_time_matrix(matrix, basis, split, shape.rows, out);
    fill_time_matrix(matrix, basis, 0, split, out);
    return f;
}

TEST(TimeMatrices, ShapesAndEntryCounts) {
    const TimeMatrixShape derivative = time_matrix_shape(TimeMatrix::derivative, 3, 5);
    EXPECT_EQ(derivative.entries, 5U * 4U);  // per interval: (0,1) (0,3) (1,2) (2,3)
    EXPECT_EQ(time_matrix_shape(TimeMatrix::jump, 2, 4).entries, 9U * 7U);
    EXPECT_EQ(time_matrix_shape(TimeMatrix::start_trace, 2, 4).rows, 4U);
    EXPECT_EQ(time_matrix_shape(TimeMatrix::jump, 2, 0).entries, 0U);
}

TEST(TimeMatrices, RowsFilledInAnyOrderGiveTheSameArrays) {
    const LegendreBasis basis{4, 3, 1.5};
    for (const TimeMatrix matrix : {TimeMatrix::mass, TimeMatrix::derivative, TimeMatrix::jump,
                                    TimeMatrix::start_trace, TimeMatrix::end_trace}) {
        const Filled whole = fill(matrix, basis, 0);
        const Filled parts = fill(matrix, basis, 2);
        EXPECT_EQ(whole.data, parts.data);
        EXPECT_EQ(whole.indices, parts.indices);
        EXPECT_EQ(whole.indptr, parts.indptr);
        EXPECT_EQ(static_cast<std::size_t>(whole.indptr.back()), whole.data.size());
        for (std::size_t r = 0; r + 1 < whole.indptr.size(); ++r) {
            for (auto e = whole.indptr[r] + 1; e < whole.indptr[r + 1]; ++e) {
                EXPECT_LT(whole.indices[e - 1], whole.indices[e]);
            }
        }
    }
}

TEST(TimeMatrices, EntriesOfSmallGrids) {
    const Filled mass = fill(TimeMatrix::mass, {1, 2, 3.0}, 0);
    EXPECT_EQ(mass.data, (std::vector<double>{1.5, 1.5, 0.5, 0.5}));
    const Filled derivative = fill(TimeMatrix::derivative, {2, 1, 5.0}, 0);
    EXPECT_EQ(derivative.data, (std::vector<double>{2.0, 2.0}));
    EXPECT_EQ(derivative.indices, (std::vector<std::int32_t>{1, 2}));
    EXPECT_EQ(derivative.indptr, (std::vector<std::int32_t>{0, 1, 2, 2}));
    // Degree 1, two intervals: rows (k, i) at k + 2 i.
    const Filled jump = fill(TimeMatrix::jump, {1, 2, 1.0}, 0);
    EXPECT_EQ(jump.indptr, (std::vector<std::int32_t>{0, 2, 6, 8, 12}));
    EXPECT_EQ(jump.indices, (std::vector<std::int32_t>{0, 2, 0, 1, 2, 3, 0, 2, 0, 1, 2, 3}));
    EXPECT_EQ(jump.data, (std::vector<double>{1, -1, -1, 1, -1, -1, -1, 1, 1, -1, 1, 1}));
    const Filled start = fill(TimeMatrix::start_trace, {2, 2, 1.0}, 0);
    EXPECT_EQ(start.data, (std::vector<double>{1, -1, 1, 1, -1, 1}));
    EXPECT_EQ(start.indices, (std::vector<std::int32_t>{0, 2, 4, 1, 3, 5}));
}

TEST(TimeMatrices, WrongBuffersAreRefused) {
    std::vector<double> data(3);
    std::vector<std::int32_t> indices(3);
    std::vector<std::int32_t> indptr(4);
    const batch::CsrArrays<std::int32_t> out{data, indices, indptr};
    EXPECT_EQ(message_of([&] { fill_time_matrix(TimeMatrix::mass, {1, 2, 1.0}, 0, 4, out); }),
              "batch kernel: wrong buffer size");
}

}  // namespace
}  // namespace pwpoly
