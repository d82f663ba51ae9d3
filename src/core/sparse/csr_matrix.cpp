// Row access of the compressed-sparse-row record.
#include "sparse/csr_matrix.hpp"

namespace pwpoly {

index_t CsrMatrix::nrows() const {
    check(!major_offsets.empty(), "assertion failed: !self.major_offsets.is_empty()");
    return static_cast<index_t>(major_offsets.size() - 1);
}

std::span<const index_t> CsrMatrix::row_columns(index_t r) const {
    check_index(r, nrows());
    const index_t begin = major_offsets[r];
    return std::span<const index_t>(column_indices).subspan(begin, major_offsets[r + 1] - begin);
}

std::span<const double> CsrMatrix::row_values(index_t r) const {
    check_index(r, nrows());
    const index_t begin = major_offsets[r];
    return std::span<const double>(values).subspan(begin, major_offsets[r + 1] - begin);
}

}  // namespace pwpoly
