// The nodes of the computed families on the reference interval [-1, 1], and
// the weights of their quadrature rules, accurate to rounding at every degree.
#pragma once

#include <span>
#include <vector>

#include "nodes/node_family.hpp"
#include "support/size_policy.hpp"

namespace pwpoly {

/// A rule on [-1, 1]: nodes ascending, and the weight of each node in
/// integral(-1, 1) f ~ sum weights[c] * f(nodes[c]).
struct ReferenceRule {
    std::vector<double> nodes;
    std::vector<double> weights;
};

/// Largest degree of the computed families (Gauss-Legendre, Gauss-Lobatto,
/// Chebyshev-Lobatto) and of the equidistant quadrature: their reference
/// nodes and weights cost O(degree^2) operations, the Chebyshev-Lobatto
/// transformation O(degree^3) (about 40 s at this degree).
inline constexpr index_t max_family_degree = 4096;

/// The `count` roots of P_count, ascending (count >= 1). Newton's method on
/// the three-term recurrence (LegendreRecurrence) from Tricomi's asymptotic
/// guesses, for the roots in (0, 1) only: the roots in (-1, 0) are their exact
/// negatives, and 0.0 is the middle root of an odd count. Accurate to a few
/// units of 2^-53 in absolute terms for every count.
[[nodiscard]] std::vector<double> gauss_legendre_nodes(index_t count);

/// -1.0, the degree - 1 roots of P'_degree ascending, 1.0 (degree >= 1).
/// Newton's method on P'_degree, its second derivative taken from Legendre's
/// differential equation, from the asymptotic guesses of the roots of the
/// Jacobi polynomial P^(1,1)_(degree-1); mirrored as gauss_legendre_nodes.
[[nodiscard]] std::vector<double> gauss_lobatto_nodes(index_t degree);

/// -cos(pi j / degree), j = 0 .. degree (degree >= 1), computed as
/// -sin(pi (degree - 2j) / (2 degree)) for 2j < degree, mirrored: no
/// cancellation, exact symmetry, ends exactly -1.0 and 1.0, the middle node of
/// an even degree exactly 0.0.
[[nodiscard]] std::vector<double> chebyshev_lobatto_nodes(index_t degree);

/// pwpoly's equidistant nodes of [-1, 1], equidistant_points(-1.0, 1.0, degree).
[[nodiscard]] std::vector<double> equidistant_reference_nodes(index_t degree);

/// The reference nodes of `family` for `degree` (degree >= 1 for the families
/// with ends, and degree <= max_family_degree except for equidistant; the
/// callers check both).
[[nodiscard]] std::vector<double> reference_nodes(NodeFamily family, index_t degree);

/// Gauss-Legendre weights 2 / ((1 - x^2) P'_m(x)^2) of the m roots `nodes` of
/// P_m, P'_m = m (P_{m-1} - x P_m) / (1 - x^2) and 1 - x^2 formed as
/// (1 - x)(1 + x), mirrored as the nodes.
/// Exact for polynomials of degree 2m - 1.
[[nodiscard]] std::vector<double> gauss_legendre_weights(std::span<const double> nodes);

/// Gauss-Lobatto weights 2 / (n (n + 1) P_n(x)^2), n = nodes.size() - 1, the
/// ends 2 / (n (n + 1)). Exact for polynomials of degree 2n - 1.
[[nodiscard]] std::vector<double> gauss_lobatto_weights(std::span<const double> nodes);

/// The weights of the interpolatory rule of any distinct `nodes`: the
/// integrals of their Lagrange basis polynomials, each computed by a
/// Gauss-Legendre rule exact for its degree, from the basis in the first
/// barycentric form (products of node differences, which keep their relative
/// accuracy). Exact for polynomials of degree nodes.size() - 1, up to
/// rounding relative to the largest weight.
[[nodiscard]] std::vector<double> interpolatory_weights(std::span<const double> nodes);

/// The nodes and quadrature weights of `family` on [-1, 1]; equidistant and
/// Chebyshev-Lobatto by interpolatory_weights. Same preconditions as
/// reference_nodes, and degree >= 1 for equidistant.
[[nodiscard]] ReferenceRule reference_rule(NodeFamily family, index_t degree);

}  // namespace pwpoly
