// The node families of a grid: which nodes an interval carries, and how many
// nodes the whole grid has.
#pragma once

#include <cstdint>

#include "support/size_policy.hpp"

namespace pwpoly {

/// A family of nodes on each interval of the grid, in the order of the codes
/// that the NumPy companion passes (0 to 3).
/// - equidistant: degree + 1 equidistant nodes, both ends included (pwpoly's
///   Lagrange nodes);
/// - gauss_legendre: the degree + 1 roots of P_{degree+1}, no ends;
/// - gauss_lobatto: both ends and the degree - 1 roots of P'_degree;
/// - chebyshev_lobatto: both ends and the degree - 1 interior extrema of the
///   Chebyshev polynomial T_degree, -cos(pi j / degree).
/// The families with ends share them between neighbouring intervals.
enum class NodeFamily : std::uint8_t {
    equidistant = 0,
    gauss_legendre = 1,
    gauss_lobatto = 2,
    chebyshev_lobatto = 3,
};

/// The number of node families.
inline constexpr unsigned node_family_count = 4;

/// Whether the nodes of `family` include both interval ends.
[[nodiscard]] constexpr bool shares_ends(NodeFamily family) {
    return family != NodeFamily::gauss_legendre;
}

/// Nodes on one interval: degree + 1 for every family.
[[nodiscard]] constexpr std::uint64_t nodes_per_interval(index_t degree) {
    return std::uint64_t{degree} + 1;
}

/// Global index of node 0 of interval k minus k: the step from one interval's
/// first node to the next one's, degree for the families that share ends,
/// degree + 1 for Gauss-Legendre.
[[nodiscard]] constexpr std::uint64_t interval_node_step(NodeFamily family, index_t degree) {
    return shares_ends(family) ? std::uint64_t{degree} : std::uint64_t{degree} + 1;
}

/// Nodes of the grid: n_t * degree + 1 for the families that share ends,
/// n_t * (degree + 1) for Gauss-Legendre. Exact (below 2^65 is never
/// reached: both factors are below 2^33).
[[nodiscard]] constexpr std::uint64_t grid_node_count(NodeFamily family, index_t degree,
                                                      index_t n_t) {
    return std::uint64_t{n_t} * interval_node_step(family, degree) + (shares_ends(family) ? 1 : 0);
}

}  // namespace pwpoly
