// Placing the reference nodes and weights of a family on every interval.
#include "nodes/grid_nodes.hpp"

#include "batch/batch_checks.hpp"
#include "support/cancellation.hpp"

namespace pwpoly {
namespace {

void check_grid_buffers(NodeFamily family, std::size_t reference, index_t n_t, index_t first,
                        index_t last, std::size_t out) {
    batch::check_buffer_sizes(reference >= 1 && first <= last && last <= n_t);
    const auto degree = static_cast<index_t>(reference - 1);
    batch::check_buffer_sizes(out == grid_node_count(family, degree, n_t));
    batch::check_buffer_sizes(reference >= 2 || !shares_ends(family));
}

}  // namespace

void place_grid_nodes(NodeFamily family, std::span<const double> reference, index_t n_t, double T,
                      index_t first, index_t last, std::span<double> out) {
    check_grid_buffers(family, reference.size(), n_t, first, last, out.size());
    const auto degree = static_cast<index_t>(reference.size() - 1);
    const std::uint64_t step = interval_node_step(family, degree);
    const bool ends = shares_ends(family);
    // The right end of an interval is the next one's left end, or T.
    const std::size_t own = ends ? degree : std::size_t{degree} + 1;
    if (ends && n_t == 0) {
        out[0] = T;  // no interval: the last node alone, as pwpoly's Lagrange nodes
        return;
    }
    const double width = T / static_cast<double>(n_t);
    CancellationCounter poll;
    for (index_t k = first; k < last; ++k) {
        poll.tick(own);
        const double left = static_cast<double>(k) * width;
        const double right = left + width;
        const double half = (right - left) * 0.5;
        const std::uint64_t base = k * step;
        for (std::size_t c = 0; c < own; ++c) {
            const double x = reference[c];
            double t = 0.0;
            if (ends && c == 0) {
                t = left;
            } else if (x <= 0.0) {
                const double offset = (1.0 + x) * half;
                t = left + offset;
            } else {
                const double offset = (1.0 - x) * half;
                t = right - offset;
            }
            out[base + c] = t;
        }
        if (ends && k + 1 == n_t) {
            out[base + degree] = T;
        }
    }
}

void place_grid_weights(NodeFamily family, std::span<const double> reference_weights, index_t n_t,
                        double T, index_t first, index_t last, std::span<double> out) {
    check_grid_buffers(family, reference_weights.size(), n_t, first, last, out.size());
    const auto degree = static_cast<index_t>(reference_weights.size() - 1);
    const std::uint64_t step = interval_node_step(family, degree);
    const bool ends = shares_ends(family);
    const std::size_t own = ends ? degree : std::size_t{degree} + 1;
    const double half = (T / static_cast<double>(n_t)) * 0.5;
    const double shared = reference_weights[0] + reference_weights[degree];
    CancellationCounter poll;
    for (index_t k = first; k < last; ++k) {
        poll.tick(own);
        const std::uint64_t base = k * step;
        for (std::size_t c = 0; c < own; ++c) {
            const bool joined = ends && c == 0 && k > 0;
            out[base + c] = (joined ? shared : reference_weights[c]) * half;
        }
        if (ends && k + 1 == n_t) {
            out[base + degree] = reference_weights[degree] * half;
        }
    }
}

}  // namespace pwpoly
