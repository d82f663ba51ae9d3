// The preconditions that every batch kernel checks before it starts: a grid
// whose interval indices fit the lanes, and buffers of the sizes the grid
// implies.
#pragma once

#include <cstdint>

#include "legendre/legendre_basis.hpp"
#include "support/failure.hpp"

namespace pwpoly::batch {

/// The largest interval count of a batch kernel: interval indices are carried
/// in 32-bit signed lanes.
inline constexpr index_t batch_max_intervals = 2147483647;

/// Fails with "batch kernel: n_t must be 1 to 2147483647" unless the grid of
/// `basis` has that many intervals.
inline void check_batch_grid(const LegendreBasis& basis) {
    check(basis.n_t >= 1 && basis.n_t <= batch_max_intervals,
          "batch kernel: n_t must be 1 to 2147483647");
}

/// True when a * b, formed without wrap-around, equals `expected`.
[[nodiscard]] inline bool product_equals(std::uint64_t a, std::uint64_t b, std::uint64_t expected) {
    std::uint64_t product = 0;
    return !__builtin_mul_overflow(a, b, &product) && product == expected;
}

/// Fails with "batch kernel: wrong buffer size" unless `condition` holds.
inline void check_buffer_sizes(bool condition) {
    check(condition, "batch kernel: wrong buffer size");
}

}  // namespace pwpoly::batch
