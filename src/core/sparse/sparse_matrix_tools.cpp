// Block assembly through an entry list, and triplet export through the
// entry-list conversion.
#include "sparse/sparse_matrix_tools.hpp"

#include <limits>

#include "sparse/conversions.hpp"
#include "support/cancellation.hpp"
#include "support/text.hpp"

namespace pwpoly {

namespace {

// Sizes of the assembled matrix are counts of the module's index type.
index_t checked_index_sum(std::uint64_t sum) {
    if (sum > std::numeric_limits<index_t>::max()) {
        fail(std::string(capacity_overflow_message));
    }
    return static_cast<index_t>(sum);
}

}  // namespace

CsrMatrix csr_block_from_ndarray(const CsrBlockGrid& grid) {
    const index_t block_rows = grid.block_rows;
    const index_t block_cols = grid.block_cols;
    check(block_rows != 0 && block_cols != 0, "empty block grid");
    assert_equal(grid.cells.size(), checked_mul(block_rows, block_cols), "cells of the block grid");

    // Offsets of the block rows (by their heights) and block columns (by their
    // widths); all heights are checked before any width.
    std::vector<index_t> row_offsets = make_vector<index_t>(checked_add(block_rows, 1));
    for (index_t i = 0; i < block_rows; ++i) {
        const index_t height = grid.block(i, 0).nrows();
        for (index_t j = 1; j < block_cols; ++j) {
            assert_equal(grid.block(i, j).nrows(), height,
                         concat("inconsistent block-row height at row ", i));
        }
        row_offsets[i + 1] = checked_index_sum(std::uint64_t{row_offsets[i]} + height);
    }
    std::vector<index_t> col_offsets = make_vector<index_t>(checked_add(block_cols, 1));
    for (index_t j = 0; j < block_cols; ++j) {
        const index_t width = grid.block(0, j).ncols;
        for (index_t i = 1; i < block_rows; ++i) {
            assert_equal(grid.block(i, j).ncols, width,
                         concat("inconsistent block-col width at col ", j));
        }
        col_offsets[j + 1] = checked_index_sum(std::uint64_t{col_offsets[j]} + width);
    }

    std::uint64_t total_entries = 0;
    for (const CsrMatrix* cell : grid.cells) {
        total_entries = checked_add(total_entries, cell->nnz());
    }
    CooMatrix entries(row_offsets[block_rows], col_offsets[block_cols]);
    entries.reserve(total_entries);
    CancellationCounter poll;
    for (index_t i = 0; i < block_rows; ++i) {
        for (index_t j = 0; j < block_cols; ++j) {
            const CsrMatrix& block = grid.block(i, j);
            const index_t height = block.nrows();
            for (index_t r = 0; r < height; ++r) {
                const auto columns = block.row_columns(r);
                poll.tick(columns.size() + 1);
                const auto values = block.row_values(r);
                for (std::size_t m = 0; m < columns.size(); ++m) {
                    entries.push(row_offsets[i] + r, col_offsets[j] + columns[m], values[m]);
                }
            }
        }
    }
    return convert_coo_csr(entries);
}

Triplets csr_to_triplets(const CsrMatrix& matrix) {
    CooMatrix coo = convert_csr_coo(matrix);
    return Triplets{std::move(coo.rows), std::move(coo.cols), std::move(coo.values)};
}

}  // namespace pwpoly
