// The Lagrange basis record: the nodes of all intervals of the uniform grid on
// [0, T], numbered globally from left to right.
#pragma once

#include <vector>

#include "lagrange/equidistant_points.hpp"
#include "support/cancellation.hpp"
#include "support/size_policy.hpp"

namespace pwpoly {

/// Lagrange nodes of n_t equal intervals on [0, T], `degree` + 1 equidistant
/// nodes per interval with both ends included; neighbouring intervals share
/// their common end node. Node c (0 <= c <= degree) of interval k is global
/// node k * degree + c, and `points` holds the n_t * degree + 1 coordinates in
/// global order, the last being T itself.
struct LagrangeBasis {
    std::vector<double> points;
    index_t degree = 0;
    index_t n_t = 0;

    /// Builds the record for the grid (`new` in other languages; it is a keyword
    /// here). With w = T / n_t, interval i is [a_i, b_i] with a_i = i * w and
    /// b_i = a_i + w (the sum, not (i + 1) * w); its nodes 0 .. degree - 1 are
    /// equidistant_point(a_i, b_i, c, degree), and T closes the list. So every
    /// interior shared node is node 0 of the interval to its right, i.e. exactly
    /// (k + 1) * w, and the last node is T exactly.
    /// Validates nothing numeric: degree 0 or n_t 0 give [T]; a negative T gives
    /// a descending list starting with -0.0; NaN and infinities propagate.
    /// Fails with "capacity overflow", before allocating, when the interval list
    /// (16 bytes per interval, so n_t > 134217727) or the node list (8 bytes per
    /// node) does not fit one vector, or when degree + 1 overflows with n_t >= 1.
    [[nodiscard]] static LagrangeBasis create(index_t degree, index_t n_t, double T);
};

/// The number of nodes, n_t * degree + 1, after the size checks of
/// LagrangeBasis::create (which fail with "capacity overflow").
[[nodiscard]] std::size_t lagrange_node_count(index_t degree, index_t n_t);

template <class Visit>
void for_each_lagrange_point_of(index_t degree, index_t n_t, double T, index_t first, index_t last,
                                Visit&& visit);

/// Passes the node coordinates of LagrangeBasis::create(degree, n_t, T) to
/// `visit`, one call per node in global order, with the same bits, without
/// building any list. Call lagrange_node_count first for the size checks.
/// Polls for cancellation every few thousand nodes (support/cancellation.hpp).
template <class Visit>
void for_each_lagrange_point(index_t degree, index_t n_t, double T, Visit&& visit) {
    for_each_lagrange_point_of(degree, n_t, T, 0, n_t, visit);
}

/// The same for the nodes of intervals first ... last - 1 (nodes
/// first * degree ... last * degree - 1), and T itself when last == n_t: the
/// nodes of an interval depend on its index alone.
template <class Visit>
void for_each_lagrange_point_of(index_t degree, index_t n_t, double T, index_t first, index_t last,
                                Visit&& visit) {
    const double width = T / static_cast<double>(n_t);
    CancellationCounter poll;
    for (index_t i = first; i < last; ++i) {
        poll.tick(std::size_t{degree} + 1);
        const double left = static_cast<double>(i) * width;
        const double right = left + width;
        // The right end of each interval (node `degree`) is dropped: it is
        // node 0 of the next interval, or T after the last one.
        for (index_t c = 0; c < degree; ++c) {
            visit(equidistant_point(left, right, c, degree));
        }
    }
    if (last == n_t) {
        visit(T);
    }
}

}  // namespace pwpoly
