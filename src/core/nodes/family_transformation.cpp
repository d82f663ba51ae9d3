// Weight tables of the node families from exact discrete orthogonality or
// exact integration, and the global transformation written row by row.
#include "nodes/family_transformation.hpp"

#include <vector>

#include "batch/batch_checks.hpp"
#include "lagrange/weight_table.hpp"
#include "legendre/legendre_recurrence.hpp"
#include "nodes/lagrange_values.hpp"
#include "nodes/reference_nodes.hpp"
#include "support/cancellation.hpp"

namespace pwpoly {
namespace {

// (2p + 1) / 2, the inverse of the norm of P_p on [-1, 1]; exact.
double inverse_norm(index_t p) { return static_cast<double>(p) + 0.5; }

// W[p][c] = (scale_p * w_c) * P_p(x_c) for a rule exact on products of
// degree up to 2 degree (or 2 degree - 1, with the top row's norm given).
SquareMatrix orthogonality_table(const ReferenceRule& rule, double top_inverse_norm) {
    const std::uint64_t size = rule.nodes.size();
    SquareMatrix table = SquareMatrix::zeros(size);
    std::vector<double> values = make_vector<double>(size);
    CancellationCounter poll;
    for (index_t c = 0; c < size; ++c) {
        poll.tick(size);
        legendre_values(rule.nodes[c], values);
        for (index_t p = 0; p < size; ++p) {
            const double scale = p + 1 == size ? top_inverse_norm : inverse_norm(p);
            const double weighted = scale * rule.weights[c];
            table.at(p, c) = weighted * values[p];
        }
    }
    return table;
}

// W[p][c] = (p + 1/2) * sum_g w_g P_p(y_g) l_c(y_g) over a Gauss rule of
// degree + 1 points, exact for the products l_c P_p (degree up to 2 degree).
// Nodes and points are symmetric about 0, so l_c(-y) = l_(n-c)(y) and
// P_p(-y) = (-1)^p P_p(y): each pair of points +-y adds
// w P_p(y) (l_c(y) + (-1)^p l_(n-c)(y)) to W[p][c] for the first half of the
// columns, and W[p][n - c] = (-1)^p W[p][c] completes the table exactly
// symmetric. About degree^3 / 4 multiply-adds.
SquareMatrix integrated_table(std::span<const double> nodes) {
    const std::uint64_t size = nodes.size();
    const auto last = static_cast<index_t>(size - 1);
    const auto columns = static_cast<index_t>((size + 1) / 2);
    const auto gauss_count = static_cast<index_t>(size);
    const std::vector<double> points = gauss_legendre_nodes(gauss_count);
    const std::vector<double> point_weights = gauss_legendre_weights(points);
    const BarycentricWeights barycentric = barycentric_weights(nodes);
    SquareMatrix table = SquareMatrix::zeros(size);
    std::vector<double> basis = make_vector<double>(size);
    std::vector<double> legendre = make_vector<double>(size);
    std::vector<double> even = make_vector<double>(columns);
    std::vector<double> odd = make_vector<double>(columns);
    CancellationCounter poll;
    // Points g < gauss_count / 2 are the negative ones; the middle point of an
    // odd count is 0, counted once.
    for (index_t g = 0; g < (gauss_count + 1) / 2; ++g) {
        const bool middle = 2 * g + 1 == gauss_count;
        lagrange_basis_values(nodes, barycentric, points[g], basis);
        legendre_values(points[g], legendre);
        for (index_t c = 0; c < columns; ++c) {
            if (middle) {
                even[c] = basis[c];
                odd[c] = 0.0;
            } else {
                even[c] = basis[c] + basis[last - c];
                odd[c] = basis[c] - basis[last - c];
            }
        }
        for (index_t p = 0; p < size; ++p) {
            poll.tick(columns);
            const double factor = point_weights[g] * legendre[p];
            const std::vector<double>& parts = p % 2 == 0 ? even : odd;
            const std::span<double> row = table.row(p);
            for (index_t c = 0; c < columns; ++c) {
                row[c] = row[c] + factor * parts[c];
            }
        }
    }
    for (index_t p = 0; p < size; ++p) {
        const std::span<double> row = table.row(p);
        for (index_t c = 0; c < columns; ++c) {
            row[c] = row[c] * inverse_norm(p);
            if (last - c != c) {
                row[last - c] = p % 2 == 0 ? row[c] : -row[c];
            }
        }
    }
    return table;
}

void check_rows(const FamilyTransformation& transformation, std::uint64_t first, std::uint64_t last,
                std::uint64_t entries) {
    const std::uint64_t per_row = transformation.weights.size;
    batch::check_buffer_sizes(first <= last && last <= transformation.row_count() &&
                              entries == transformation.row_count() * per_row);
}

// Calls visit(first_entry, p, k) for rows [first, last).
template <class Visit>
void for_each_row(const FamilyTransformation& transformation, std::uint64_t first,
                  std::uint64_t last, Visit&& visit) {
    const std::uint64_t per_row = transformation.weights.size;
    CancellationCounter poll;
    for (std::uint64_t row = first; row < last; ++row) {
        poll.tick(per_row);
        visit(row, row * per_row, static_cast<index_t>(row / transformation.n_t),
              static_cast<index_t>(row % transformation.n_t));
    }
}

}  // namespace

SquareMatrix family_weight_table(NodeFamily family, index_t degree) {
    switch (family) {
        case NodeFamily::gauss_legendre:
            return orthogonality_table(reference_rule(family, degree), inverse_norm(degree));
        case NodeFamily::gauss_lobatto:
            // sum_c w_c P_n(x_c)^2 = 2 / n: the top row's inverse norm is n / 2.
            return orthogonality_table(reference_rule(family, degree),
                                       static_cast<double>(degree) * 0.5);
        case NodeFamily::chebyshev_lobatto:
            return integrated_table(reference_nodes(family, degree));
        case NodeFamily::equidistant:
            break;
    }
    return lagrange_to_legendre_weights(degree);
}

void fill_family_triplets(const FamilyTransformation& transformation, std::uint64_t first,
                          std::uint64_t last, std::span<std::int64_t> rows,
                          std::span<std::int64_t> cols, std::span<double> values) {
    check_rows(transformation, first, last, values.size());
    batch::check_buffer_sizes(rows.size() == values.size() && cols.size() == values.size());
    const index_t per_row = transformation.weights.size;
    const std::uint64_t step = interval_node_step(transformation.family, transformation.degree);
    for_each_row(transformation, first, last,
                 [&](std::uint64_t row, std::uint64_t entry, index_t p, index_t k) {
                     const auto weights = transformation.weights.row(p);
                     const std::uint64_t first_column = k * step;
                     for (index_t c = 0; c < per_row; ++c) {
                         rows[entry + c] = static_cast<std::int64_t>(row);
                         cols[entry + c] = static_cast<std::int64_t>(first_column + c);
                         values[entry + c] = weights[c];
                     }
                 });
}

void fill_family_csr(const FamilyTransformation& transformation, std::uint64_t first,
                     std::uint64_t last, const batch::CsrArrays<std::int32_t>& out) {
    check_rows(transformation, first, last, out.data.size());
    batch::check_buffer_sizes(out.indices.size() == out.data.size() &&
                              out.indptr.size() == transformation.row_count() + 1);
    const index_t per_row = transformation.weights.size;
    const std::uint64_t step = interval_node_step(transformation.family, transformation.degree);
    if (first == 0) {
        out.indptr[0] = 0;
    }
    for_each_row(transformation, first, last,
                 [&](std::uint64_t row, std::uint64_t entry, index_t p, index_t k) {
                     const auto weights = transformation.weights.row(p);
                     const std::uint64_t first_column = k * step;
                     for (index_t c = 0; c < per_row; ++c) {
                         out.data[entry + c] = weights[c];
                         out.indices[entry + c] = static_cast<std::int32_t>(first_column + c);
                     }
                     out.indptr[row + 1] = static_cast<std::int32_t>(entry + per_row);
                 });
}

}  // namespace pwpoly
