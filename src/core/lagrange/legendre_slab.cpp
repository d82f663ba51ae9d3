// Spreading one row of the weight table over the intervals, through an entry
// list converted to compressed rows.
#include "lagrange/legendre_slab.hpp"

#include "lagrange/weight_table.hpp"
#include "sparse/conversions.hpp"
#include "support/cancellation.hpp"

namespace pwpoly {

index_t transformation_columns(const LagrangeBasis& basis) {
    const auto columns = static_cast<index_t>(basis.points.size());
    // The largest column used is n_t * degree, the right end of the last
    // interval; computed in 64 bits so that it cannot wrap past the check.
    check(basis.n_t == 0 || std::uint64_t{basis.n_t} * basis.degree < columns,
          "assertion failed: j < self.ncols");
    return columns;
}

CsrMatrix to_legendre_basis_matrix_for_pol_degree(const LagrangeBasis& basis, index_t p) {
    const SquareMatrix weights = lagrange_to_legendre_weights(basis.degree);
    return legendre_slab(basis, weights, p);
}

CsrMatrix legendre_slab(const LagrangeBasis& basis, const SquareMatrix& weights, index_t p) {
    const index_t degree = basis.degree;
    assert_equal(weights.size, std::uint64_t{degree} + 1, "weight table of another degree");
    check(p < weights.size, "Matrix slicing out of bounds.");
    const index_t n_t = basis.n_t;
    CooMatrix entries(n_t, transformation_columns(basis));
    entries.reserve(checked_mul(n_t, weights.size));
    const auto row = weights.row(p);
    CancellationCounter poll;
    for (index_t k = 0; k < n_t; ++k) {
        poll.tick(weights.size);
        const index_t first_column = k * degree;
        for (index_t c = 0; c <= degree; ++c) {
            entries.push(k, first_column + c, row[c]);
        }
    }
    return convert_coo_csr(entries);
}

}  // namespace pwpoly
