// The entry-list matrix record: parallel row, column and value vectors in the
// order the entries were added.
#pragma once

#include <vector>

#include "support/size_policy.hpp"

namespace pwpoly {

/// A matrix of doubles given as a list of entries (rows[m], cols[m], values[m]).
/// Entries keep the order in which they were added and the same position may
/// occur several times; convert_coo_csr adds such entries up. The three
/// vectors always have equal length when filled through push.
struct CooMatrix {
    index_t nrows = 0;
    index_t ncols = 0;
    std::vector<index_t> rows;
    std::vector<index_t> cols;
    std::vector<double> values;

    /// An empty nrows x ncols matrix.
    CooMatrix(index_t nrows, index_t ncols) : nrows(nrows), ncols(ncols) {}

    /// Makes room for `count` entries in advance; fails with "capacity overflow"
    /// if that many entries do not fit the size policy.
    void reserve(std::uint64_t count);

    /// Appends the entry (i, j, v). Fails with "assertion failed: i < self.nrows"
    /// or "assertion failed: j < self.ncols" (tested in that order) when the
    /// position lies outside the matrix, and with "capacity overflow" when the
    /// entry list would outgrow the size policy.
    void push(index_t i, index_t j, double v);

    /// Number of entries.
    [[nodiscard]] index_t nnz() const { return static_cast<index_t>(rows.size()); }
};

}  // namespace pwpoly
