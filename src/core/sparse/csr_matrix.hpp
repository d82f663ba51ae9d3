// The compressed-sparse-row matrix record: row offsets, column indices and
// values of the stored entries, row by row.
#pragma once

#include <span>
#include <vector>

#include "support/size_policy.hpp"

namespace pwpoly {

/// A matrix of doubles in compressed sparse row form. Row r's stored entries
/// occupy positions major_offsets[r] up to (not including) major_offsets[r + 1]
/// of `column_indices` and `values`. The row count is not stored: it is
/// major_offsets.size() - 1.
///
/// A record built by try_from_csr_data (and so by every conversion) satisfies:
/// major_offsets[0] == 0, major_offsets.back() == nnz, offsets non-decreasing,
/// every column < ncols, columns strictly increasing within a row, and
/// values.size() == column_indices.size(). Explicit zeros are ordinary stored
/// entries.
struct CsrMatrix {
    std::vector<index_t> major_offsets;
    std::vector<index_t> column_indices;
    index_t ncols = 0;
    std::vector<double> values;

    /// Row count, major_offsets.size() - 1. Fails with
    /// "assertion failed: !self.major_offsets.is_empty()" when there are no
    /// offsets at all.
    [[nodiscard]] index_t nrows() const;

    /// Number of stored entries.
    [[nodiscard]] index_t nnz() const { return static_cast<index_t>(column_indices.size()); }

    /// Column indices of row r's stored entries, in storage order. Fails with the
    /// index message of check_index unless r < nrows().
    [[nodiscard]] std::span<const index_t> row_columns(index_t r) const;

    /// Values of row r's stored entries, aligned with row_columns(r).
    [[nodiscard]] std::span<const double> row_values(index_t r) const;
};

}  // namespace pwpoly
