// Reordering the coefficient rows of expansions from pwpoly's flat layout to
// one interval after another.
#pragma once

#include <cstddef>
#include <span>

#include "legendre/legendre_basis.hpp"

namespace pwpoly::batch {

/// Copies the rows of intervals first_interval ... last_interval - 1 from
/// `flat` (CoefficientOrder::flat: row k + n_t * i for P_i on interval k) to
/// `by_interval` (CoefficientOrder::by_interval: row k * (degree + 1) + i),
/// `columns` values per row; the values are copied, not computed. Both spans
/// hold N * columns values; fails with "batch kernel: wrong buffer size"
/// otherwise, or when the intervals are not within the grid.
void order_by_interval(const LegendreBasis& basis, std::size_t columns,
                       std::span<const double> flat, std::span<double> by_interval,
                       std::size_t first_interval, std::size_t last_interval);

}  // namespace pwpoly::batch
