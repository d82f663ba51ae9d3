// Assembling one compressed-row matrix from a grid of blocks, and exporting a
// matrix as row-major triplets.
#include <gtest/gtest.h>

#include "core_test_helpers.hpp"
#include "sparse/conversions.hpp"
#include "sparse/sparse_matrix_tools.hpp"

namespace pwpoly {
namespace {

using testing::message_of;

struct Entry {
    index_t row;
    index_t col;
    double value;
};

CsrMatrix csr(index_t nrows, index_t ncols, std::initializer_list<Entry> entries) {
    CooMatrix coo(nrows, ncols);
    for (const Entry& e : entries) {
        coo.push(e.row, e.col, e.value);
    }
    return convert_coo_csr(coo);
}

CsrBlockGrid grid(index_t rows, index_t cols, std::vector<const CsrMatrix*> cells) {
    return CsrBlockGrid{rows, cols, std::move(cells)};
}

TEST(CsrBlockFromNdarray, RejectsEmptyAndInconsistentGrids) {
    const CsrMatrix two_rows = csr(2, 1, {});
    const CsrMatrix three_rows = csr(3, 1, {});
    const CsrMatrix wide = csr(2, 4, {});
    EXPECT_EQ(message_of([] { (void)csr_block_from_ndarray(grid(0, 3, {})); }), "empty block grid");
    EXPECT_EQ(message_of([] { (void)csr_block_from_ndarray(grid(2, 0, {})); }), "empty block grid");
    EXPECT_EQ(
        message_of([&] { (void)csr_block_from_ndarray(grid(1, 2, {&two_rows, &three_rows})); }),
        "assertion `left == right` failed: inconsistent block-row height at row 0\n"
        "  left: 3\n right: 2");
    EXPECT_EQ(message_of([&] { (void)csr_block_from_ndarray(grid(2, 1, {&two_rows, &wide})); }),
              "assertion `left == right` failed: inconsistent block-col width at col 0\n"
              "  left: 4\n right: 1");
    // Every height is checked before the first width: row 1 is reported although
    // column 0 is inconsistent too.
    EXPECT_EQ(
        message_of([&] {
            (void)csr_block_from_ndarray(grid(2, 2, {&two_rows, &two_rows, &wide, &three_rows}));
        }),
        "assertion `left == right` failed: inconsistent block-row height at row 1\n"
        "  left: 3\n right: 2");
}

TEST(CsrBlockFromNdarray, PlacesEveryEntryAtItsBlockOffsets) {
    const CsrMatrix a = csr(2, 2, {{0, 0, 1.0}, {1, 1, 0.0}});
    const CsrMatrix b = csr(2, 1, {{1, 0, 2.0}});
    const CsrMatrix empty_rows = csr(0, 2, {});
    const CsrMatrix c = csr(0, 1, {});
    // Block row 1 has no rows but its blocks still count for the widths; block a
    // is used twice.
    const CsrMatrix m = csr_block_from_ndarray(grid(3, 2, {&a, &b, &empty_rows, &c, &a, &b}));
    EXPECT_EQ(m.nrows(), 4U);
    EXPECT_EQ(m.ncols, 3U);
    const Triplets t = csr_to_triplets(m);
    EXPECT_EQ(t.rows, (std::vector<index_t>{0, 1, 1, 2, 3, 3}));
    EXPECT_EQ(t.cols, (std::vector<index_t>{0, 1, 2, 0, 1, 2}));
    EXPECT_EQ(t.values, (std::vector<double>{1.0, 0.0, 2.0, 1.0, 0.0, 2.0}));
}

}  // namespace
}  // namespace pwpoly
