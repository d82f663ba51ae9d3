// Filling the entry-list matrix record.
#include "sparse/coo_matrix.hpp"

namespace pwpoly {

void CooMatrix::reserve(std::uint64_t count) {
    // The value vector has the widest elements: once it fits, so do the index
    // vectors, and nothing is allocated for a count that fails.
    const std::size_t length = checked_vector_length(count, policy_bytes<double>);
    values.reserve(length);
    rows.reserve(length);
    cols.reserve(length);
}

void CooMatrix::push(index_t i, index_t j, double v) {
    check(i < nrows, "assertion failed: i < self.nrows");
    check(j < ncols, "assertion failed: j < self.ncols");
    // Values first: their vector reaches the size limit first, and the entry
    // list stays aligned when it does.
    push_checked(values, v);
    push_checked(rows, i);
    push_checked(cols, j);
}

}  // namespace pwpoly
