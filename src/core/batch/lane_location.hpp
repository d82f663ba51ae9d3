// The lanes of the batch kernels (a block of times carried in vectors of
// doubles) and the location of a block on the grid: the interval index and
// local coordinate of each time, lane by lane, with the rounded steps of
// locate_interval.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <span>

#include "legendre/legendre_basis.hpp"

namespace pwpoly::batch {

/// Times handled together by the batch kernels: one vector of four doubles
/// (AVX2), or two of two (SSE2), per step. Independent blocks keep the divider
/// busy; wider blocks made GCC 12 keep the lanes in memory.
inline constexpr std::size_t block_lanes = 4;

/// One double per lane of a block. Arithmetic on it is element-wise: each lane
/// gets the IEEE operation that the same expression on doubles performs, with
/// the same rounding.
using LaneDoubles = double __attribute__((vector_size(block_lanes * sizeof(double))));
/// One 32-bit integer per lane: interval indices.
using LaneIndices = std::int32_t __attribute__((vector_size(block_lanes * sizeof(std::int32_t))));

/// `value` in every lane.
[[nodiscard, gnu::always_inline]] inline LaneDoubles broadcast(double value) {
    LaneDoubles lanes{};
    for (std::size_t l = 0; l < block_lanes; ++l) {
        lanes[l] = value;
    }
    return lanes;
}

/// The lanes of `first[0 ... block_lanes - 1]`.
[[nodiscard, gnu::always_inline]] inline LaneDoubles load_lanes(const double* first) {
    LaneDoubles lanes{};
    std::memcpy(&lanes, first, sizeof lanes);
    return lanes;
}

/// Stores the lanes at `first[0 ... block_lanes - 1]`.
[[gnu::always_inline]] inline void store_lanes(LaneDoubles lanes, double* first) {
    std::memcpy(first, &lanes, sizeof lanes);
}

/// The interval index and local coordinate of each time of a block.
struct LaneLocations {
    /// Interval index per lane, 0 <= k < n_t.
    LaneIndices k;
    /// Local coordinate per lane, clamped to [-1, 1], or NaN.
    LaneDoubles xi;
};

/// Locates the times `t` of a block on the grid of `basis`, whose interval
/// width is w = interval_width(basis). Each lane gets the k and xi that
/// locate_interval(basis, t) gives, bit for bit:
///   q = t / w;  q = 0 unless q >= 1 (so NaN -> 0);  q = min(q, n_t - 1);
///   k = q truncated (the floor, since q >= 0);
///   a = k * w;  b = w + a;  xi = t + (a + b) * (-0.5);  xi = xi + xi;
///   xi = xi / (b - a);  xi clamped to [-1, 1] (NaN stays NaN).
/// Clamping q before truncation gives the index that the saturating floor
/// followed by the clamp to the last interval gives. Requires 1 <= n_t <=
/// 2^31 - 1 (every index fits the 32-bit lanes), which callers check.
[[nodiscard, gnu::always_inline]] inline LaneLocations locate_lanes(const LegendreBasis& basis,
                                                                    double w, LaneDoubles t) {
    const LaneDoubles zero = broadcast(0.0);
    const LaneDoubles last = broadcast(static_cast<double>(basis.n_t - 1));
    LaneDoubles q = t / w;
    q = q >= 1.0 ? q : zero;
    q = q < last ? q : last;
    const LaneIndices k = __builtin_convertvector(q, LaneIndices);

    const LaneDoubles a = __builtin_convertvector(k, LaneDoubles) * w;
    const LaneDoubles b = w + a;
    const LaneDoubles bounds_sum = a + b;
    const LaneDoubles minus_midpoint = bounds_sum * -0.5;
    LaneDoubles xi = t + minus_midpoint;
    xi = xi + xi;
    const LaneDoubles rounded_width = b - a;
    xi = xi / rounded_width;
    xi = xi < -1.0 ? broadcast(-1.0) : xi;
    xi = xi > 1.0 ? broadcast(1.0) : xi;
    return {k, xi};
}

/// The last interval that a whole block of times fell into, with the range of
/// times that surely fall into it too, so that times in order locate without
/// the division t / w. For a time t in [low, high) the quotient q = t / w
/// rounds to at least k and below k + 1 (to at most k + 1's predecessor):
/// low lies above k * w and high below pred(k + 1) * w, each by a step of one
/// unit in the last place past the rounded product, and rounding is monotone.
/// The first interval takes every time below high (q below 1 counts as 0),
/// the last every time from low on (q clamps to n_t - 1). NaN is in no range.
struct IntervalCache {
    double low = std::numeric_limits<double>::quiet_NaN();
    double high = std::numeric_limits<double>::quiet_NaN();
    LaneIndices k{};
    /// -(a + b) / 2 and b - a of interval k, as locate_lanes forms them.
    double minus_midpoint = 0.0;
    double rounded_width = 0.0;
};

/// The next double above a positive finite x (+inf's successor is NaN).
[[nodiscard, gnu::always_inline]] inline double next_up(double x) {
    return std::bit_cast<double>(std::bit_cast<std::uint64_t>(x) + 1);
}

/// The next double below a positive x (0's predecessor is NaN).
[[nodiscard, gnu::always_inline]] inline double next_down(double x) {
    return std::bit_cast<double>(std::bit_cast<std::uint64_t>(x) - 1);
}

/// The cache for interval k of the grid of `basis`, w = interval_width(basis)
/// finite and positive.
[[nodiscard, gnu::always_inline]] inline IntervalCache cache_interval(const LegendreBasis& basis,
                                                                      double w, std::int32_t k) {
    IntervalCache cache;
    const auto index = static_cast<double>(k);
    const double a = index * w;
    const double b = w + a;
    const double bounds_sum = a + b;
    cache.minus_midpoint = bounds_sum * -0.5;
    cache.rounded_width = b - a;
    cache.low = k == 0 ? -std::numeric_limits<double>::infinity() : next_up(a);
    const double below_next = next_down(index + 1.0);
    const double high_product = below_next * w;
    cache.high = static_cast<index_t>(k) + 1 == basis.n_t ? std::numeric_limits<double>::infinity()
                                                          : next_down(high_product);
    for (std::size_t l = 0; l < block_lanes; ++l) {
        cache.k[l] = k;
    }
    return cache;
}

/// locate_lanes, bit for bit, for a block all of whose times lie in the range
/// of `cache` (the interval's xi formed with the same steps), or else by
/// locate_lanes itself; a block that falls whole into one interval then
/// becomes the cache. `w` must be finite and positive.
[[nodiscard, gnu::always_inline]] inline LaneLocations locate_lanes_in_order(
    const LegendreBasis& basis, double w, LaneDoubles t, IntervalCache& cache) {
    const auto inside = (t >= cache.low) & (t < cache.high);
    bool all_inside = true;
    for (std::size_t l = 0; l < block_lanes; ++l) {
        all_inside = all_inside && inside[l] != 0;
    }
    if (all_inside) {
        LaneDoubles xi = t + cache.minus_midpoint;
        xi = xi + xi;
        xi = xi / cache.rounded_width;
        xi = xi < -1.0 ? broadcast(-1.0) : xi;
        xi = xi > 1.0 ? broadcast(1.0) : xi;
        return {cache.k, xi};
    }
    const LaneLocations at = locate_lanes(basis, w, t);
    bool one_interval = true;
    for (std::size_t l = 1; l < block_lanes; ++l) {
        one_interval = one_interval && at.k[l] == at.k[0];
    }
    if (one_interval) {
        cache = cache_interval(basis, w, at.k[0]);
    }
    return at;
}

/// The times first ... first + block_lanes - 1 as lanes; past the end of
/// `times` the lanes hold 0.0, so that a last, shorter block is processed
/// whole (only its lanes below times.size() - first belong to times).
[[gnu::always_inline]] inline LaneDoubles load_time_block(std::span<const double> times,
                                                          std::size_t first) {
    if (times.size() - first >= block_lanes) {
        return load_lanes(times.data() + first);
    }
    LaneDoubles lanes = broadcast(0.0);
    for (std::size_t l = 0; first + l < times.size(); ++l) {
        lanes[l] = times[first + l];
    }
    return lanes;
}

/// Stores the lanes of a block at out[first ...], as far as `out` reaches.
[[gnu::always_inline]] inline void store_time_block(LaneDoubles lanes, std::span<double> out,
                                                    std::size_t first) {
    if (out.size() - first >= block_lanes) {
        store_lanes(lanes, out.data() + first);
        return;
    }
    for (std::size_t l = 0; first + l < out.size(); ++l) {
        out[first + l] = lanes[l];
    }
}

}  // namespace pwpoly::batch
