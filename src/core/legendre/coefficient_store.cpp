// The coefficients that an evaluator keeps between calls.
#include "legendre/coefficient_store.hpp"

#include "legendre/coefficient_matrix.hpp"
#include "legendre/evaluation.hpp"
#include "support/failure.hpp"

namespace pwpoly {

CoefficientStore make_coefficient_store(const LegendreBasis& basis) {
    return {basis, make_vector<double>(coefficient_count(basis), 0.0)};
}

void set_dofs(CoefficientStore& store, std::vector<double> values, std::uint64_t given_length) {
    const std::uint64_t expected = coefficient_count(store.basis);
    assert_equal(given_length, expected,
                 "LegendreBasisEvaluator: set_dofs: input vector has wrong length");
    assert_equal(values.size(), expected);
    store.dofs = std::move(values);
}

double evaluate_at(const CoefficientStore& store, double t) {
    return evaluate(store.basis, t,
                    coefficient_view(store.dofs, store.basis.n_t, store.basis.degree));
}

double evaluate_derivative_at(const CoefficientStore& store, double t) {
    return evaluate_derivative(store.basis, t,
                               coefficient_view(store.dofs, store.basis.n_t, store.basis.degree));
}

}  // namespace pwpoly
