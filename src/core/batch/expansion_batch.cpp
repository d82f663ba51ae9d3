// Batch evaluation: each block of times is located and carried through the
// Legendre recurrence lane by lane; then each expansion's sum is formed, term
// by term in ascending degree, from the coefficients of the located interval.
#include "batch/expansion_batch.hpp"

#include <algorithm>
#include <array>

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

void check_batch(const ExpansionColumns& expansions, std::size_t time_count, std::size_t out_size) {
    check_batch_grid(expansions.basis);
    const std::size_t columns = expansions.columns;
    const std::size_t stride = expansions.row_stride();
    check_buffer_sizes(
        columns >= 1 && stride >= columns && (stride == columns || columns >= 2) &&
        rows_fit(coefficient_count(expansions.basis), stride, columns, expansions.values.size()) &&
        (rows_fit(time_count, stride, columns, out_size) || (time_count == 0 && out_size == 0)));
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

// The sums of one expansion for the lanes of a block: S = -0.0, then
// S = S + factor_i * c_i per degree, the factors being lanes.current (P_i or
// P'_i) and c_i the coefficient of the lane's interval.
template <class Lanes>
PWPOLY_INLINE_IN_KERNEL LaneDoubles single_column_sums(const ExpansionColumns& expansions,
                                                       const LaneLocations& at, Lanes& lanes,
                                                       CancellationCounter& poll) {
    const RowSteps steps = row_steps(expansions);
    LaneDoubles sums = broadcast(-0.0);
    for (std::uint64_t i = 0; i <= expansions.basis.degree; ++i) {
        if (i != 0) {
            lanes.advance();
        }
        poll.tick(block_lanes);
        const double* degree_rows = expansions.values.data() + i * steps.degree;
        LaneDoubles coefficients{};
        for (std::size_t l = 0; l < block_lanes; ++l) {
            coefficients[l] = degree_rows[static_cast<std::size_t>(at.k[l]) * steps.interval];
        }
        const LaneDoubles terms = lanes.current * coefficients;
        sums = sums + terms;
    }
    return sums;
}

// Degrees whose factors a block holds at once while it sums many columns.
constexpr std::size_t degree_chunk = 32;

// The factors of a chunk of degrees for every lane (P_i or P'_i), and where
// the chunk stands among all degrees.
struct DegreeChunk {
    std::array<LaneDoubles, degree_chunk> factors;
    std::size_t first = 0;
    std::size_t size = 0;
    bool starts = false;
    bool ends = false;
};

// One lane's column sums over a chunk of degrees, four columns at a time:
// S = -0.0 (or the partial sum waiting in the result row), S = S + factor_i *
// c_i for the degrees of the chunk, and finish(S) once the last chunk is in.
// rows[j] holds the coefficients of degree chunk.first + j.
template <class Finish>
PWPOLY_INLINE_IN_KERNEL void sum_lane_columns(const DegreeChunk& chunk, std::size_t lane,
                                              const std::array<const double*, degree_chunk>& rows,
                                              std::size_t columns, double* sums, Finish finish) {
    std::size_t e = 0;
    for (; e + block_lanes <= columns; e += block_lanes) {
        LaneDoubles sum = chunk.starts ? broadcast(-0.0) : load_lanes(sums + e);
        for (std::size_t j = 0; j < chunk.size; ++j) {
            const LaneDoubles terms = chunk.factors[j][lane] * load_lanes(rows[j] + e);
            sum = sum + terms;
        }
        store_lanes(chunk.ends ? finish(sum) : sum, sums + e);
    }
    for (; e < columns; ++e) {
        double sum = chunk.starts ? -0.0 : sums[e];
        for (std::size_t j = 0; j < chunk.size; ++j) {
            const double term = chunk.factors[j][lane] * rows[j][e];
            sum = sum + term;
        }
        sums[e] = chunk.ends ? finish(sum) : sum;
    }
}

// The results of all expansions for the first `count` lanes of a block, in
// their rows out_rows + l * stride, chunk of degrees by chunk of degrees; a
// sum that spans several chunks waits in its result row between them
// (exactly: storing a double changes no bit).
template <class Lanes, class Finish>
PWPOLY_INLINE_IN_KERNEL void all_column_results(const ExpansionColumns& expansions,
                                                const LaneLocations& at, Lanes& lanes,
                                                std::size_t count, double* out_rows, Finish finish,
                                                CancellationCounter& poll) {
    const RowSteps steps = row_steps(expansions);
    const std::size_t columns = expansions.columns;
    const std::size_t stride = expansions.row_stride();
    const std::uint64_t degrees = coefficients_per_interval(expansions.basis);
    DegreeChunk chunk{};
    std::array<const double*, degree_chunk> rows{};
    for (chunk.first = 0; chunk.first < degrees; chunk.first += degree_chunk) {
        chunk.size = std::min<std::uint64_t>(degree_chunk, degrees - chunk.first);
        chunk.starts = chunk.first == 0;
        chunk.ends = chunk.first + chunk.size == degrees;
        for (std::size_t j = 0; j < chunk.size; ++j) {
            if (chunk.first + j != 0) {
                lanes.advance();
            }
            chunk.factors[j] = lanes.current;
        }
        poll.tick(chunk.size * count * columns);
        for (std::size_t l = 0; l < count; ++l) {
            const std::size_t interval_row = static_cast<std::size_t>(at.k[l]) * steps.interval;
            for (std::size_t j = 0; j < chunk.size; ++j) {
                const std::size_t row = interval_row + (chunk.first + j) * steps.degree;
                rows[j] = expansions.values.data() + row * stride;
            }
            sum_lane_columns(chunk, l, rows, columns, out_rows + l * stride, finish);
        }
    }
}

// The values are the sums themselves.
struct SumsAsTheyAre {
    template <class Sums>
    Sums operator()(Sums sums) const {
        return sums;
    }
};

// Evaluates with the recurrence `Lanes` and turns the sums into results with
// finish, which takes a double or the lanes of a block.
template <class Lanes, class Finish>
PWPOLY_INLINE_IN_KERNEL void evaluate_in_blocks(const ExpansionColumns& expansions,
                                                std::span<const double> times,
                                                std::span<double> out, Finish finish) {
    check_batch(expansions, times.size(), out.size());
    const LegendreBasis& basis = expansions.basis;
    const double w = interval_width(basis);
    const std::size_t columns = expansions.columns;
    CancellationCounter poll;
    for (std::size_t first = 0; first < times.size(); first += block_lanes) {
        const std::size_t count = std::min(block_lanes, times.size() - first);
        const LaneLocations at = locate_lanes(basis, w, load_time_block(times, first));
        Lanes lanes(at.xi);
        if (columns == 1) {
            const LaneDoubles results = finish(single_column_sums(expansions, at, lanes, poll));
            store_time_block(results, out, first);
            continue;
        }
        all_column_results(expansions, at, lanes, count,
                           out.data() + first * expansions.row_stride(), finish, poll);
    }
}

// Chain rule, dxi/dt = 2 / w: (S + S) / w.
struct TimeDerivative {
    double w;
    template <class Sums>
    Sums operator()(Sums sums) const {
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
