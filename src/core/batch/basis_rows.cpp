// Basis matrix rows: each block of times is located and carried through the
// Legendre recurrence lane by lane, and every lane writes one entry of its row
// per degree.
#include "batch/basis_rows.hpp"

#include <algorithm>
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

// Writes entry i of each lane's row: entry(lane factor) in data, the column
// k + n_t * i in indices, for the first `count` lanes.
template <class Lanes, class Index, class Entry>
PWPOLY_INLINE_IN_KERNEL void write_rows(const LegendreBasis& basis, const LaneLocations& at,
                                        Lanes& lanes, std::size_t first, std::size_t count,
                                        const CsrArrays<Index>& out, Entry entry,
                                        CancellationCounter& poll) {
    const std::uint64_t per_row = coefficients_per_interval(basis);
    const std::uint64_t n_t = basis.n_t;
    for (std::uint64_t i = 0; i < per_row; ++i) {
        if (i != 0) {
            lanes.advance();
        }
        poll.tick(block_lanes);
        for (std::size_t l = 0; l < count; ++l) {
            const std::size_t place = (first + l) * per_row + i;
            out.data[place] = entry(lanes.current[l]);
            out.indices[place] = static_cast<Index>(static_cast<std::uint64_t>(at.k[l]) + n_t * i);
        }
    }
}

template <class Lanes, class Index, class Entry>
PWPOLY_INLINE_IN_KERNEL void fill_rows_with(const LegendreBasis& basis,
                                            std::span<const double> times,
                                            const CsrArrays<Index>& out, Entry entry) {
    check_rows(basis, times.size(), out);
    const double w = interval_width(basis);
    const std::uint64_t per_row = coefficients_per_interval(basis);
    CancellationCounter poll;
    for (std::size_t j = 0; j < out.indptr.size(); ++j) {
        poll.tick();
        out.indptr[j] = static_cast<Index>(j * per_row);
    }
    for (std::size_t first = 0; first < times.size(); first += block_lanes) {
        const std::size_t count = std::min(block_lanes, times.size() - first);
        const LaneLocations at = locate_lanes(basis, w, load_time_block(times, first));
        Lanes lanes(at.xi);
        write_rows(basis, at, lanes, first, count, out, entry, poll);
    }
}

// Chain rule, dxi/dt = 2 / w, for each entry on its own: (P'_i + P'_i) / w.
struct TimeDerivative {
    double w;
    double operator()(double derivative) const {
        const double doubled = derivative + derivative;
        return doubled / w;
    }
};

template <class Index>
PWPOLY_INLINE_IN_KERNEL void fill_table_rows(const LegendreBasis& basis, BasisTable table,
                                             std::span<const double> times,
                                             const CsrArrays<Index>& out) {
    if (table == BasisTable::values) {
        fill_rows_with<LegendreLanes>(basis, times, out, [](double value) { return value; });
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
