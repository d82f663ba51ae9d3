// Filling node and transformation arrays from the core's node placement and
// weight table, polling for cancellation as the core's own loops do.
#include "batch/lagrange_arrays.hpp"

#include <limits>
#include <utility>

#include "batch/batch_checks.hpp"
#include "lagrange/lagrange_basis.hpp"
#include "support/cancellation.hpp"
#include "support/size_policy.hpp"

namespace pwpoly::batch {
namespace {

// Whether `count` elements of `element_bytes` each fit one vector.
bool fits_vector(std::uint64_t count, std::uint64_t element_bytes) {
    std::uint64_t bytes = 0;
    return !__builtin_mul_overflow(count, element_bytes, &bytes) && bytes <= max_vector_bytes;
}

// Calls visit(row, first, p, k) for the rows p * n_t + k of the
// transformation in `rows`, in row order, with `first` the place of its first
// entry.
template <class Visit>
void for_each_transformation_row(const TransformationTriplets& transformation, RowRange rows,
                                 Visit&& visit) {
    const index_t per_row = transformation.weights.size;
    const std::uint64_t row_count = std::uint64_t{per_row} * transformation.n_t;
    check_buffer_sizes(rows.first <= rows.last && rows.last <= row_count);
    CancellationCounter poll;
    for (std::uint64_t row = rows.first; row < rows.last; ++row) {
        poll.tick(per_row);
        const auto p = static_cast<index_t>(row / transformation.n_t);
        const auto k = static_cast<index_t>(row % transformation.n_t);
        visit(row, row * per_row, p, k);
    }
}

}  // namespace

bool lagrange_points_fit(index_t degree, index_t n_t) {
    const std::uint64_t nodes = std::uint64_t{n_t} * degree + 1;
    const bool degree_steps_fit = n_t == 0 || degree != std::numeric_limits<index_t>::max();
    return fits_vector(n_t, policy_bytes<std::pair<double, double>>) &&
           fits_vector(nodes, policy_bytes<double>) && degree_steps_fit;
}

bool transformation_fits(index_t degree, index_t n_t) {
    if (!lagrange_points_fit(degree, n_t) || degree == 0 ||
        degree == std::numeric_limits<index_t>::max()) {
        return false;
    }
    const std::uint64_t per_row = std::uint64_t{degree} + 1;
    std::uint64_t entries = 0;
    return !__builtin_mul_overflow(per_row * per_row, std::uint64_t{n_t}, &entries) &&
           fits_vector(entries, policy_bytes<double>);
}

void fill_lagrange_points(index_t degree, index_t n_t, double T, std::span<double> out,
                          index_t first, index_t last) {
    check_buffer_sizes(out.size() == std::uint64_t{n_t} * degree + 1 && first <= last &&
                       last <= n_t);
    std::size_t next = std::size_t{first} * degree;
    for_each_lagrange_point_of(degree, n_t, T, first, last, [&](double x) { out[next++] = x; });
}

void fill_transformation_triplets(const TransformationTriplets& transformation,
                                  std::span<std::int64_t> rows, std::span<std::int64_t> cols,
                                  std::span<double> values, RowRange part) {
    const std::size_t count = transformation.count;
    check_buffer_sizes(rows.size() == count && cols.size() == count && values.size() == count);
    const index_t per_row = transformation.weights.size;
    for_each_transformation_row(
        transformation, part, [&](std::uint64_t row, std::uint64_t first, index_t p, index_t k) {
            const auto weights = transformation.weights.row(p);
            const std::int64_t first_column = std::int64_t{k} * transformation.degree;
            for (index_t c = 0; c < per_row; ++c) {
                rows[first + c] = static_cast<std::int64_t>(row);
                cols[first + c] = first_column + c;
                values[first + c] = weights[c];
            }
        });
}

void fill_transformation_csr(const TransformationTriplets& transformation,
                             const CsrArrays<std::int32_t>& out, RowRange part) {
    const std::size_t count = transformation.count;
    const index_t per_row = transformation.weights.size;
    const std::uint64_t row_count = std::uint64_t{per_row} * transformation.n_t;
    check_buffer_sizes(out.data.size() == count && out.indices.size() == count &&
                       out.indptr.size() == row_count + 1);
    if (part.first == 0) {
        out.indptr[0] = 0;
    }
    for_each_transformation_row(
        transformation, part, [&](std::uint64_t row, std::uint64_t first, index_t p, index_t k) {
            const auto weights = transformation.weights.row(p);
            const auto first_column = static_cast<std::int32_t>(k * transformation.degree);
            for (index_t c = 0; c < per_row; ++c) {
                out.data[first + c] = weights[c];
                out.indices[first + c] = first_column + static_cast<std::int32_t>(c);
            }
            out.indptr[row + 1] = static_cast<std::int32_t>(first + per_row);
        });
}

}  // namespace pwpoly::batch
