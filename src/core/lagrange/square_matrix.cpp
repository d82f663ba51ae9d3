// Sized construction of dense square matrices.
#include "lagrange/square_matrix.hpp"

namespace pwpoly {

SquareMatrix SquareMatrix::zeros(std::uint64_t size) {
    const std::uint64_t count = checked_mul(size, size);
    std::vector<double> entries = make_vector<double>(count, 0.0);
    return SquareMatrix{static_cast<index_t>(size), std::move(entries)};
}

SquareMatrix SquareMatrix::identity(std::uint64_t size) {
    SquareMatrix matrix = zeros(size);
    for (index_t i = 0; i < matrix.size; ++i) {
        matrix.at(i, i) = 1.0;
    }
    return matrix;
}

}  // namespace pwpoly
