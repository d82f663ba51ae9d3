// Conversions between the entry-list and the compressed-row matrix records.
#pragma once

#include "sparse/coo_matrix.hpp"
#include "sparse/csr_matrix.hpp"

namespace pwpoly {

/// The compressed-row form of `coo`, same nrows and ncols. Entries are grouped
/// by row, ordered by column within a row, and entries at the same position are
/// merged into one whose value is their sum, added left to right in the order
/// the entries were added. Nothing is dropped for its value: explicit zeros and
/// sums equal to zero stay stored entries.
/// Fails with the equality assertion ("assertion `left == right` failed...")
/// when the entry vectors differ in length, with the index message of
/// check_index for a row index not below nrows, and with
/// "Internal error: Invalid CSR data during COO->CSR conversion: " followed by
/// the debug form of the SparseFormatError should the result not validate.
[[nodiscard]] CsrMatrix convert_coo_csr(const CooMatrix& coo);

/// The entry list of `csr`, same dimensions: rows ascending, and within a row
/// the stored entries in storage order (ascending column). Empty rows add
/// nothing.
[[nodiscard]] CooMatrix convert_csr_coo(const CsrMatrix& csr);

}  // namespace pwpoly
