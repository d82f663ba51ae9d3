// Newton's method on the Legendre recurrence for the Gauss families, sines of
// exact fractions of pi for Chebyshev-Lobatto, and the weights of each rule.
#include "nodes/reference_nodes.hpp"

#include <cmath>
#include <numbers>

#include "lagrange/equidistant_points.hpp"
#include "legendre/legendre_recurrence.hpp"
#include "nodes/lagrange_values.hpp"
#include "support/cancellation.hpp"
#include "support/failure.hpp"

namespace pwpoly {
namespace {

constexpr double pi = std::numbers::pi;

// Newton steps end once a step is below this: the error left is then about
// (P''/P') times its square, far below the rounding of the node.
constexpr double newton_tolerance = 1e-14;
constexpr int newton_iterations = 100;

// P_n(x) and P_{n-1}(x) by the recurrence.
struct LegendrePair {
    double value;
    double previous;
};

LegendrePair legendre_pair(double x, index_t n) {
    LegendreRecurrence recurrence(x);
    for (index_t i = 0; i < n; ++i) {
        recurrence.advance();
    }
    return {recurrence.value(), recurrence.previous()};
}

// 1 - x^2 without cancellation near the ends.
double one_minus_square(double x) { return (1.0 - x) * (1.0 + x); }

// Writes a root x in (0, 1) at `upper` and its negative at `lower`.
void place_pair(std::vector<double>& nodes, std::size_t lower, std::size_t upper, double x) {
    nodes[upper] = x;
    nodes[lower] = -x;
}

// Writes the nodes that a Lobatto family of `degree` has exactly: the ends
// -1 and 1, and the middle 0 where the degree is even.
void place_middle_and_ends(std::vector<double>& nodes, index_t degree) {
    if (degree % 2 == 0) {
        nodes[degree / 2] = 0.0;
    }
    nodes[0] = -1.0;
    nodes[degree] = 1.0;
}

double newton_gauss_legendre(double x, index_t count) {
    const auto m = static_cast<double>(count);
    for (int iteration = 0; iteration < newton_iterations; ++iteration) {
        const LegendrePair p = legendre_pair(x, count);
        // P'_m = m (P_{m-1} - x P_m) / (1 - x^2)
        const double derivative = (m * (p.previous - x * p.value)) / one_minus_square(x);
        const double step = p.value / derivative;
        x = x - step;
        if (!(std::abs(step) > newton_tolerance)) {
            break;
        }
    }
    return x;
}

double newton_gauss_lobatto(double x, index_t degree) {
    const auto n = static_cast<double>(degree);
    const double n_n1 = n * (n + 1.0);
    for (int iteration = 0; iteration < newton_iterations; ++iteration) {
        const LegendrePair p = legendre_pair(x, degree);
        // g = (1 - x^2) P'_n / n; P'' from (1 - x^2) P'' = 2x P' - n(n+1) P;
        // the step P' / P'' = n g / (2x P' - n(n+1) P).
        const double g = p.previous - x * p.value;
        const double first = (n * g) / one_minus_square(x);
        const double step = (n * g) / ((2.0 * x) * first - n_n1 * p.value);
        x = x - step;
        if (!(std::abs(step) > newton_tolerance)) {
            break;
        }
    }
    return x;
}

// sin(pi * numerator / denominator) for 0 <= numerator <= denominator / 2.
double sin_pi_fraction(std::uint64_t numerator, std::uint64_t denominator) {
    const double angle = (pi * static_cast<double>(numerator)) / static_cast<double>(denominator);
    return std::sin(angle);
}

}  // namespace

std::vector<double> gauss_legendre_nodes(index_t count) {
    std::vector<double> nodes = make_vector<double>(count);
    const auto m = static_cast<double>(count);
    // Tricomi: the k-th largest root is about (1 - 1/(8m^2) + 1/(8m^3)) cos(theta_k).
    const double shrink = 1.0 - (m - 1.0) / (8.0 * m * m * m);
    CancellationCounter poll;
    for (index_t k = 1; k <= count / 2; ++k) {
        poll.tick(std::size_t{count} * 4);
        const double theta = (pi * (4.0 * k - 1.0)) / (4.0 * m + 2.0);
        const double x = newton_gauss_legendre(shrink * std::cos(theta), count);
        place_pair(nodes, k - 1, count - k, x);
    }
    if (count % 2 == 1) {
        nodes[count / 2] = 0.0;
    }
    return nodes;
}

std::vector<double> gauss_lobatto_nodes(index_t degree) {
    std::vector<double> nodes = make_vector<double>(std::uint64_t{degree} + 1);
    const auto n = static_cast<double>(degree);
    CancellationCounter poll;
    // The interior roots are those of the Jacobi polynomial P^(1,1)_(n-1):
    // the k-th largest is about cos((k + 1/4) pi / (n + 1/2)).
    for (index_t k = 1; 2 * std::uint64_t{k} < degree; ++k) {
        poll.tick(std::size_t{degree} * 4);
        const double theta = (pi * (4.0 * k + 1.0)) / (4.0 * n + 2.0);
        const double x = newton_gauss_lobatto(std::cos(theta), degree);
        place_pair(nodes, k, degree - k, x);
    }
    place_middle_and_ends(nodes, degree);
    return nodes;
}

std::vector<double> chebyshev_lobatto_nodes(index_t degree) {
    std::vector<double> nodes = make_vector<double>(std::uint64_t{degree} + 1);
    const std::uint64_t twice = 2 * std::uint64_t{degree};
    for (index_t j = 0; 2 * std::uint64_t{j} < degree; ++j) {
        const double x = sin_pi_fraction(degree - 2 * std::uint64_t{j}, twice);
        place_pair(nodes, j, degree - j, x);
    }
    place_middle_and_ends(nodes, degree);
    return nodes;
}

std::vector<double> equidistant_reference_nodes(index_t degree) {
    return equidistant_points(-1.0, 1.0, degree);
}

std::vector<double> reference_nodes(NodeFamily family, index_t degree) {
    switch (family) {
        case NodeFamily::gauss_legendre:
            return gauss_legendre_nodes(degree + 1);
        case NodeFamily::gauss_lobatto:
            return gauss_lobatto_nodes(degree);
        case NodeFamily::chebyshev_lobatto:
            return chebyshev_lobatto_nodes(degree);
        case NodeFamily::equidistant:
            break;
    }
    return equidistant_reference_nodes(degree);
}

std::vector<double> gauss_legendre_weights(std::span<const double> nodes) {
    const std::size_t count = nodes.size();
    std::vector<double> weights = make_vector<double>(count);
    const auto m = static_cast<double>(count);
    CancellationCounter poll;
    for (std::size_t c = count / 2; c < count; ++c) {
        poll.tick(count);
        const double x = nodes[c];
        const LegendrePair p = legendre_pair(x, static_cast<index_t>(count));
        // 2 / ((1 - x^2) P'_m(x)^2), P'_m = m (P_{m-1} - x P_m) / (1 - x^2): of
        // the closed forms of the weight, the one least sensitive to the
        // rounding of the node (its logarithmic derivative at the root is
        // -2x / (1 - x^2), where 2 (1 - x^2) / (m P_{m-1})^2 has P'_{m-1} / P_{m-1}).
        const double s = one_minus_square(x);
        const double derivative = (m * (p.previous - x * p.value)) / s;
        const double weight = 2.0 / (s * (derivative * derivative));
        weights[c] = weight;
        weights[count - 1 - c] = weight;
    }
    return weights;
}

std::vector<double> gauss_lobatto_weights(std::span<const double> nodes) {
    const std::size_t count = nodes.size();
    std::vector<double> weights = make_vector<double>(count);
    const auto degree = static_cast<index_t>(count - 1);
    const auto n = static_cast<double>(degree);
    const double n_n1 = n * (n + 1.0);
    CancellationCounter poll;
    for (std::size_t c = count / 2; c < count; ++c) {
        poll.tick(count);
        const double value = c == count - 1 ? 1.0 : legendre_pair(nodes[c], degree).value;
        const double weight = 2.0 / (n_n1 * (value * value));
        weights[c] = weight;
        weights[count - 1 - c] = weight;
    }
    return weights;
}

std::vector<double> interpolatory_weights(std::span<const double> nodes) {
    const std::size_t count = nodes.size();
    // A Gauss rule of g points is exact up to degree 2g - 1 >= count - 1.
    const auto gauss_count = static_cast<index_t>(count / 2 + 1);
    const std::vector<double> points = gauss_legendre_nodes(gauss_count);
    const std::vector<double> point_weights = gauss_legendre_weights(points);
    const BarycentricWeights barycentric = barycentric_weights(nodes);
    std::vector<double> weights = make_vector<double>(count);
    std::vector<double> basis = make_vector<double>(count);
    CancellationCounter poll;
    for (index_t g = 0; g < gauss_count; ++g) {
        poll.tick(count * 2);
        lagrange_basis_values(nodes, barycentric, points[g], basis);
        for (std::size_t c = 0; c < count; ++c) {
            weights[c] = weights[c] + point_weights[g] * basis[c];
        }
    }
    return weights;
}

ReferenceRule reference_rule(NodeFamily family, index_t degree) {
    std::vector<double> nodes = reference_nodes(family, degree);
    std::vector<double> weights;
    switch (family) {
        case NodeFamily::gauss_legendre:
            weights = gauss_legendre_weights(nodes);
            break;
        case NodeFamily::gauss_lobatto:
            weights = gauss_lobatto_weights(nodes);
            break;
        case NodeFamily::equidistant:
        case NodeFamily::chebyshev_lobatto:
            weights = interpolatory_weights(nodes);
            break;
    }
    return {std::move(nodes), std::move(weights)};
}

}  // namespace pwpoly
