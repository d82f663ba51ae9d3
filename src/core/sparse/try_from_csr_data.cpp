// Validation of raw compressed-row data, first violation wins.
#include "sparse/try_from_csr_data.hpp"

#include <cstdint>
#include <optional>
#include <span>

namespace pwpoly {

namespace {

SparseFormatError invalid_structure(const char* message) {
    return {SparseFormatErrorKind::InvalidStructure, message};
}

std::optional<SparseFormatError> find_structure_error(index_t nrows, index_t ncols,
                                                      std::span<const index_t> offsets,
                                                      std::span<const index_t> columns) {
    // Compared in 64 bits: nrows + 1 must not wrap for the largest row count.
    if (offsets.size() != std::uint64_t{nrows} + 1) {
        return invalid_structure("Length of row offset array is not equal to nrows + 1.");
    }
    const std::size_t nnz = columns.size();
    if (offsets[0] != 0 || offsets[nrows] != nnz) {
        // The message's wording is the one callers match on; its "format
        // specification" is the CSR layout: offsets run from 0 to nnz.
        return invalid_structure(
            "First or last row offset is inconsistent with format specification.");
    }
    for (index_t r = 0; r < nrows; ++r) {
        const index_t begin = offsets[r];
        const index_t end = offsets[r + 1];
        // An offset beyond nnz is caught here, before its columns are read.
        if (end < begin || end > nnz) {
            return invalid_structure("Row offsets are not monotonically increasing.");
        }
        for (index_t m = begin; m < end; ++m) {
            const index_t column = columns[m];
            if (column >= ncols) {
                return SparseFormatError{SparseFormatErrorKind::IndexOutOfBounds,
                                         "Column indices are out of bounds."};
            }
            if (m == begin) {
                continue;
            }
            if (column == columns[m - 1]) {
                return SparseFormatError{SparseFormatErrorKind::DuplicateEntry,
                                         "Matrix data contains duplicate entries."};
            }
            if (column < columns[m - 1]) {
                return invalid_structure(
                    "Column indices are not monotonically increasing (sorted) within each "
                    "row.");
            }
        }
    }
    return std::nullopt;
}

}  // namespace

CsrResult try_from_csr_data(index_t nrows, index_t ncols, std::vector<index_t> major_offsets,
                            std::vector<index_t> column_indices, std::vector<double> values) {
    if (auto error = find_structure_error(nrows, ncols, major_offsets, column_indices)) {
        return *std::move(error);
    }
    if (values.size() != column_indices.size()) {
        return invalid_structure("Number of values and column indices must be the same");
    }
    return CsrMatrix{std::move(major_offsets), std::move(column_indices), ncols, std::move(values)};
}

}  // namespace pwpoly
