// Describing and filling the transformation's triplets from the weight table.
#include "lagrange/transformation_triplets.hpp"

#include "lagrange/transformation.hpp"
#include "lagrange/weight_table.hpp"
#include "support/cancellation.hpp"

namespace pwpoly {

TransformationTriplets transformation_triplets(const LagrangeBasis& basis) {
    SquareMatrix weights = transformation_weights(basis);
    // Known to fit: transformation_weights checked the count.
    const index_t count = weights.size * weights.size * basis.n_t;
    return TransformationTriplets{std::move(weights), basis.degree, basis.n_t, count};
}

TransformationTriplets transformation_triplets(index_t degree, index_t n_t) {
    (void)lagrange_node_count(degree, n_t);
    const index_t count = check_transformation_size(degree, n_t);
    return TransformationTriplets{lagrange_to_legendre_weights(degree), degree, n_t, count};
}

Triplets materialise_triplets(const TransformationTriplets& description) {
    const index_t degree = description.degree;
    const index_t n_t = description.n_t;
    Triplets triplets{reserve_vector<index_t>(description.count),
                      reserve_vector<index_t>(description.count),
                      reserve_vector<double>(description.count)};
    CancellationCounter poll;
    for (index_t p = 0; p <= degree; ++p) {
        const auto weights = description.weights.row(p);
        for (index_t k = 0; k < n_t; ++k) {
            poll.tick(std::size_t{degree} + 1);
            const index_t row = p * n_t + k;
            const index_t first_column = k * degree;
            for (index_t c = 0; c <= degree; ++c) {
                triplets.rows.push_back(row);
                triplets.cols.push_back(first_column + c);
                triplets.values.push_back(weights[c]);
            }
        }
    }
    return triplets;
}

}  // namespace pwpoly
