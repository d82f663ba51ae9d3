// Assembly of one compressed-row matrix from a grid of blocks, and export of a
// compressed-row matrix as (row, column, value) triplets.
#pragma once

#include <vector>

#include "sparse/csr_matrix.hpp"

namespace pwpoly {

/// A grid of block_rows x block_cols read-only references to blocks, stored row
/// by row: block (i, j) is *cells[i * block_cols + j]. Several cells may refer
/// to the same block; the grid owns none of them.
struct CsrBlockGrid {
    index_t block_rows = 0;
    index_t block_cols = 0;
    std::vector<const CsrMatrix*> cells;

    /// Block (i, j).
    [[nodiscard]] const CsrMatrix& block(index_t i, index_t j) const {
        return *cells[std::size_t{i} * block_cols + j];
    }
};

/// One matrix assembled from the blocks of `grid`: block (i, j) occupies the
/// rows from the sum of the heights of block rows 0 .. i-1 and the columns from
/// the sum of the widths of block columns 0 .. j-1. Every stored entry of every
/// block is carried over with its value unchanged, explicit zeros included.
/// Fails, in this order, with:
/// - "empty block grid" when the grid has no block rows or no block columns;
/// - the equality assertion with message "cells of the block grid" when
///   cells.size() is not block_rows * block_cols;
/// - the equality assertion with message "inconsistent block-row height at row
///   {i}" (left: the row count of block (i, j); right: that of block (i, 0)),
///   for the first offending block in row-major order;
/// - only after all heights passed, the equality assertion with message
///   "inconsistent block-col width at col {j}" (left: ncols of block (i, j);
///   right: ncols of block (0, j)), for the first offending block scanning
///   column by column;
/// - "capacity overflow" when the total rows, columns or entries do not fit.
[[nodiscard]] CsrMatrix csr_block_from_ndarray(const CsrBlockGrid& grid);

/// Stored entries as three aligned vectors: entry m is (rows[m], cols[m],
/// values[m]).
struct Triplets {
    std::vector<index_t> rows;
    std::vector<index_t> cols;
    std::vector<double> values;

    friend bool operator==(const Triplets&, const Triplets&) = default;
};

/// The stored entries of `matrix` in row-major order: rows ascending, columns
/// ascending within a row. Explicit zeros are included.
[[nodiscard]] Triplets csr_to_triplets(const CsrMatrix& matrix);

}  // namespace pwpoly
