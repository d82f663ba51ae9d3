// Legendre series of many piecewise polynomials on one grid, as the calculus
// kernels read and write them, and the checks every such kernel makes first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "legendre/legendre_basis.hpp"
#include "support/failure.hpp"

namespace pwpoly::calculus {

/// `columns` piecewise polynomials of degree basis.degree on the grid of
/// `basis`: N = n_t * (degree + 1) rows of `columns` values each, row-major.
/// Row k + n_t * i holds the coefficient of P_i on interval k (pwpoly's flat
/// layout, the interval index fastest), value e of a row belonging to
/// polynomial e. Points into memory owned elsewhere.
struct SeriesColumns {
    LegendreBasis basis;
    std::span<const double> values;
    std::size_t columns = 1;
};

/// The degree of the derivative of order nu of a series of degree `degree`:
/// degree - nu, or 0 when nu >= degree (above the degree the derivative is
/// the zero constant).
[[nodiscard]] inline index_t derivative_degree(index_t degree, std::uint64_t nu) {
    return nu >= degree ? 0 : static_cast<index_t>(degree - nu);
}

/// True when a * b, formed without wrap-around, equals `expected`.
[[nodiscard]] inline bool count_equals(std::uint64_t a, std::uint64_t b, std::uint64_t expected) {
    std::uint64_t product = 0;
    return !__builtin_mul_overflow(a, b, &product) && product == expected;
}

/// Fails with "calculus kernel: wrong buffer size" unless `condition` holds.
inline void check_calculus_sizes(bool condition) {
    check(condition, "calculus kernel: wrong buffer size");
}

/// Fails with "calculus kernel: n_t must be at least 1" for a grid without
/// intervals and with "calculus kernel: wrong buffer size" unless the series
/// has N * columns values and columns >= 1.
inline void check_series(const SeriesColumns& series) {
    check(series.basis.n_t >= 1, "calculus kernel: n_t must be at least 1");
    check_calculus_sizes(series.columns >= 1 && count_equals(coefficient_count(series.basis),
                                                             series.columns, series.values.size()));
}

/// Fails with "calculus kernel: range out of bounds" unless
/// first <= last <= count.
inline void check_range(std::uint64_t first, std::uint64_t last, std::uint64_t count) {
    check(first <= last && last <= count, "calculus kernel: range out of bounds");
}

/// The value of row `row`, column `e` of a row-major array of `columns` values per row.
[[nodiscard]] inline double at_row(std::span<const double> values, std::size_t columns,
                                   std::uint64_t row, std::size_t e) {
    return values[static_cast<std::size_t>(row) * columns + e];
}

}  // namespace pwpoly::calculus
