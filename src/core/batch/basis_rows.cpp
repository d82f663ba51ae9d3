// Basis matrix rows: each block of times is located and carried through the
// Legendre recurrence lane by lane, and every lane writes one entry of its row
// per degree.
#include "batch/basis_rows.hpp"

#include <algorithm>
#include <array>
#include <limits>

#include "batch/batch_checks.hpp"
#include "batch/lane_location.hpp"
#include "batch/lane_recurrence.hpp"
#include "batch/vector_dispatch.hpp"
#include "support/cancellation.hpp"

namespace pwpoly::batch {
namespace {

template <class Index>
void check_rows(const LegendreBasis& basis, std::size_t time_count, const CsrArrays<Index>& out) {
    check_batch_grid(basis);
    const std::uint64_t per_row = coefficients_per_interval(basis);
    const auto largest = static_cast<std::uint64_t>(std::numeric_limits<Index>::max());
    check_buffer_sizes(product_equals(time_count, per_row, out.data.size()) &&
                       out.indices.size() == out.data.size() &&
                       out.indptr.size() == time_count + 1 && out.data.size() <= largest &&
                       coefficient_count(basis) - 1 <= largest);
}

// The rows of a whole block when a row has block_lanes entries: the entries
// of all degrees computed first, then turned from one vector per degree into
// one vector per time (a transposition, which moves values without changing
// them) and stored a row at a time.
template <class Lanes, class Index, class Entry>
PWPOLY_INLINE_IN_KERNEL void write_square_rows(const LaneLocations& at, Lanes& lanes,
                                               std::size_t first, std::uint64_t n_t,
                                               const CsrArrays<Index>& out, Entry entry) {
    static_assert(block_lanes == 4);
    std::array<LaneDoubles, block_lanes> by_degree{};
    for (std::size_t i = 0; i < block_lanes; ++i) {
        if (i != 0) {
            lanes.advance();
        }
        by_degree[i] = entry(lanes.current);
    }
    // Lane selections with constant indices, which GCC (from 12) and Clang
    // both compile to shuffles.
    const LaneDoubles t0 = __builtin_shufflevector(by_degree[0], by_degree[1], 0, 4, 2, 6);
    const LaneDoubles t1 = __builtin_shufflevector(by_degree[0], by_degree[1], 1, 5, 3, 7);
    const LaneDoubles t2 = __builtin_shufflevector(by_degree[2], by_degree[3], 0, 4, 2, 6);
    const LaneDoubles t3 = __builtin_shufflevector(by_degree[2], by_degree[3], 1, 5, 3, 7);
    const std::array<LaneDoubles, block_lanes> by_time{
        __builtin_shufflevector(t0, t2, 0, 1, 4, 5), __builtin_shufflevector(t1, t3, 0, 1, 4, 5),
        __builtin_shufflevector(t0, t2, 2, 3, 6, 7), __builtin_shufflevector(t1, t3, 2, 3, 6, 7)};
    for (std::size_t l = 0; l < block_lanes; ++l) {
        const std::size_t place = (first + l) * block_lanes;
        store_lanes(by_time[l], out.data.data() + place);
        const auto k = static_cast<std::uint64_t>(at.k[l]);
        for (std::size_t i = 0; i < block_lanes; ++i) {
            out.indices[place + i] = static_cast<Index>(k + n_t * i);
        }
    }
}

// Writes entry i of each lane's row: entry(lane factor) in data, the column
// k + n_t * i in indices, for the first `count` lanes. `Degree` is the grid's
// degree where it is known when compiling (the loop over degrees unrolls and
// the recurrence's tests on the degree fold away), -1 otherwise.
template <int Degree, class Lanes, class Index, class Entry>
PWPOLY_INLINE_IN_KERNEL void write_rows(const LegendreBasis& basis, const LaneLocations& at,
                                        Lanes& lanes, std::size_t first, std::size_t count,
                                        const CsrArrays<Index>& out, Entry entry) {
    const std::uint64_t per_row =
        Degree >= 0 ? static_cast<std::uint64_t>(Degree) + 1 : coefficients_per_interval(basis);
    const std::uint64_t n_t = basis.n_t;
    if constexpr (Degree + 1 == block_lanes) {
        if (count == block_lanes) {
            write_square_rows(at, lanes, first, n_t, out, entry);
            return;
        }
    }
    for (std::uint64_t i = 0; i < per_row; ++i) {
        if (i != 0) {
            lanes.advance();
        }
        for (std::size_t l = 0; l < count; ++l) {
            const std::size_t place = (first + l) * per_row + i;
            out.data[place] = entry(lanes.current[l]);
            out.indices[place] = static_cast<Index>(static_cast<std::uint64_t>(at.k[l]) + n_t * i);
        }
    }
}

// Blocks located ahead of their rows, so that their divisions overlap.
constexpr std::size_t tile_blocks = 8;

template <int Degree, class Lanes, class Index, class Entry>
PWPOLY_INLINE_IN_KERNEL void fill_rows_of_degree(const LegendreBasis& basis,
                                                 std::span<const double> times,
                                                 const CsrArrays<Index>& out, Entry entry) {
    const double w = interval_width(basis);
    const std::uint64_t per_row = coefficients_per_interval(basis);
    CancellationCounter poll;
    for (std::size_t j = 0; j < out.indptr.size(); ++j) {
        poll.tick();
        out.indptr[j] = static_cast<Index>(j * per_row);
    }
    std::array<LaneLocations, tile_blocks> tile{};
    for (std::size_t first = 0; first < times.size(); first += block_lanes) {
        const std::size_t b = first / block_lanes % tile_blocks;
        if (b == 0) {
            for (std::size_t a = 0; a < tile_blocks; ++a) {
                const std::size_t start = first + a * block_lanes;
                if (start >= times.size()) {
                    break;
                }
                tile[a] = locate_lanes(basis, w, load_time_block(times, start));
            }
        }
        const std::size_t count = std::min(block_lanes, times.size() - first);
        poll.tick(block_lanes * per_row);
        Lanes lanes(tile[b].xi);
        write_rows<Degree>(basis, tile[b], lanes, first, count, out, entry);
    }
}

template <class Lanes, class Index, class Entry>
PWPOLY_INLINE_IN_KERNEL void fill_rows_with(const LegendreBasis& basis,
                                            std::span<const double> times,
                                            const CsrArrays<Index>& out, Entry entry) {
    check_rows(basis, times.size(), out);
    switch (basis.degree) {
        case 1:
            return fill_rows_of_degree<1, Lanes>(basis, times, out, entry);
        case 2:
            return fill_rows_of_degree<2, Lanes>(basis, times, out, entry);
        case 3:
            return fill_rows_of_degree<3, Lanes>(basis, times, out, entry);
        default:
            return fill_rows_of_degree<-1, Lanes>(basis, times, out, entry);
    }
}

// The values are the entries themselves.
struct EntryAsItIs {
    template <class Value>
    [[gnu::always_inline]] Value operator()(Value value) const {
        return value;
    }
};

// Chain rule, dxi/dt = 2 / w, for each entry on its own: (P'_i + P'_i) / w.
struct TimeDerivative {
    double w;
    template <class Derivative>
    [[gnu::always_inline]] Derivative operator()(Derivative derivative) const {
        const Derivative doubled = derivative + derivative;
        return doubled / w;
    }
};

template <class Index>
PWPOLY_INLINE_IN_KERNEL void fill_table_rows(const LegendreBasis& basis, BasisTable table,
                                             std::span<const double> times,
                                             const CsrArrays<Index>& out) {
    if (table == BasisTable::values) {
        fill_rows_with<LegendreLanes>(basis, times, out, EntryAsItIs{});
        return;
    }
    fill_rows_with<LegendreDerivativeLanes>(basis, times, out,
                                            TimeDerivative{interval_width(basis)});
}

template <class Index>
void rows_baseline(const LegendreBasis& basis, BasisTable table, std::span<const double> times,
                   const CsrArrays<Index>& out) {
    fill_table_rows(basis, table, times, out);
}

template <class Index>
PWPOLY_AVX2_TARGET void rows_avx2(const LegendreBasis& basis, BasisTable table,
                                  std::span<const double> times, const CsrArrays<Index>& out) {
    fill_table_rows(basis, table, times, out);
}

}  // namespace

void fill_basis_rows(const LegendreBasis& basis, BasisTable table, std::span<const double> times,
                     const CsrArrays<std::int32_t>& out) {
    (processor_has_avx2() ? rows_avx2<std::int32_t> : rows_baseline<std::int32_t>)(basis, table,
                                                                                   times, out);
}

void fill_basis_rows(const LegendreBasis& basis, BasisTable table, std::span<const double> times,
                     const CsrArrays<std::int64_t>& out) {
    (processor_has_avx2() ? rows_avx2<std::int64_t> : rows_baseline<std::int64_t>)(basis, table,
                                                                                   times, out);
}

}  // namespace pwpoly::batch
