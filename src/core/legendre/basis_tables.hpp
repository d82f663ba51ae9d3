// Values and time derivatives of all basis functions of a grid at one time,
// and the few non-zero entries they are made of.
#pragma once

#include <vector>

#include "legendre/legendre_basis.hpp"
#include "support/size_policy.hpp"

namespace pwpoly {

/// The non-zero part of a basis table at one time: basis function (k, i) for
/// i = 0 ... degree, entries[i] belonging to flat index k + n_t * i (see
/// checked_coefficient_index). Every other entry of the table is +0.0.
struct LocalBasisEntries {
    /// The interval that holds the time (0 when n_t is 0; see below).
    index_t k;
    /// degree + 1 entries, index i for Legendre degree i.
    std::vector<double> entries;
};

/// Interval k of t and the values P_i(xi), i = 0 ... degree, of its basis
/// functions (P_0 = 1.0 exactly, also for a NaN xi). Fails with
/// "capacity overflow" when degree + 1 values do not fit one vector, before
/// allocating. Does not check k against n_t: a caller that places the entries
/// in a table must do that (checked_coefficient_index) after sizing the table.
[[nodiscard]] LocalBasisEntries local_basis_values(const LegendreBasis& basis, double t);

/// Interval k of t and the time derivatives (P'_i + P'_i) / w, i = 0 ... degree,
/// of its basis functions, with w = T / n_t and P'_i from
/// LegendreDerivativeRecurrence: each entry is doubled (exactly) and divided by
/// w on its own, so a dot product with coefficients matches
/// evaluate_derivative only up to rounding. Failures as local_basis_values.
[[nodiscard]] LocalBasisEntries local_basis_derivatives(const LegendreBasis& basis, double t);

/// Values of all N = n_t * (degree + 1) basis functions at t, in the
/// coefficient layout (entry k + n_t * i for P_i on interval k; the interval
/// index runs fastest): the entries of local_basis_values at their places,
/// +0.0 everywhere else. In order: the degree + 1 local values, then the N
/// entries are size-checked ("capacity overflow") and allocated, then every
/// write is checked ("Matrix slicing out of bounds." for n_t = 0).
[[nodiscard]] std::vector<double> evaluate_all_basis_functions(const LegendreBasis& basis,
                                                               double t);

/// Time derivatives of all N basis functions at t: as
/// evaluate_all_basis_functions, with the entries of local_basis_derivatives.
[[nodiscard]] std::vector<double> evaluate_all_basis_function_derivatives(
    const LegendreBasis& basis, double t);

}  // namespace pwpoly
