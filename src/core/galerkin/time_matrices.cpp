// Row by row assembly of the mass, derivative, trace and jump matrices, each
// row placed by a closed-form count of the entries before it.
#include "galerkin/time_matrices.hpp"

#include <algorithm>
#include <limits>

#include "batch/batch_checks.hpp"
#include "support/cancellation.hpp"

namespace pwpoly {
namespace {

// sum_{m=0}^{M} floor(m / 2) = floor(M^2 / 4).
std::uint64_t half_floor_sum(std::uint64_t m) { return (m * m) / 4; }

// Entries of a derivative row of degree i: j = i + 1, i + 3, ... <= degree.
std::uint64_t derivative_row_entries(std::uint64_t degree, std::uint64_t i) {
    return (degree - i + 1) / 2;
}

// (-1)^i as a double.
double alternating(std::uint64_t i) { return i % 2 == 0 ? 1.0 : -1.0; }

struct RowWriter {
    const batch::CsrArrays<std::int32_t>& out;
    std::uint64_t next;

    void put(std::uint64_t column, double value) {
        out.data[next] = value;
        out.indices[next] = static_cast<std::int32_t>(column);
        ++next;
    }
};

// Calls row_visit(row, i, k) for rows [first, last) of a matrix with rows
// a = k + n_t * i, starting at (i, k) = (first / n_t, first % n_t), polling
// for cancellation before every stretch of rows of one degree that writes
// about cancellation_interval entries (`row_entries` per row at most).
template <class Visit>
void for_each_row(std::uint64_t first, std::uint64_t last, std::uint64_t n_t, std::uint64_t i,
                  std::uint64_t k, std::uint64_t row_entries, Visit&& row_visit) {
    const std::uint64_t rows_per_poll =
        std::max<std::uint64_t>(1, cancellation_interval / row_entries);
    for (std::uint64_t row = first; row < last; ++i, k = 0) {
        const std::uint64_t stop = std::min(last, row + (n_t - k));
        while (row < stop) {
            poll_cancellation();
            const std::uint64_t chunk_stop = std::min(stop, row + rows_per_poll);
            for (; row < chunk_stop; ++row, ++k) {
                row_visit(row, i, k);
            }
        }
    }
}

}  // namespace

TimeMatrixShape time_matrix_shape(TimeMatrix matrix, index_t degree, index_t n_t) {
    const std::uint64_t per = std::uint64_t{degree} + 1;
    const std::uint64_t n = std::uint64_t{n_t} * per;
    switch (matrix) {
        case TimeMatrix::mass:
            return {n, n, n};
        case TimeMatrix::derivative:
            return {n, n, n_t * half_floor_sum(per)};
        case TimeMatrix::jump:
            return {n, n, n_t == 0 ? 0 : per * per * (2 * std::uint64_t{n_t} - 1)};
        case TimeMatrix::start_trace:
        case TimeMatrix::end_trace:
            break;
    }
    return {n_t, n, n};
}

// One walk over the rows for the four matrices, whose entries differ only in
// the innermost step: kept together so that the row bookkeeping is written once.
// NOLINTNEXTLINE(readability-function-cognitive-complexity)
void fill_time_matrix(TimeMatrix matrix, const LegendreBasis& basis, std::uint64_t first,
                      std::uint64_t last, const batch::CsrArrays<std::int32_t>& out) {
    const TimeMatrixShape shape = time_matrix_shape(matrix, basis.degree, basis.n_t);
    batch::check_buffer_sizes(
        first <= last && last <= shape.rows && out.data.size() == shape.entries &&
        out.indices.size() == shape.entries && out.indptr.size() == shape.rows + 1 &&
        shape.entries <= std::uint64_t{std::numeric_limits<std::int32_t>::max()} &&
        shape.cols <= std::uint64_t{std::numeric_limits<std::int32_t>::max()});
    if (first == 0) {
        out.indptr[0] = 0;
    }
    if (first == last) {
        return;
    }
    const std::uint64_t degree = basis.degree;
    const std::uint64_t per = degree + 1;
    const std::uint64_t n_t = basis.n_t;
    if (matrix == TimeMatrix::start_trace || matrix == TimeMatrix::end_trace) {
        // Row k: the degree + 1 functions of interval k.
        const bool start = matrix == TimeMatrix::start_trace;
        RowWriter writer{out, first * per};
        CancellationCounter poll;
        for (std::uint64_t k = first; k < last; ++k) {
            poll.tick(per);
            for (std::uint64_t j = 0; j <= degree; ++j) {
                writer.put(k + n_t * j, start ? alternating(j) : 1.0);
            }
            out.indptr[k + 1] = static_cast<std::int32_t>(writer.next);
        }
        return;
    }
    // Rows a = k + n_t * i, walked as (i, k) from the first row of the range:
    // the place of the first row from the closed-form counts, of the others by
    // appending.
    std::uint64_t i = first / n_t;
    std::uint64_t k = first % n_t;
    RowWriter writer{out, 0};
    switch (matrix) {
        case TimeMatrix::mass:
            writer.next = first;
            break;
        case TimeMatrix::derivative:
            writer.next = n_t * (half_floor_sum(per) - half_floor_sum(degree - i + 1)) +
                          k * derivative_row_entries(degree, i);
            break;
        case TimeMatrix::jump:
            writer.next = i * per * (2 * n_t - 1) + (k == 0 ? 0 : per + (k - 1) * 2 * per);
            break;
        case TimeMatrix::start_trace:
        case TimeMatrix::end_trace:
            break;
    }
    switch (matrix) {
        case TimeMatrix::mass: {
            // The integral of P_i^2 over an interval of width T / n_t, rounded
            // once; computed anew when the degree changes.
            std::uint64_t value_i = i;
            double value = basis.T / static_cast<double>(n_t * (2 * i + 1));
            for_each_row(first, last, n_t, i, k, 1,
                         [&](std::uint64_t row, std::uint64_t row_i, std::uint64_t) {
                             if (row_i != value_i) {
                                 value_i = row_i;
                                 value = basis.T / static_cast<double>(n_t * (2 * row_i + 1));
                             }
                             out.data[row] = value;
                             out.indices[row] = static_cast<std::int32_t>(row);
                             out.indptr[row + 1] = static_cast<std::int32_t>(row + 1);
                         });
            break;
        }
        case TimeMatrix::derivative:
            for_each_row(first, last, n_t, i, k, per,
                         [&](std::uint64_t row, std::uint64_t row_i, std::uint64_t row_k) {
                             for (std::uint64_t j = row_i + 1; j <= degree; j += 2) {
                                 writer.put(row_k + n_t * j, 2.0);
                             }
                             out.indptr[row + 1] = static_cast<std::int32_t>(writer.next);
                         });
            break;
        case TimeMatrix::jump:
            for_each_row(first, last, n_t, i, k, 2 * per,
                         [&](std::uint64_t row, std::uint64_t row_i, std::uint64_t row_k) {
                             const double sign = alternating(row_i);
                             for (std::uint64_t j = 0; j <= degree; ++j) {
                                 if (row_k > 0) {
                                     writer.put(row_k - 1 + n_t * j, -sign);
                                 }
                                 writer.put(row_k + n_t * j, sign * alternating(j));
                             }
                             out.indptr[row + 1] = static_cast<std::int32_t>(writer.next);
                         });
            break;
        case TimeMatrix::start_trace:
        case TimeMatrix::end_trace:
            break;
    }
}

}  // namespace pwpoly
