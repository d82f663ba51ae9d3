// The nodes of a family placed on every interval of the grid, and the weights
// of the composite quadrature rule on [0, T].
#pragma once

#include <cstdint>
#include <span>

#include "nodes/node_family.hpp"

namespace pwpoly {

/// Writes the nodes of intervals [first, last) of the grid of n_t intervals
/// of [0, T] into `out` (of grid_node_count(family, degree, n_t) elements),
/// from the reference nodes of one interval (degree + 1 of them, ascending in
/// [-1, 1]). With w = T / n_t, interval k is [a, b], a = k * w, b = a + w, as
/// pwpoly places its Lagrange nodes, and h = (b - a) * 0.5. Node c of interval
/// k goes to position k * interval_node_step(family, degree) + c:
/// - a shared left end is a itself, and the last interval also writes T;
/// - a node x <= 0 goes to a + (1 + x) * h, a node x > 0 to b - (1 - x) * h
///   (each operation rounded in this order), so that the distance to the
///   nearer end keeps its relative accuracy and the order is kept.
/// For the families with ends, the right end of interval k is written by
/// interval k + 1 (or is T); with n_t = 0 the one node is T. Fails with "batch kernel: wrong buffer
/// size" unless the sizes match and first <= last <= n_t.
void place_grid_nodes(NodeFamily family, std::span<const double> reference, index_t n_t, double T,
                      index_t first, index_t last, std::span<double> out);

/// Writes the quadrature weights of intervals [first, last) into `out` (of
/// grid_node_count elements), from the reference weights of one interval:
/// weight c times h = (T / n_t) * 0.5, one rounded product, at the position
/// of node c; at a node shared by intervals k - 1 and k the factor is the sum
/// of the right end's and the left end's reference weights (written by
/// interval k; the last node by the last interval). Same checks as
/// place_grid_nodes.
void place_grid_weights(NodeFamily family, std::span<const double> reference_weights, index_t n_t,
                        double T, index_t first, index_t last, std::span<double> out);

}  // namespace pwpoly
