// The coefficients that an evaluator keeps between calls: a grid and exactly
// N = n_t * (degree + 1) Legendre coefficients in the coefficient layout.
#pragma once

#include <cstdint>
#include <vector>

#include "legendre/interval_location.hpp"
#include "legendre/legendre_basis.hpp"
#include "support/uninitialized_allocator.hpp"

namespace pwpoly {

/// A vector of coefficients whose resize() does not zero the new elements:
/// set_dofs overwrites every one of them.
using CoefficientVector = std::vector<double, UninitializedAllocator<double>>;

/// A grid with its stored coefficients. The length invariant (exactly N
/// coefficients) holds at all times.
struct CoefficientStore {
    LegendreBasis basis;
    CoefficientVector dofs;
    /// grid_width(basis), computed once: every evaluation needs it.
    GridWidth width;
};

/// A store of N coefficients, all +0.0. Fails with "capacity overflow" when N
/// does not fit the size policy, before anything is allocated.
[[nodiscard]] CoefficientStore make_coefficient_store(const LegendreBasis& basis);

/// A buffer of N uninitialised coefficients for the next set_dofs.
[[nodiscard]] CoefficientVector make_coefficient_buffer(const CoefficientStore& store);

/// Replaces the coefficients by `values` (N of them, from
/// make_coefficient_buffer), the first min(L, N) of which hold the items of a
/// sequence of `given_length` = L items. Unless L = N, fails with
/// "assertion `left == right` failed: LegendreBasisEvaluator: set_dofs: input
/// vector has wrong length\n  left: {L}\n right: {N}" and keeps the old ones.
void set_dofs(CoefficientStore& store, CoefficientVector values, std::uint64_t given_length);

/// The expansion, or its time derivative, at t, on the stored coefficients
/// (no copy). Fails with "Matrix slicing out of bounds." when n_t = 0.
[[nodiscard]] double evaluate_at(const CoefficientStore& store, double t);
[[nodiscard]] double evaluate_derivative_at(const CoefficientStore& store, double t);

}  // namespace pwpoly
