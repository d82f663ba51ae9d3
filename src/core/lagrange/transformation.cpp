// Stacking the slabs of every Legendre degree through the block assembly.
#include "lagrange/transformation.hpp"

#include <limits>

#include "lagrange/legendre_slab.hpp"
#include "lagrange/weight_table.hpp"
#include "sparse/sparse_matrix_tools.hpp"

namespace pwpoly {

index_t check_transformation_size(index_t degree, index_t n_t) {
    check(degree != 0, "Lagrange to Legendre conversion not meaningful for degree 0");
    if (degree == std::numeric_limits<index_t>::max()) {
        fail(std::string(capacity_overflow_message));
    }
    const std::uint64_t per_row = std::uint64_t{degree} + 1;
    const std::uint64_t entries = checked_mul(checked_mul(per_row, per_row), n_t);
    return static_cast<index_t>(checked_vector_length(entries, policy_bytes<double>));
}

SquareMatrix transformation_weights(const LagrangeBasis& basis) {
    (void)check_transformation_size(basis.degree, basis.n_t);
    SquareMatrix weights = lagrange_to_legendre_weights(basis.degree);
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
