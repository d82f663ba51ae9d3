// Building and slicing coefficient matrices; every bounds check happens before
// memory is touched.
#include "legendre/coefficient_matrix.hpp"

#include "support/failure.hpp"

namespace pwpoly {

CoefficientView coefficient_view(std::span<const double> values, index_t n_t, index_t degree) {
    const std::uint64_t cols = std::uint64_t{degree} + 1;
    const std::uint64_t count = std::uint64_t{n_t} * cols;
    check(values.size() >= count, matrix_buffer_too_small_message);
    return {values.first(static_cast<std::size_t>(count)), n_t, cols};
}

CoefficientMatrix coefficient_matrix(std::span<const double> values, index_t n_t, index_t degree) {
    const CoefficientView source = coefficient_view(values, n_t, degree);
    std::vector<double> copy = reserve_vector<double>(source.values.size());
    copy.assign(source.values.begin(), source.values.end());
    return {source.rows, source.cols, std::move(copy)};
}

void check_interval_in_matrix(std::uint64_t rows, std::uint64_t cols, index_t k, index_t degree) {
    check(k < rows, matrix_slicing_message);
    check(degree < cols, matrix_index_message);
}

IntervalCoefficients interval_coefficients(const CoefficientView& matrix, index_t k,
                                           index_t degree) {
    check_interval_in_matrix(matrix.rows, matrix.cols, k, degree);
    return {matrix.values.data() + k, matrix.rows, std::uint64_t{degree} + 1};
}

std::uint64_t checked_coefficient_index(const LegendreBasis& basis, index_t k, std::uint64_t i) {
    check(k < basis.n_t, matrix_slicing_message);
    check(i <= basis.degree, matrix_index_message);
    return k + std::uint64_t{basis.n_t} * i;
}

}  // namespace pwpoly
