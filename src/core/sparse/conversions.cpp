// Entry list to compressed rows (count, running sum, scatter, sort and merge
// per row) and back.
#include "sparse/conversions.hpp"

#include <algorithm>
#include <utility>
#include <variant>

#include "sparse/try_from_csr_data.hpp"
#include "support/cancellation.hpp"
#include "support/text.hpp"

namespace pwpoly {

namespace {

// Orders the entries [begin, end) of a scattered row by column, keeping equal
// columns in their stored order so that duplicates are added in that order.
void sort_row(std::vector<index_t>& cols, std::vector<double>& values, index_t begin, index_t end,
              std::vector<std::pair<index_t, double>>& scratch) {
    if (std::is_sorted(cols.begin() + begin, cols.begin() + end)) {
        return;
    }
    scratch.clear();
    for (index_t m = begin; m < end; ++m) {
        scratch.emplace_back(cols[m], values[m]);
    }
    std::stable_sort(scratch.begin(), scratch.end(),
                     [](const auto& left, const auto& right) { return left.first < right.first; });
    for (index_t m = begin; m < end; ++m) {
        cols[m] = scratch[m - begin].first;
        values[m] = scratch[m - begin].second;
    }
}

}  // namespace

CsrMatrix convert_coo_csr(const CooMatrix& coo) {
    assert_equal(coo.cols.size(), coo.rows.size());
    assert_equal(coo.values.size(), coo.rows.size());
    const index_t nrows = coo.nrows;
    const std::size_t nnz = coo.rows.size();

    // Entries per row, then the exclusive running sum: start[r] is the number
    // of entries in rows 0 .. r-1.
    std::vector<index_t> start = make_vector<index_t>(checked_add(nrows, 1));
    for (const index_t row : coo.rows) {
        check_index(row, nrows);
        ++start[row];
    }
    index_t running = 0;
    for (index_t& slot : start) {
        const index_t count = slot;
        slot = running;
        running += count;
    }

    // Scatter in stored order; next[r] is the next free position of row r.
    std::vector<index_t> cols = make_vector<index_t>(nnz);
    std::vector<double> values = make_vector<double>(nnz);
    std::vector<index_t> next = start;
    CancellationCounter poll;
    for (std::size_t m = 0; m < nnz; ++m) {
        poll.tick();
        const index_t position = next[coo.rows[m]]++;
        cols[position] = coo.cols[m];
        values[position] = coo.values[m];
    }

    // Sort and merge each row in place. Merging only shrinks a row, and rows are
    // compacted in ascending order, so the write position never passes the read
    // position.
    std::vector<index_t> offsets = make_vector<index_t>(checked_add(nrows, 1));
    std::vector<std::pair<index_t, double>> scratch;
    index_t write = 0;
    for (index_t r = 0; r < nrows; ++r) {
        const index_t begin = start[r];
        const index_t end = start[r + 1];
        poll.tick(std::size_t{end - begin} + 1);
        sort_row(cols, values, begin, end, scratch);
        for (index_t m = begin; m < end; ++m) {
            if (m > begin && cols[m] == cols[write - 1]) {
                values[write - 1] = values[write - 1] + values[m];
                continue;
            }
            cols[write] = cols[m];
            values[write] = values[m];
            ++write;
        }
        offsets[r + 1] = write;
    }
    cols.resize(write);
    values.resize(write);

    CsrResult result =
        try_from_csr_data(nrows, coo.ncols, std::move(offsets), std::move(cols), std::move(values));
    if (auto* error = std::get_if<SparseFormatError>(&result)) {
        fail(concat("Internal error: Invalid CSR data during COO->CSR conversion: ",
                    debug_form(*error)));
    }
    return std::get<CsrMatrix>(std::move(result));
}

CooMatrix convert_csr_coo(const CsrMatrix& csr) {
    const index_t nrows = csr.nrows();
    CooMatrix coo(nrows, csr.ncols);
    coo.reserve(csr.values.size());
    CancellationCounter poll;
    for (index_t r = 0; r < nrows; ++r) {
        const auto columns = csr.row_columns(r);
        const auto values = csr.row_values(r);
        poll.tick(columns.size() + 1);
        for (std::size_t m = 0; m < columns.size(); ++m) {
            coo.push(r, columns[m], values[m]);
        }
    }
    return coo;
}

}  // namespace pwpoly
