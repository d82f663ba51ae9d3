// The coefficients that an evaluator keeps between calls.
#include "legendre/coefficient_store.hpp"

#include <algorithm>

#include "legendre/coefficient_matrix.hpp"
#include "support/cancellation.hpp"
#include "support/failure.hpp"

namespace pwpoly {

CoefficientStore make_coefficient_store(const LegendreBasis& basis) {
    const std::size_t count = checked_vector_length(coefficient_count(basis), sizeof(double));
    // Zeroed in chunks between cancellation polls, as make_vector does.
    CoefficientVector zeros(count);
    for (std::size_t start = 0; start < count; start += filling_chunk) {
        poll_cancellation();
        const std::size_t end = std::min(count, start + filling_chunk);
        std::fill(zeros.begin() + static_cast<std::ptrdiff_t>(start),
                  zeros.begin() + static_cast<std::ptrdiff_t>(end), 0.0);
    }
    return {basis, std::move(zeros), grid_width(basis)};
}

CoefficientVector make_coefficient_buffer(const CoefficientStore& store) {
    return CoefficientVector(store.dofs.size());
}

void set_dofs(CoefficientStore& store, CoefficientVector values, std::uint64_t given_length) {
    const std::uint64_t expected = coefficient_count(store.basis);
    assert_equal(given_length, expected,
                 "LegendreBasisEvaluator: set_dofs: input vector has wrong length");
    assert_equal(values.size(), expected);
    store.dofs = std::move(values);
}

}  // namespace pwpoly
