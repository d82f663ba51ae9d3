// The coefficients that an evaluator keeps between calls.
#include "legendre/coefficient_store.hpp"

#include <algorithm>

#include "legendre/coefficient_matrix.hpp"
#include "legendre/evaluation.hpp"
#include "legendre/interval_location.hpp"
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

namespace {

// The stored coefficients of the interval that holds t. The store always holds
// N coefficients, so only the interval index can be out of range (n_t = 0).
IntervalCoefficients stored_interval(const CoefficientStore& store, const IntervalLocation& at) {
    const LegendreBasis& basis = store.basis;
    const CoefficientView stored{store.dofs, basis.n_t, coefficients_per_interval(basis)};
    return interval_coefficients(stored, at.k, basis.degree);
}

}  // namespace

double evaluate_at(const CoefficientStore& store, double t) {
    const IntervalLocation at = locate_interval(store.basis, t, store.width);
    return expansion_value(at.xi, stored_interval(store, at));
}

double evaluate_derivative_at(const CoefficientStore& store, double t) {
    const IntervalLocation at = locate_interval(store.basis, t, store.width);
    return expansion_time_derivative(at.xi, store.width.w, stored_interval(store, at));
}

}  // namespace pwpoly
