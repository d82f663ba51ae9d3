// The matrices in time of Galerkin methods for the piecewise Legendre basis:
// mass, derivative, traces at the interval ends and the upwind jump coupling,
// written row by row into compressed-row arrays.
#pragma once

#include <cstdint>

#include "batch/csr_arrays.hpp"
#include "legendre/legendre_basis.hpp"

namespace pwpoly {

/// The matrices, in the order of the codes the NumPy companion passes (0 to 4).
/// phi_a is P_i on interval k for a = k + n_t * i (pwpoly's flat layout),
/// N = n_t * (degree + 1). Stored entries, per row, columns ascending:
/// - mass (N x N): the diagonal, T / (n_t (2i + 1)) (one rounded division of
///   T by an exact integer: the integral of phi_a^2 rounded once);
/// - derivative (N x N): integral over interval k of phi_a dphi_b/dt, which is
///   2.0 exactly for b = k + n_t * j with j > i and j - i odd, 0 otherwise;
///   only the entries 2.0 are stored, floor((degree - i + 1) / 2) per row;
/// - jump (N x N): the upwind coupling sum over break points t_k (k >= 1) of
///   phi_a(t_k+) (phi_b(t_k+) - phi_b(t_k-)) plus phi_a(0+) phi_b(0+): row
///   (k, i) stores (-1)^(i+j) at (k, j) for every j and, for k >= 1, -(-1)^i at
///   (k - 1, j) for every j, columns interleaved in ascending order; exact;
/// - start_trace, end_trace (n_t x N): row k stores P_i(-1) = (-1)^i, or
///   P_i(1) = 1.0, at column k + n_t * i for every i; exact.
enum class TimeMatrix : std::uint8_t {
    mass = 0,
    derivative = 1,
    jump = 2,
    start_trace = 3,
    end_trace = 4,
};

/// The number of matrix kinds.
inline constexpr unsigned time_matrix_count = 5;

/// Rows, columns and stored entries of a matrix, exact in 64 bits.
struct TimeMatrixShape {
    std::uint64_t rows;
    std::uint64_t cols;
    std::uint64_t entries;
};

/// The shape of `matrix` for the grid of `degree` and `n_t`.
[[nodiscard]] TimeMatrixShape time_matrix_shape(TimeMatrix matrix, index_t degree, index_t n_t);

/// Writes rows [first, last) of `matrix` for the grid of `basis` (T is read by
/// the mass matrix only) into compressed-row arrays with int32 indices:
/// entries of row r at indptr[r] ... indptr[r + 1] - 1, indptr[r + 1] written
/// for each row of the range and indptr[0] = 0 when first is 0. Each row's
/// place is computed from its index, so ranges can be filled in any order.
/// Fails with "batch kernel: wrong buffer size" unless the arrays have the
/// sizes of time_matrix_shape, the entries fit int32 indices, and
/// first <= last <= rows.
void fill_time_matrix(TimeMatrix matrix, const LegendreBasis& basis, std::uint64_t first,
                      std::uint64_t last, const batch::CsrArrays<std::int32_t>& out);

}  // namespace pwpoly
