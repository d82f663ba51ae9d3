// Batch evaluation: a tile of a few blocks of times is located and carried
// through the Legendre recurrence lane by lane, the blocks of the tile side by
// side so that their divisions overlap; then each expansion's sum is formed,
// term by term in ascending degree, from the coefficients of the located
// interval.
#include "batch/expansion_batch.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "batch/batch_checks.hpp"
#include "batch/lane_location.hpp"
#include "batch/lane_recurrence.hpp"
#include "batch/vector_dispatch.hpp"
#include "support/cancellation.hpp"

namespace pwpoly::batch {
namespace {

// Whether `rows` rows of `columns` values, `stride` apart, fill a span of
// `size` exactly (stride == columns) or end within it (a window).
bool rows_fit(std::uint64_t rows, std::uint64_t stride, std::uint64_t columns, std::uint64_t size) {
    if (stride == columns) {
        return product_equals(rows, columns, size);
    }
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    return rows >= 1 && !__builtin_mul_overflow(rows - 1, stride, &start) &&
           !__builtin_add_overflow(start, columns, &end) && end <= size;
}

// Whether `planes` planes of `times` rows of `width` values, plane_stride
// apart, end within a span of `size`.
bool planes_fit(std::uint64_t times, std::uint64_t width, std::uint64_t planes,
                std::uint64_t plane_stride, std::uint64_t size) {
    std::uint64_t rows = 0;
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    return !__builtin_mul_overflow(times, width, &rows) && rows <= plane_stride &&
           !__builtin_mul_overflow(planes - 1, plane_stride, &start) &&
           !__builtin_add_overflow(start, rows, &end) && end <= size;
}

void check_batch(const ExpansionColumns& expansions, std::size_t time_count, std::size_t out_size) {
    check_batch_grid(expansions.basis);
    const std::size_t columns = expansions.columns;
    const std::size_t stride = expansions.row_stride();
    const std::size_t planes = expansions.planes;
    const bool results_fit =
        planes == 1
            ? rows_fit(time_count, stride, columns, out_size) || (time_count == 0 && out_size == 0)
            : planes >= 2 && stride == columns && columns % planes == 0 &&
                  planes_fit(time_count, columns / planes, planes, expansions.plane_stride,
                             out_size);
    check_buffer_sizes(
        columns >= 1 && stride >= columns && (stride == columns || columns >= 2) &&
        rows_fit(coefficient_count(expansions.basis), stride, columns, expansions.values.size()) &&
        results_fit);
}

// Rows between the coefficients of neighbouring intervals and between those
// of neighbouring degrees of one interval.
struct RowSteps {
    std::size_t interval;
    std::size_t degree;
};

RowSteps row_steps(const ExpansionColumns& expansions) {
    const LegendreBasis& basis = expansions.basis;
    if (expansions.order == CoefficientOrder::flat) {
        return {1, basis.n_t};
    }
    return {coefficients_per_interval(basis), 1};
}

// Blocks of times located and carried through the recurrence side by side:
// their divisions are independent, so the processor overlaps them instead of
// waiting for each block's chain of divisions in turn.
constexpr std::size_t tile_blocks = 8;

// Degrees whose factors a tile holds at once.
constexpr std::size_t degree_chunk = 32;

// The blocks of a tile: their locations, and the factors (P_i or P'_i) of a
// chunk of degrees, factors[j][b] for degree first + j of block b.
template <class Lanes>
struct Tile {
    std::size_t blocks = 0;
    std::array<LaneLocations, tile_blocks> at{};
    // Whether all lanes of a block lie in one interval (sorted times, mostly).
    std::array<bool, tile_blocks> one_interval{};
    std::array<Lanes, tile_blocks> lanes{};
    std::array<std::array<LaneDoubles, tile_blocks>, degree_chunk> factors{};
    std::size_t first = 0;
    std::size_t size = 0;
    bool starts = false;
    bool ends = false;
};

// Where results go: the result of time j (of this call) and column e of plane
// p at base[p * plane_step + j * time_step + e].
struct ResultLayout {
    double* base;
    std::size_t time_step;
    std::size_t plane_step;
    std::size_t planes;
    std::size_t width;
};

// Where the coefficients of a tile's chunk of degrees lie: values + (interval
// row + degree row) * row_stride + column.
struct CoefficientLayout {
    const double* values;
    RowSteps steps;
    std::size_t row_stride;
};

// The starting sums of `M` columns for the lanes of a block: -0.0, or the
// partial sums that an earlier chunk of degrees left in the result rows.
template <std::size_t M, class Lanes>
PWPOLY_INLINE_IN_KERNEL std::array<LaneDoubles, M> starting_sums(const Tile<Lanes>& tile,
                                                                 std::size_t count,
                                                                 const double* out,
                                                                 std::size_t time_step) {
    std::array<LaneDoubles, M> sums{};
    for (std::size_t c = 0; c < M; ++c) {
        sums[c] = broadcast(-0.0);
        if (!tile.starts) {
            for (std::size_t l = 0; l < count; ++l) {
                sums[c][l] = out[l * time_step + c];
            }
        }
    }
    return sums;
}

// S = S + factor_i * c_i over the tile's chunk of degrees, for `M` columns of
// block b, whose lanes may lie in different intervals.
template <std::size_t M, class Lanes>
PWPOLY_INLINE_IN_KERNEL void add_chunk_terms(const Tile<Lanes>& tile, std::size_t b,
                                             const CoefficientLayout& layout, const double* values,
                                             std::array<LaneDoubles, M>& sums) {
    const RowSteps steps = layout.steps;
    const std::size_t stride = layout.row_stride;
    const LaneIndices k = tile.at[b].k;
    if (tile.one_interval[b]) {
        const double* interval = values + static_cast<std::size_t>(k[0]) * steps.interval * stride;
        for (std::size_t j = 0; j < tile.size; ++j) {
            const double* row = interval + (tile.first + j) * steps.degree * stride;
            for (std::size_t c = 0; c < M; ++c) {
                const LaneDoubles terms = tile.factors[j][b] * row[c];
                sums[c] = sums[c] + terms;
            }
        }
        return;
    }
    std::array<const double*, block_lanes> intervals{};
    for (std::size_t l = 0; l < block_lanes; ++l) {
        intervals[l] = values + static_cast<std::size_t>(k[l]) * steps.interval * stride;
    }
    for (std::size_t j = 0; j < tile.size; ++j) {
        const std::size_t row = (tile.first + j) * steps.degree * stride;
        for (std::size_t c = 0; c < M; ++c) {
            LaneDoubles coefficients{};
            for (std::size_t l = 0; l < block_lanes; ++l) {
                coefficients[l] = intervals[l][row + c];
            }
            const LaneDoubles terms = tile.factors[j][b] * coefficients;
            sums[c] = sums[c] + terms;
        }
    }
}

// Sums of `M` neighbouring columns for the lanes of block b, lanes across
// times: S = -0.0 (or the partial sum waiting in the result rows), S = S +
// factor_i * c_i for the degrees of the chunk, finish(S) after the last one.
// `values` points at the first of the columns in row 0, `out` at the result
// of the block's first time and first column.
template <std::size_t M, class Lanes, class Finish>
PWPOLY_INLINE_IN_KERNEL void lane_sums(const Tile<Lanes>& tile, std::size_t b, std::size_t count,
                                       const CoefficientLayout& layout, const double* values,
                                       double* out, std::size_t time_step, Finish finish) {
    std::array<LaneDoubles, M> sums = starting_sums<M>(tile, count, out, time_step);
    add_chunk_terms<M>(tile, b, layout, values, sums);
    for (std::size_t c = 0; c < M; ++c) {
        const LaneDoubles results = tile.ends ? finish(sums[c]) : sums[c];
        if (M == 1 && time_step == 1 && count == block_lanes) {
            store_lanes(results, out);
            continue;
        }
        for (std::size_t l = 0; l < count; ++l) {
            out[l * time_step + c] = results[l];
        }
    }
}

// Sums of `vectors` groups of block_lanes neighbouring columns for lane l of
// block b, columns across the vector: the same steps per column as lane_sums.
template <class Lanes, class Finish>
PWPOLY_INLINE_IN_KERNEL void column_vector_sums(const Tile<Lanes>& tile, std::size_t b,
                                                std::size_t l, const CoefficientLayout& layout,
                                                const double* values, std::size_t vectors,
                                                double* out, Finish finish) {
    const std::size_t stride = layout.row_stride;
    const double* interval =
        values + static_cast<std::size_t>(tile.at[b].k[l]) * layout.steps.interval * stride;
    const std::size_t degree_step = layout.steps.degree * stride;
    const double* first_row = interval + tile.first * degree_step;
    for (std::size_t v = 0; v < vectors; ++v) {
        const std::size_t e = v * block_lanes;
        LaneDoubles sum = tile.starts ? broadcast(-0.0) : load_lanes(out + e);
        const double* row = first_row + e;
        for (std::size_t j = 0; j < tile.size; ++j, row += degree_step) {
            const LaneDoubles terms = tile.factors[j][b][l] * load_lanes(row);
            sum = sum + terms;
        }
        store_lanes(tile.ends ? finish(sum) : sum, out + e);
    }
}

// The results of one plane's `width` columns, starting at column `column` of
// the table, for block b of the tile: groups of block_lanes columns across
// vectors where there are at least that many, the rest lanes across times.
template <class Lanes, class Finish>
PWPOLY_INLINE_IN_KERNEL void plane_results(const Tile<Lanes>& tile, std::size_t b,
                                           std::size_t count, const CoefficientLayout& layout,
                                           std::size_t column, std::size_t width, double* out,
                                           std::size_t time_step, Finish finish) {
    const double* values = layout.values + column;
    const std::size_t vectors = width / block_lanes;
    if (vectors != 0) {
        for (std::size_t l = 0; l < count; ++l) {
            column_vector_sums(tile, b, l, layout, values, vectors, out + l * time_step, finish);
        }
    }
    const std::size_t done = vectors * block_lanes;
    switch (width - done) {
        case 1:
            lane_sums<1>(tile, b, count, layout, values + done, out + done, time_step, finish);
            break;
        case 2:
            lane_sums<2>(tile, b, count, layout, values + done, out + done, time_step, finish);
            break;
        case 3:
            lane_sums<3>(tile, b, count, layout, values + done, out + done, time_step, finish);
            break;
        default:
            break;
    }
}

// The values are the sums themselves.
struct SumsAsTheyAre {
    template <class Sums>
    [[gnu::always_inline]] Sums operator()(Sums sums) const {
        return sums;
    }
};

// Whether the interval width lets times in order skip their division
// (IntervalCache needs a finite positive width).
bool width_for_cache(double w) { return w > 0.0 && w <= std::numeric_limits<double>::max(); }

// Locates a block: through the cache of the last interval where the width
// allows it, else directly; the same bits either way.
PWPOLY_INLINE_IN_KERNEL LaneLocations locate_block(const LegendreBasis& basis, double w,
                                                   bool cached, LaneDoubles t,
                                                   IntervalCache& cache) {
    return cached ? locate_lanes_in_order(basis, w, t, cache) : locate_lanes(basis, w, t);
}

// Locates the blocks of a tile ahead of their sums, from the block of times
// that starts at `first`: their divisions overlap.
PWPOLY_INLINE_IN_KERNEL void locate_tile(const LegendreBasis& basis, double w, bool cached,
                                         std::span<const double> times, std::size_t first,
                                         IntervalCache& cache,
                                         std::array<LaneLocations, tile_blocks>& tile) {
    for (std::size_t a = 0; a < tile_blocks; ++a) {
        const std::size_t start = first + a * block_lanes;
        if (start >= times.size()) {
            break;
        }
        tile[a] = locate_block(basis, w, cached, load_time_block(times, start), cache);
    }
}

// The recurrence and `M` sums of a block whose lanes all lie in one interval,
// whose coefficient rows start at `row`: each coefficient is read once.
template <std::size_t M, class Lanes>
PWPOLY_INLINE_IN_KERNEL void sum_one_interval(Lanes& lanes, std::uint64_t degree, const double* row,
                                              std::size_t degree_step,
                                              std::array<LaneDoubles, M>& sums) {
    for (std::uint64_t i = 0; i <= degree; ++i, row += degree_step) {
        if (i != 0) {
            lanes.advance();
        }
        for (std::size_t c = 0; c < M; ++c) {
            const LaneDoubles terms = lanes.current * row[c];
            sums[c] = sums[c] + terms;
        }
    }
}

// The same for a block whose lanes lie in different intervals, lane l's rows
// starting at rows[l]: the coefficients are gathered across the lanes.
template <std::size_t M, class Lanes>
PWPOLY_INLINE_IN_KERNEL void sum_gathered(Lanes& lanes, std::uint64_t degree,
                                          std::array<const double*, block_lanes> rows,
                                          std::size_t degree_step,
                                          std::array<LaneDoubles, M>& sums) {
    for (std::uint64_t i = 0; i <= degree; ++i) {
        if (i != 0) {
            lanes.advance();
        }
        for (std::size_t c = 0; c < M; ++c) {
            LaneDoubles coefficients{};
            for (std::size_t l = 0; l < block_lanes; ++l) {
                coefficients[l] = rows[l][c];
            }
            const LaneDoubles terms = lanes.current * coefficients;
            sums[c] = sums[c] + terms;
        }
        for (std::size_t l = 0; l < block_lanes; ++l) {
            rows[l] += degree_step;
        }
    }
}

// Vectors of columns that hold `M` columns.
template <std::size_t M>
constexpr std::size_t column_vectors = (M + block_lanes - 1) / block_lanes;

// The sums of `M` columns at each lane's time: sums[l][v][e] for column
// v * block_lanes + e.
template <std::size_t M>
using ColumnSums = std::array<std::array<LaneDoubles, column_vectors<M>>, block_lanes>;

// The same for two to eight columns, vectors of the columns per lane: lane
// l's M coefficients of a degree lie side by side, so they are read as one or
// two short vectors instead of gathered across the lanes column by column.
// The sum of each column is formed with the same steps as the lanes across
// times form it. With `Whole` a vector is read whole, its lanes beyond the M
// columns summed but never stored; otherwise element by element (at the end
// of the table, where a whole vector would end beyond it: a short copy into
// a vector would go through memory, and its load then stall).
template <std::size_t M, bool Whole, class Lanes>
PWPOLY_INLINE_IN_KERNEL void sum_column_vectors_with(Lanes& lanes, std::uint64_t degree,
                                                     std::array<const double*, block_lanes> rows,
                                                     std::size_t degree_step, ColumnSums<M>& sums) {
    constexpr std::size_t vectors = column_vectors<M>;
    for (std::size_t l = 0; l < block_lanes; ++l) {
        for (std::size_t v = 0; v < vectors; ++v) {
            sums[l][v] = broadcast(-0.0);
        }
    }
    for (std::uint64_t i = 0; i <= degree; ++i) {
        if (i != 0) {
            lanes.advance();
        }
        for (std::size_t l = 0; l < block_lanes; ++l) {
            for (std::size_t v = 0; v < vectors; ++v) {
                const double* from = rows[l] + v * block_lanes;
                LaneDoubles coefficients{};
                if constexpr (Whole) {
                    std::memcpy(&coefficients, from, sizeof coefficients);
                } else {
                    for (std::size_t e = 0; e < block_lanes && v * block_lanes + e < M; ++e) {
                        coefficients[e] = from[e];
                    }
                }
                const LaneDoubles terms = lanes.current[l] * coefficients;
                sums[l][v] = sums[l][v] + terms;
            }
            rows[l] += degree_step;
        }
    }
}

// The vectors are read whole unless one would end beyond `end`, the end of
// the table.
template <std::size_t M, class Lanes>
PWPOLY_INLINE_IN_KERNEL void sum_column_vectors(Lanes& lanes, std::uint64_t degree,
                                                std::array<const double*, block_lanes> rows,
                                                std::size_t degree_step, const double* end,
                                                ColumnSums<M>& sums) {
    constexpr std::size_t read = column_vectors<M> * block_lanes;
    bool whole = true;
    if constexpr (M < read) {
        const std::size_t last_row = static_cast<std::size_t>(degree) * degree_step;
        for (std::size_t l = 0; l < block_lanes; ++l) {
            whole = whole && end - rows[l] >= static_cast<std::ptrdiff_t>(last_row + read);
        }
    }
    if (whole) {
        sum_column_vectors_with<M, true>(lanes, degree, rows, degree_step, sums);
    } else {
        sum_column_vectors_with<M, false>(lanes, degree, rows, degree_step, sums);
    }
}

// Where column c of a time's results lies from the time's first result:
// column c belongs to plane c / width.
template <std::size_t M>
std::array<std::size_t, M> column_offsets(const ResultLayout& results) {
    std::array<std::size_t, M> offsets{};
    for (std::size_t c = 0; c < M; ++c) {
        const std::size_t plane = c / results.width;
        offsets[c] = plane * results.plane_step + (c - plane * results.width);
    }
    return offsets;
}

// Writes finish(S) of `M` columns, vectors of columns per lane, for the
// `count` times of the block that starts at time `first`.
template <std::size_t M, class Finish>
PWPOLY_INLINE_IN_KERNEL void store_column_vectors(const ColumnSums<M>& sums,
                                                  const ResultLayout& results,
                                                  const std::array<std::size_t, M>& offsets,
                                                  std::size_t first, std::size_t count,
                                                  Finish finish) {
    for (std::size_t l = 0; l < count; ++l) {
        double* out = results.base + (first + l) * results.time_step;
        for (std::size_t v = 0; v < column_vectors<M>; ++v) {
            const LaneDoubles columns = finish(sums[l][v]);
            for (std::size_t e = 0; e < block_lanes && v * block_lanes + e < M; ++e) {
                out[offsets[v * block_lanes + e]] = columns[e];
            }
        }
    }
}

// Writes finish(S) of `M` columns for the `count` times of the block that
// starts at time `first`; column c belongs to plane c / width.
template <std::size_t M, class Finish>
PWPOLY_INLINE_IN_KERNEL void store_block(const std::array<LaneDoubles, M>& sums,
                                         const ResultLayout& results, std::size_t first,
                                         std::size_t count, Finish finish) {
    if (M == 1 && results.time_step == 1 && count == block_lanes) {
        store_lanes(finish(sums[0]), results.base + first);
        return;
    }
    for (std::size_t c = 0; c < M; ++c) {
        const LaneDoubles column = finish(sums[c]);
        const std::size_t plane = M == 1 ? 0 : c / results.width;
        double* out = results.base + plane * results.plane_step + first * results.time_step +
                      (c - plane * results.width);
        for (std::size_t l = 0; l < count; ++l) {
            out[l * results.time_step] = column[l];
        }
    }
}

// Up to `M` expansions, block by block, lanes across times: the recurrence
// and the sums run together, S = -0.0, S = S + P_i * c_i for i ascending, for
// each column. `Degree` is the grid's degree where it is known when compiling
// (the loop over degrees then unrolls and the recurrence's tests on the
// degree fold away), -1 otherwise.
template <int Degree, std::size_t M, class Lanes, class Finish>
PWPOLY_INLINE_IN_KERNEL void evaluate_few_columns(const ExpansionColumns& expansions,
                                                  std::span<const double> times,
                                                  const ResultLayout& results, Finish finish) {
    const LegendreBasis& basis = expansions.basis;
    const double w = interval_width(basis);
    const bool cached = width_for_cache(w);
    const std::uint64_t degree = Degree >= 0 ? static_cast<std::uint64_t>(Degree) : basis.degree;
    const RowSteps steps = row_steps(expansions);
    const std::size_t stride = expansions.row_stride();
    const std::size_t interval_step = steps.interval * stride;
    const std::size_t degree_step = steps.degree * stride;
    const double* values = expansions.values.data();
    const std::array<std::size_t, M> offsets = column_offsets<M>(results);
    IntervalCache cache;
    CancellationCounter poll;
    std::array<LaneLocations, tile_blocks> tile{};
    for (std::size_t first = 0; first < times.size(); first += block_lanes) {
        const std::size_t b = first / block_lanes % tile_blocks;
        if (b == 0) {
            locate_tile(basis, w, cached, times, first, cache, tile);
        }
        const LaneLocations& at = tile[b];
        Lanes lanes(at.xi);
        std::array<LaneDoubles, M> sums{};
        for (std::size_t c = 0; c < M; ++c) {
            sums[c] = broadcast(-0.0);
        }
        const LaneIndices k = at.k;
        poll.tick(block_lanes * (degree + 1) * M);
        if (k[0] == k[1] && k[1] == k[2] && k[2] == k[3]) {
            const double* row = values + static_cast<std::size_t>(k[0]) * interval_step;
            sum_one_interval<M>(lanes, degree, row, degree_step, sums);
        } else {
            std::array<const double*, block_lanes> rows{};
            for (std::size_t l = 0; l < block_lanes; ++l) {
                rows[l] = values + static_cast<std::size_t>(k[l]) * interval_step;
            }
            if constexpr (M >= 2) {
                ColumnSums<M> by_lane{};
                sum_column_vectors<M>(lanes, degree, rows, degree_step,
                                      values + expansions.values.size(), by_lane);
                store_column_vectors<M>(by_lane, results, offsets, first,
                                        std::min(block_lanes, times.size() - first), finish);
                continue;
            } else {
                sum_gathered<M>(lanes, degree, rows, degree_step, sums);
            }
        }
        store_block<M>(sums, results, first, std::min(block_lanes, times.size() - first), finish);
    }
}

// evaluate_few_columns for `M` columns, compiled for the grid's degree where
// it is one of the low degrees.
template <std::size_t M, class Lanes, class Finish>
PWPOLY_INLINE_IN_KERNEL void evaluate_columns_of_degree(const ExpansionColumns& expansions,
                                                        std::span<const double> times,
                                                        const ResultLayout& results,
                                                        Finish finish) {
    switch (expansions.basis.degree) {
        case 0:
            return evaluate_few_columns<0, M, Lanes>(expansions, times, results, finish);
        case 1:
            return evaluate_few_columns<1, M, Lanes>(expansions, times, results, finish);
        case 2:
            return evaluate_few_columns<2, M, Lanes>(expansions, times, results, finish);
        case 3:
            return evaluate_few_columns<3, M, Lanes>(expansions, times, results, finish);
        case 4:
            return evaluate_few_columns<4, M, Lanes>(expansions, times, results, finish);
        case 5:
            return evaluate_few_columns<5, M, Lanes>(expansions, times, results, finish);
        default:
            return evaluate_few_columns<-1, M, Lanes>(expansions, times, results, finish);
    }
}

// Columns that evaluate_few_columns takes at most: beyond eight, the sums of
// a block's lanes no longer fit the vector registers beside the recurrence.
constexpr std::size_t few_columns = 8;

// One to few_columns columns (in one plane or several), lanes across times.
template <class Lanes, class Finish>
PWPOLY_INLINE_IN_KERNEL void evaluate_several_columns(const ExpansionColumns& expansions,
                                                      std::span<const double> times,
                                                      const ResultLayout& results, Finish finish) {
    switch (expansions.columns) {
        case 1:
            return evaluate_columns_of_degree<1, Lanes>(expansions, times, results, finish);
        case 2:
            return evaluate_columns_of_degree<2, Lanes>(expansions, times, results, finish);
        case 3:
            return evaluate_columns_of_degree<3, Lanes>(expansions, times, results, finish);
        case 4:
            return evaluate_columns_of_degree<4, Lanes>(expansions, times, results, finish);
        case 5:
            return evaluate_columns_of_degree<5, Lanes>(expansions, times, results, finish);
        case 6:
            return evaluate_columns_of_degree<6, Lanes>(expansions, times, results, finish);
        case 7:
            return evaluate_columns_of_degree<7, Lanes>(expansions, times, results, finish);
        default:
            return evaluate_columns_of_degree<8, Lanes>(expansions, times, results, finish);
    }
}

// Locates the blocks of a tile, from the time tile_first on, and starts
// their recurrences.
template <class Lanes>
PWPOLY_INLINE_IN_KERNEL void start_tile(const LegendreBasis& basis, double w, bool cached,
                                        std::span<const double> times, std::size_t tile_first,
                                        IntervalCache& cache, Tile<Lanes>& tile) {
    for (std::size_t b = 0; b < tile.blocks; ++b) {
        tile.at[b] = locate_block(basis, w, cached,
                                  load_time_block(times, tile_first + b * block_lanes), cache);
        const LaneIndices k = tile.at[b].k;
        tile.one_interval[b] = k[0] == k[1] && k[1] == k[2] && k[2] == k[3];
        tile.lanes[b] = Lanes(tile.at[b].xi);
    }
}

// Carries the recurrences of a tile through its next chunk of degrees (from
// tile.first on, of `degrees` in all) and keeps their factors.
template <class Lanes>
PWPOLY_INLINE_IN_KERNEL void next_chunk_of_factors(std::uint64_t degrees, Tile<Lanes>& tile) {
    tile.size = std::min<std::uint64_t>(degree_chunk, degrees - tile.first);
    tile.starts = tile.first == 0;
    tile.ends = tile.first + tile.size == degrees;
    for (std::size_t j = 0; j < tile.size; ++j) {
        for (std::size_t b = 0; b < tile.blocks; ++b) {
            if (tile.first + j != 0) {
                tile.lanes[b].advance();
            }
            tile.factors[j][b] = tile.lanes[b].current;
        }
    }
}

// Evaluates with the recurrence `Lanes` and turns the sums into results with
// finish, which takes a double or the lanes of a block.
template <class Lanes, class Finish>
PWPOLY_INLINE_IN_KERNEL void evaluate_in_blocks(const ExpansionColumns& expansions,
                                                std::span<const double> times,
                                                std::span<double> out, Finish finish) {
    check_batch(expansions, times.size(), out.size());
    const LegendreBasis& basis = expansions.basis;
    const double w = interval_width(basis);
    const bool cached = width_for_cache(w);
    IntervalCache cache;
    const std::uint64_t degrees = coefficients_per_interval(basis);
    const CoefficientLayout layout{expansions.values.data(), row_steps(expansions),
                                   expansions.row_stride()};
    const std::size_t planes = expansions.planes;
    const std::size_t width = expansions.columns / planes;
    const ResultLayout results{out.data(), planes == 1 ? expansions.row_stride() : width,
                               expansions.plane_stride, planes, width};
    if (expansions.columns <= few_columns) {
        evaluate_several_columns<Lanes>(expansions, times, results, finish);
        return;
    }
    CancellationCounter poll;
    Tile<Lanes> tile;
    constexpr std::size_t tile_times = tile_blocks * block_lanes;
    for (std::size_t tile_first = 0; tile_first < times.size(); tile_first += tile_times) {
        const std::size_t in_tile = std::min(tile_times, times.size() - tile_first);
        tile.blocks = (in_tile + block_lanes - 1) / block_lanes;
        start_tile(basis, w, cached, times, tile_first, cache, tile);
        for (tile.first = 0; tile.first < degrees; tile.first += degree_chunk) {
            next_chunk_of_factors(degrees, tile);
            poll.tick(tile.size * in_tile * expansions.columns);
            for (std::size_t b = 0; b < tile.blocks; ++b) {
                const std::size_t first = tile_first + b * block_lanes;
                const std::size_t count = std::min(block_lanes, times.size() - first);
                for (std::size_t p = 0; p < planes; ++p) {
                    double* rows =
                        results.base + p * results.plane_step + first * results.time_step;
                    plane_results(tile, b, count, layout, p * width, width, rows, results.time_step,
                                  finish);
                }
            }
        }
    }
}

// Chain rule, dxi/dt = 2 / w: (S + S) / w.
struct TimeDerivative {
    double w;
    template <class Sums>
    [[gnu::always_inline]] Sums operator()(Sums sums) const {
        const Sums doubled = sums + sums;
        return doubled / w;
    }
};

void values_baseline(const ExpansionColumns& expansions, std::span<const double> times,
                     std::span<double> out) {
    evaluate_in_blocks<LegendreLanes>(expansions, times, out, SumsAsTheyAre{});
}

PWPOLY_AVX2_TARGET void values_avx2(const ExpansionColumns& expansions,
                                    std::span<const double> times, std::span<double> out) {
    evaluate_in_blocks<LegendreLanes>(expansions, times, out, SumsAsTheyAre{});
}

void derivatives_baseline(const ExpansionColumns& expansions, std::span<const double> times,
                          std::span<double> out) {
    const TimeDerivative finish{interval_width(expansions.basis)};
    evaluate_in_blocks<LegendreDerivativeLanes>(expansions, times, out, finish);
}

PWPOLY_AVX2_TARGET void derivatives_avx2(const ExpansionColumns& expansions,
                                         std::span<const double> times, std::span<double> out) {
    const TimeDerivative finish{interval_width(expansions.basis)};
    evaluate_in_blocks<LegendreDerivativeLanes>(expansions, times, out, finish);
}

}  // namespace

void evaluate_expansions(const ExpansionColumns& expansions, std::span<const double> times,
                         std::span<double> out) {
    (processor_has_avx2() ? values_avx2 : values_baseline)(expansions, times, out);
}

void evaluate_expansion_derivatives(const ExpansionColumns& expansions,
                                    std::span<const double> times, std::span<double> out) {
    (processor_has_avx2() ? derivatives_avx2 : derivatives_baseline)(expansions, times, out);
}

}  // namespace pwpoly::batch
