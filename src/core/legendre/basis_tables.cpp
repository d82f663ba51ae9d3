// Basis tables: the degree + 1 entries of the located interval, spread over a
// table of zeros in the coefficient layout.
#include "legendre/basis_tables.hpp"

#include "legendre/coefficient_matrix.hpp"
#include "legendre/interval_location.hpp"
#include "legendre/legendre_derivative.hpp"
#include "legendre/legendre_recurrence.hpp"

namespace pwpoly {

namespace {

std::vector<double> spread_over_table(const LegendreBasis& basis, const LocalBasisEntries& local) {
    std::vector<double> table = make_vector<double>(coefficient_count(basis), 0.0);
    for (std::uint64_t i = 0; i < local.entries.size(); ++i) {
        table[checked_coefficient_index(basis, local.k, i)] = local.entries[i];
    }
    return table;
}

}  // namespace

LocalBasisEntries local_basis_values(const LegendreBasis& basis, double t) {
    const IntervalLocation at = locate_interval(basis, t);
    std::vector<double> values = make_vector<double>(coefficients_per_interval(basis), 0.0);
    legendre_values(at.xi, std::span<double>(values));
    return {at.k, std::move(values)};
}

LocalBasisEntries local_basis_derivatives(const LegendreBasis& basis, double t) {
    const IntervalLocation at = locate_interval(basis, t);
    const double w = interval_width(basis);
    std::vector<double> derivatives = make_vector<double>(coefficients_per_interval(basis), 0.0);
    LegendreDerivativeRecurrence legendre(at.xi);
    for (std::size_t i = 0; i < derivatives.size(); ++i) {
        if (i != 0) {
            legendre.advance();
        }
        const double doubled = legendre.derivative() + legendre.derivative();
        derivatives[i] = doubled / w;
    }
    return {at.k, std::move(derivatives)};
}

std::vector<double> evaluate_all_basis_functions(const LegendreBasis& basis, double t) {
    return spread_over_table(basis, local_basis_values(basis, t));
}

std::vector<double> evaluate_all_basis_function_derivatives(const LegendreBasis& basis, double t) {
    return spread_over_table(basis, local_basis_derivatives(basis, t));
}

}  // namespace pwpoly
