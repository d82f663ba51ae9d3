// Row by row assembly of the mass, derivative, trace and jump matrices, each
// row placed by a closed-form count of the entries before it.
#include "galerkin/time_matrices.hpp"

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

void fill_time_matrix(TimeMatrix matrix, const LegendreBasis& basis, std::uint64_t first,
                      std::uint64_t last, const batch::CsrArrays<std::int32_t>& out) {
    const TimeMatrixShape shape = time_matrix_shape(matrix, basis.degree, basis.n_t);
    batch::check_buffer_sizes(
        first <= last && last <= shape.rows && out.data.size() == shape.entries &&
        out.indices.size() == shape.entries && out.indptr.size() == shape.rows + 1 &&
        shape.entries <= std::uint64_t{std::numeric_limits<std::int32_t>::max()} &&
        shape.cols <= std::uint64_t{std::numeric_limits<std::int32_t>::max()});
    const std::uint64_t degree = basis.degree;
    const std::uint64_t per = degree + 1;
    const std::uint64_t n_t = basis.n_t;
    if (first == 0) {
        out.indptr[0] = 0;
    }
    CancellationCounter poll;
    for (std::uint64_t row = first; row < last; ++row) {
        const std::uint64_t k = row % (n_t == 0 ? 1 : n_t);
        const std::uint64_t i = row / (n_t == 0 ? 1 : n_t);
        RowWriter writer{out, 0};
        switch (matrix) {
            case TimeMatrix::mass: {
                poll.tick();
                // The integral of P_i^2 over an interval of width T / n_t.
                const auto denominator = static_cast<double>(n_t * (2 * i + 1));
                writer.next = row;
                writer.put(row, basis.T / denominator);
                break;
            }
            case TimeMatrix::derivative: {
                const std::uint64_t count = derivative_row_entries(degree, i);
                poll.tick(count + 1);
                writer.next = n_t * (half_floor_sum(per) - half_floor_sum(degree - i + 1)) +
                              k * count;
                for (std::uint64_t j = i + 1; j <= degree; j += 2) {
                    writer.put(k + n_t * j, 2.0);
                }
                break;
            }
            case TimeMatrix::jump: {
                poll.tick(2 * per);
                writer.next = i * per * (2 * n_t - 1) + (k == 0 ? 0 : per + (k - 1) * 2 * per);
                const double sign = alternating(i);
                for (std::uint64_t j = 0; j <= degree; ++j) {
                    if (k > 0) {
                        writer.put(k - 1 + n_t * j, -sign);
                    }
                    writer.put(k + n_t * j, sign * alternating(j));
                }
                break;
            }
            case TimeMatrix::start_trace:
            case TimeMatrix::end_trace: {
                poll.tick(per);
                writer.next = row * per;
                const bool start = matrix == TimeMatrix::start_trace;
                for (std::uint64_t j = 0; j <= degree; ++j) {
                    writer.put(row + n_t * j, start ? alternating(j) : 1.0);
                }
                break;
            }
        }
        out.indptr[row + 1] = static_cast<std::int32_t>(writer.next);
    }
}

}  // namespace pwpoly
