// The sparse matrix of all basis functions, or of their time derivatives, at
// many times: one row of degree + 1 stored entries per time, in compressed-row
// storage.
#pragma once

#include <cstdint>
#include <span>

#include "batch/csr_arrays.hpp"
#include "legendre/legendre_basis.hpp"

namespace pwpoly::batch {

/// Which basis table the rows hold.
enum class BasisTable { values, derivatives };

/// Fills the rows of the basis matrix of `basis` at `times`, Q = times.size()
/// rows of N = n_t * (degree + 1) columns in the coefficient layout:
/// indptr[j] = j * (degree + 1) for j = 0 ... Q, and row j holds degree + 1
/// entries, entry i (i ascending) in column k + n_t * i for the interval k of
/// times[j], so the columns of a row ascend. The entries are, bit for bit, the
/// entries that local_basis_values (BasisTable::values: P_i(xi)) or
/// local_basis_derivatives (BasisTable::derivatives: (P'_i + P'_i) / w) give
/// for that time; zeros among them are stored like any other value. Polls for
/// cancellation every few thousand entries.
/// Fails, before any work, with "batch kernel: n_t must be 1 to 2147483647",
/// then with "batch kernel: wrong buffer size" unless data and indices hold
/// Q * (degree + 1) entries, indptr Q + 1, and every index and offset fits
/// `Index`.
void fill_basis_rows(const LegendreBasis& basis, BasisTable table, std::span<const double> times,
                     const CsrArrays<std::int32_t>& out);
void fill_basis_rows(const LegendreBasis& basis, BasisTable table, std::span<const double> times,
                     const CsrArrays<std::int64_t>& out);

}  // namespace pwpoly::batch
