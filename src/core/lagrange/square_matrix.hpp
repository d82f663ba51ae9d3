// A small dense square matrix of doubles, stored row by row.
#pragma once

#include <span>
#include <vector>

#include "support/size_policy.hpp"

namespace pwpoly {

/// A size x size matrix of doubles; entry (r, c) is entries[r * size + c]
/// (the column index runs fastest).
struct SquareMatrix {
    index_t size = 0;
    std::vector<double> entries;

    /// The size x size zero matrix. `size` is taken in 64 bits so that a count
    /// such as degree + 1 is passed without wrap-around; fails with "capacity
    /// overflow", before allocating, when size * size overflows or the entries
    /// do not fit one vector (8 bytes each).
    [[nodiscard]] static SquareMatrix zeros(std::uint64_t size);

    /// The size x size identity, under the same size rule as zeros.
    [[nodiscard]] static SquareMatrix identity(std::uint64_t size);

    [[nodiscard]] double& at(index_t r, index_t c) { return entries[std::size_t{r} * size + c]; }
    [[nodiscard]] double at(index_t r, index_t c) const {
        return entries[std::size_t{r} * size + c];
    }

    /// Row r as a contiguous span of `size` values.
    [[nodiscard]] std::span<double> row(index_t r) {
        return std::span<double>(entries).subspan(std::size_t{r} * size, size);
    }
    [[nodiscard]] std::span<const double> row(index_t r) const {
        return std::span<const double>(entries).subspan(std::size_t{r} * size, size);
    }

    friend bool operator==(const SquareMatrix&, const SquareMatrix&) = default;
};

}  // namespace pwpoly
