// The size policy: every vector keeps the limits of a 32-bit platform, so a
// request the module was not designed for fails early and the same way on
// every machine.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "support/cancellation.hpp"
#include "support/failure.hpp"

namespace pwpoly {

/// Unsigned 32-bit integer: every count and index of the module.
using index_t = std::uint32_t;

/// Largest single vector, in bytes (the largest object a 32-bit address space
/// allows).
inline constexpr std::uint64_t max_vector_bytes = 2147483647;

/// a + b, failing with "capacity overflow" if the sum does not fit 64 bits.
[[nodiscard]] inline std::uint64_t checked_add(
    std::uint64_t a, std::uint64_t b,
    std::source_location location = std::source_location::current()) {
    std::uint64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum)) {
        fail(std::string(capacity_overflow_message), location);
    }
    return sum;
}

/// a * b, failing with "capacity overflow" if the product does not fit 64 bits.
[[nodiscard]] inline std::uint64_t checked_mul(
    std::uint64_t a, std::uint64_t b,
    std::source_location location = std::source_location::current()) {
    std::uint64_t product = 0;
    if (__builtin_mul_overflow(a, b, &product)) {
        fail(std::string(capacity_overflow_message), location);
    }
    return product;
}

/// Checks that `count` elements of `element_bytes` bytes each fit one vector
/// and returns the count as a size. Fails with "capacity overflow" otherwise.
[[nodiscard]] inline std::size_t checked_vector_length(
    std::uint64_t count, std::uint64_t element_bytes,
    std::source_location location = std::source_location::current()) {
    if (checked_mul(count, element_bytes, location) > max_vector_bytes) {
        fail(std::string(capacity_overflow_message), location);
    }
    return static_cast<std::size_t>(count);
}

/// Bytes that one element of T counts for under the policy: the element sizes
/// of the 32-bit platform the module was designed for (8 per float, 4 per
/// index, 16 per pair of floats).
template <class T>
inline constexpr std::uint64_t policy_bytes = sizeof(T);

/// Elements filled or copied between two cancellation polls when a vector is
/// made: filling the largest vector (2 GiB) takes a good part of a second.
inline constexpr std::size_t filling_chunk = std::size_t{1} << 16;

/// A vector of `count` copies of `fill`, after the size check; a long one is
/// filled in chunks between cancellation polls.
template <class T>
[[nodiscard]] std::vector<T> make_vector(
    std::uint64_t count, const T& fill = T{},
    std::source_location location = std::source_location::current()) {
    const std::size_t length = checked_vector_length(count, policy_bytes<T>, location);
    if (length <= filling_chunk) {
        return std::vector<T>(length, fill);
    }
    std::vector<T> v;
    v.reserve(length);
    while (v.size() < length) {
        poll_cancellation();
        v.insert(v.end(), std::min(filling_chunk, length - v.size()), fill);
    }
    return v;
}

/// A copy of `source`; a long one is copied in chunks between cancellation
/// polls.
template <class T>
[[nodiscard]] std::vector<T> copy_vector(const std::vector<T>& source) {
    if (source.size() <= filling_chunk) {
        return source;
    }
    std::vector<T> v;
    v.reserve(source.size());
    while (v.size() < source.size()) {
        poll_cancellation();
        const std::size_t chunk = std::min(filling_chunk, source.size() - v.size());
        const auto first = source.begin() + static_cast<std::ptrdiff_t>(v.size());
        v.insert(v.end(), first, first + static_cast<std::ptrdiff_t>(chunk));
    }
    return v;
}

/// An empty vector with room for `count` elements, after the size check.
template <class T>
[[nodiscard]] std::vector<T> reserve_vector(
    std::uint64_t count, std::source_location location = std::source_location::current()) {
    std::vector<T> v;
    v.reserve(checked_vector_length(count, policy_bytes<T>, location));
    return v;
}

/// Appends `value`, failing with "capacity overflow" before the vector would
/// outgrow the policy.
template <class T>
void push_checked(std::vector<T>& v, const T& value,
                  std::source_location location = std::source_location::current()) {
    if (v.size() == v.capacity()) {
        (void)checked_vector_length(checked_add(v.size(), 1, location), policy_bytes<T>, location);
    }
    v.push_back(value);
}

}  // namespace pwpoly
