// The coefficient layout shared by every vector of Legendre coefficients and
// basis table: an owning column-major matrix, a view of one, and the slice of
// one interval.
//
// Layout: c[k, i], the coefficient of P_i on interval k, is at flat index
// k + n_t * i. The interval index runs fastest: first the P_0 coefficients of
// intervals 0 ... n_t - 1, then all P_1 coefficients, and so on.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "legendre/legendre_basis.hpp"
#include "support/size_policy.hpp"

namespace pwpoly {

/// Failure when a flat vector is shorter than the matrix it should fill.
inline constexpr std::string_view matrix_buffer_too_small_message =
    "Matrix view: input data buffer too small.";
/// Failure when an interval index is not below the row count.
inline constexpr std::string_view matrix_slicing_message = "Matrix slicing out of bounds.";
/// Failure when a Legendre degree is not below the column count.
inline constexpr std::string_view matrix_index_message = "Matrix index out of bounds.";

/// The coefficients of one interval k: the coefficient of P_i is
/// first[i * stride], i = 0 ... count - 1. In a coefficient matrix, first
/// points at c[k, 0] and stride is the row count; stride 1 is a contiguous
/// array. Points into memory owned elsewhere.
struct IntervalCoefficients {
    const double* first;
    std::uint64_t stride;
    std::uint64_t count;
};

/// The degree + 1 coefficients of one interval held contiguously, values[i]
/// for P_i.
[[nodiscard]] inline IntervalCoefficients contiguous_coefficients(std::span<const double> values) {
    return {values.data(), 1, values.size()};
}

/// An owning coefficient matrix: `rows` intervals by `cols` Legendre degrees,
/// column-major (element (r, col) at values[r + rows * col]), values.size() ==
/// rows * cols. cols is degree + 1 and may be 2^32.
struct CoefficientMatrix {
    index_t rows;
    std::uint64_t cols;
    std::vector<double> values;
};

/// A read-only coefficient matrix over memory owned elsewhere, same shape and
/// order as CoefficientMatrix: element (r, col) at values[r + rows * col], and
/// values.size() == rows * cols.
struct CoefficientView {
    std::span<const double> values;
    index_t rows;
    std::uint64_t cols;
};

/// Views the first N = n_t * (degree + 1) of `values` as an n_t x (degree + 1)
/// matrix, without copying; later values are ignored. Fails with
/// "Matrix view: input data buffer too small." when values.size() < N.
[[nodiscard]] CoefficientView coefficient_view(std::span<const double> values, index_t n_t,
                                               index_t degree);

/// Copies the first N = n_t * (degree + 1) of `values`, in order, into a new
/// n_t x (degree + 1) matrix; later values are ignored. Fails with
/// "Matrix view: input data buffer too small." when values.size() < N, and with
/// "capacity overflow" when N values do not fit one vector; both before
/// allocating.
[[nodiscard]] CoefficientMatrix coefficient_matrix(std::span<const double> values, index_t n_t,
                                                   index_t degree);

/// A view of the whole of `matrix`.
[[nodiscard]] inline CoefficientView view_of(const CoefficientMatrix& matrix) {
    return {matrix.values, matrix.rows, matrix.cols};
}

/// Checks that a rows x cols matrix holds interval k up to Legendre degree
/// `degree`: fails with "Matrix slicing out of bounds." when k >= rows, then
/// with "Matrix index out of bounds." when degree >= cols.
void check_interval_in_matrix(std::uint64_t rows, std::uint64_t cols, index_t k, index_t degree);

/// The coefficients c[k, 0] ... c[k, degree] of `matrix`, after
/// check_interval_in_matrix.
[[nodiscard]] IntervalCoefficients interval_coefficients(const CoefficientView& matrix, index_t k,
                                                         index_t degree);

/// Flat index k + n_t * i of the coefficient of P_i on interval k of `basis`.
/// Fails with "Matrix slicing out of bounds." when k >= n_t (always for
/// n_t = 0), then with "Matrix index out of bounds." when i > degree.
[[nodiscard]] std::uint64_t checked_coefficient_index(const LegendreBasis& basis, index_t k,
                                                      std::uint64_t i);

}  // namespace pwpoly
