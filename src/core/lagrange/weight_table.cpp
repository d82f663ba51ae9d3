// Fixed weight tables for degrees 1 and 2, inversion of the Legendre-
// Vandermonde matrix beyond.
#include "lagrange/weight_table.hpp"

#include <array>

#include "lagrange/dense_inverse.hpp"
#include "lagrange/equidistant_points.hpp"
#include "legendre/legendre_recurrence.hpp"
#include "support/cancellation.hpp"
#include "support/failure.hpp"

namespace pwpoly {

namespace {

constexpr std::array<double, 4> degree_one_weights = {
    0.5,
    0.5,  //
    -0.5,
    0.5,  //
};

constexpr std::array<double, 9> degree_two_weights = {
    0.16666666666666666,
    0.6666666666666666,
    0.16666666666666666,  //
    -0.5,
    0.0,
    0.5,  //
    0.3333333333333333,
    -0.6666666666666666,
    0.3333333333333333,  //
};

// A[j][i] = P_j(xi_i): row j is the Legendre degree, column i the node.
SquareMatrix legendre_vandermonde(index_t degree) {
    SquareMatrix a = SquareMatrix::zeros(std::uint64_t{degree} + 1);
    const std::vector<double> nodes = equidistant_points(-1.0, 1.0, degree);
    std::vector<double> values(a.size);
    CancellationCounter poll;
    for (index_t i = 0; i < a.size; ++i) {
        poll.tick(a.size);
        legendre_values(nodes[i], values);
        for (index_t j = 0; j < a.size; ++j) {
            a.at(j, i) = values[j];
        }
    }
    return a;
}

}  // namespace

SquareMatrix lagrange_to_legendre_weights(index_t degree) {
    check(degree != 0, "Lagrange to Legendre conversion not meaningful for degree 0");
    // The table is sized first, so a huge degree fails before anything else is
    // allocated.
    SquareMatrix weights = SquareMatrix::zeros(std::uint64_t{degree} + 1);
    if (degree == 1) {
        weights.entries.assign(degree_one_weights.begin(), degree_one_weights.end());
        return weights;
    }
    if (degree == 2) {
        weights.entries.assign(degree_two_weights.begin(), degree_two_weights.end());
        return weights;
    }

    const SquareMatrix a = legendre_vandermonde(degree);
    const std::optional<SquareMatrix> inverse =
        degree == 3 ? invert_by_cofactors(a) : invert_by_elimination(a);
    if (!inverse.has_value()) {
        fail("Failed to invert Vandermonde matrix for Lagrange to Legendre conversion.");
    }
    CancellationCounter poll;
    for (index_t p = 0; p <= degree; ++p) {
        poll.tick(weights.size);
        for (index_t c = 0; c <= degree; ++c) {
            weights.at(p, c) = inverse->at(c, p);
        }
    }
    return weights;
}

}  // namespace pwpoly
