// Caller-owned arrays of a compressed-row matrix, filled by the batch kernels.
#pragma once

#include <span>

namespace pwpoly::batch {

/// The three arrays of a compressed-row matrix with `Index` (std::int32_t or
/// std::int64_t) indices: row j holds the entries data[indptr[j] ...
/// indptr[j + 1] - 1], in the columns at the same places of `indices`.
/// Points into memory owned elsewhere.
template <class Index>
struct CsrArrays {
    std::span<double> data;
    std::span<Index> indices;
    std::span<Index> indptr;
};

}  // namespace pwpoly::batch
