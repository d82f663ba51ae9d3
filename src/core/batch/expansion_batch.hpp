// Evaluating one or many piecewise Legendre expansions of one grid, or their
// time derivatives, at many times.
#pragma once

#include <cstddef>
#include <span>

#include "legendre/legendre_basis.hpp"

namespace pwpoly::batch {

/// How the coefficient rows of expansions are ordered.
enum class CoefficientOrder {
    /// Row k + n_t * i for P_i on interval k: pwpoly's flat coefficient layout
    /// (the interval index runs fastest).
    flat,
    /// Row k * (degree + 1) + i: the degree + 1 rows that one time needs lie
    /// together, which suits times in random order.
    by_interval,
};

/// `columns` expansions on the grid of `basis`: N = n_t * (degree + 1) rows of
/// `columns` values each (row-major), row r holding coefficient r (in
/// `order`) of every expansion, value e of a row belonging to expansion e.
/// With a `stride` above `columns` the expansions are a window of a wider
/// table: row r starts at values[r * stride], and the results of time j at
/// out[j * stride]; a stride of 0 means `columns`. A window has at least two
/// columns. Points into memory owned elsewhere.
///
/// With `planes` above 1 (no window), the columns form `planes` groups of
/// width = columns / planes, and each group's results fill a plane of their
/// own: the result of time j and column p * width + c at
/// out[p * plane_stride + j * width + c] (plane_stride >= times * width), as
/// for a result of shape (planes, times, width).
struct ExpansionColumns {
    LegendreBasis basis;
    std::span<const double> values;
    std::size_t columns = 1;
    CoefficientOrder order = CoefficientOrder::flat;
    std::size_t stride = 0;
    std::size_t planes = 1;
    std::size_t plane_stride = 0;

    /// Elements between the starts of neighbouring rows.
    [[nodiscard]] std::size_t row_stride() const noexcept { return stride == 0 ? columns : stride; }
};

/// out[j * columns + e] = the value of expansion e at times[j], bit for bit
/// what CoefficientStore's evaluate_at gives with the coefficients of that
/// expansion: locate_interval, then S = -0.0; S = S + P_i(xi) * c_i for i
/// ascending (expansion_value). The Legendre values of a time are computed
/// once and shared by all columns; each time's results depend on that time
/// alone, so a call on a slice of the times gives the same bits for them.
/// Polls for cancellation every few thousand terms. Fails, before any work,
/// with "batch kernel: n_t must be 1 to 2147483647" and with "batch kernel:
/// wrong buffer size" unless columns >= 1, values.size() == N * columns and
/// out.size() == times.size() * columns (for a window: the last row ends
/// within each span; with planes: columns is a multiple of planes, and the
/// last plane ends within `out`).
void evaluate_expansions(const ExpansionColumns& expansions, std::span<const double> times,
                         std::span<double> out);

/// The same for the time derivative: S = -0.0; S = S + P'_i(xi) * c_i for i
/// ascending (the i = 0 term included), then (S + S) / w with
/// w = interval_width(basis), as expansion_time_derivative. Same failures.
void evaluate_expansion_derivatives(const ExpansionColumns& expansions,
                                    std::span<const double> times, std::span<double> out);

}  // namespace pwpoly::batch
