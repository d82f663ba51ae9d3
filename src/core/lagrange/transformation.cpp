// Stacking the slabs of every Legendre degree through the block assembly.
#include "lagrange/transformation.hpp"

#include <limits>

#include "lagrange/legendre_slab.hpp"
#include "lagrange/weight_table.hpp"
#include "sparse/sparse_matrix_tools.hpp"

namespace pwpoly {

SquareMatrix transformation_weights(const LagrangeBasis& basis) {
    const index_t degree = basis.degree;
    check(degree != 0, "Lagrange to Legendre conversion not meaningful for degree 0");
    if (degree == std::numeric_limits<index_t>::max()) {
        fail(std::string(capacity_overflow_message));
    }
    SquareMatrix weights = lagrange_to_legendre_weights(degree);
    const std::uint64_t entries = checked_mul(checked_mul(weights.size, weights.size), basis.n_t);
    (void)checked_vector_length(entries, policy_bytes<double>);
    (void)transformation_columns(basis);
    return weights;
}

CsrMatrix get_transormation_matrix_to_legendre(const LagrangeBasis& basis) {
    const SquareMatrix weights = transformation_weights(basis);
    std::vector<CsrMatrix> slabs;
    slabs.reserve(weights.size);
    for (index_t p = 0; p <= basis.degree; ++p) {
        slabs.push_back(legendre_slab(basis, weights, p));
    }
    CsrBlockGrid grid{weights.size, 1, {}};
    grid.cells.reserve(slabs.size());
    for (const CsrMatrix& slab : slabs) {
        grid.cells.push_back(&slab);
    }
    return csr_block_from_ndarray(grid);
}

}  // namespace pwpoly
