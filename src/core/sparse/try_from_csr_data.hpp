// Validated construction of a compressed-sparse-row matrix from raw vectors.
#pragma once

#include <variant>
#include <vector>

#include "sparse/csr_matrix.hpp"
#include "sparse/sparse_format_error.hpp"

namespace pwpoly {

/// Either the validated matrix or the reason the raw data was rejected.
using CsrResult = std::variant<CsrMatrix, SparseFormatError>;

/// Takes ownership of the three vectors and returns them as a CsrMatrix if they
/// form a valid nrows x ncols matrix; otherwise releases them and returns the
/// first violation found. Checks, in this order (nnz = column_indices.size()):
/// 1. major_offsets.size() != nrows + 1: InvalidStructure,
///    "Length of row offset array is not equal to nrows + 1."
/// 2. major_offsets[0] != 0 or major_offsets[nrows] != nnz: InvalidStructure,
///    with the first/last row offset message.
/// 3. for each row r ascending: major_offsets[r + 1] below major_offsets[r] or
///    above nnz: InvalidStructure, "Row offsets are not monotonically increasing.";
///    then the row's columns left to right, each first against ncols
///    (IndexOutOfBounds, "Column indices are out of bounds."), then against its
///    left neighbour: equal is DuplicateEntry, "Matrix data contains duplicate
///    entries.", smaller is InvalidStructure, "Column indices are not
///    monotonically increasing (sorted) within each row."
/// 4. values.size() != nnz: InvalidStructure,
///    "Number of values and column indices must be the same"
/// Rejections are returned, never raised as internal failures.
[[nodiscard]] CsrResult try_from_csr_data(index_t nrows, index_t ncols,
                                          std::vector<index_t> major_offsets,
                                          std::vector<index_t> column_indices,
                                          std::vector<double> values);

}  // namespace pwpoly
