// The Lagrange basis polynomials of any distinct nodes at a point, in the
// first barycentric form, with products kept as mantissa and exponent so that
// no degree overflows or underflows.
#pragma once

#include <span>
#include <vector>

namespace pwpoly {

/// The barycentric weights 1 / prod_{j != c} (x_c - x_j) of distinct nodes,
/// weight c as mantissas[c] * 2^exponents[c] (the differences doubled, which is
/// exact, so that the products of nodes in [-1, 1] stay near 1 in size; the
/// doubling is undone in lagrange_basis_values).
struct BarycentricWeights {
    std::vector<double> mantissas;
    std::vector<int> exponents;
};

/// The barycentric weights of `nodes` (distinct), O(nodes.size()^2).
[[nodiscard]] BarycentricWeights barycentric_weights(std::span<const double> nodes);

/// l_c(y), c = 0 .. nodes.size() - 1, into `out` (of nodes.size() values):
/// l(y) * weight_c / (y - x_c) with l(y) = prod_j (y - x_j), each factor one
/// rounded difference, so every value has a relative error of a few units of
/// 2^-53 times the node count. At a node y = x_c exactly: 1 at c, 0 elsewhere.
void lagrange_basis_values(std::span<const double> nodes, const BarycentricWeights& weights,
                           double y, std::span<double> out);

}  // namespace pwpoly
