// Dense inversion, written one rounded operation per step so that the
// results are reproducible bit for bit.
#include "lagrange/dense_inverse.hpp"

#include <array>
#include <cmath>
#include <utility>

#include "support/cancellation.hpp"

namespace pwpoly {

namespace {

// The three indices of 0 .. 3 other than `skip`, ascending.
std::array<index_t, 3> others(index_t skip) {
    std::array<index_t, 3> rest{};
    index_t n = 0;
    for (index_t i = 0; i < 4; ++i) {
        if (i != skip) {
            rest[n++] = i;
        }
    }
    return rest;
}

// Cofactor of a(row, col): the determinant of the 3 x 3 minor as six triple
// products summed left to right, negated when row + col is odd.
double cofactor(const SquareMatrix& a, index_t row, index_t col) {
    const auto r = others(row);
    const auto c = others(col);
    auto m = [&](index_t i, index_t j) { return a.at(r[i], c[j]); };
    double det = m(0, 0) * m(1, 1) * m(2, 2);
    det = det + m(0, 1) * m(1, 2) * m(2, 0);
    det = det + m(0, 2) * m(1, 0) * m(2, 1);
    det = det - m(0, 2) * m(1, 1) * m(2, 0);
    det = det - m(0, 1) * m(1, 0) * m(2, 2);
    det = det - m(0, 0) * m(1, 2) * m(2, 1);
    return (row + col) % 2 == 0 ? det : -det;
}

void swap_rows(SquareMatrix& m, index_t i, index_t j) {
    auto row_i = m.row(i);
    auto row_j = m.row(j);
    std::swap_ranges(row_i.begin(), row_i.end(), row_j.begin());
}

// LU factorisation of m in place with partial pivoting: U on and above the
// diagonal, the unit lower triangle's multipliers below it. Row swaps are
// applied to x as well. False when a pivot is exactly 0.0.
bool factorise_with_pivoting(SquareMatrix& m, SquareMatrix& x) {
    const index_t n = m.size;
    CancellationCounter poll;
    for (index_t i = 0; i < n; ++i) {
        index_t pivot = i;
        for (index_t r = i + 1; r < n; ++r) {
            if (std::fabs(m.at(r, i)) > std::fabs(m.at(pivot, i))) {
                pivot = r;
            }
        }
        if (m.at(pivot, i) == 0.0) {
            return false;
        }
        if (pivot != i) {
            swap_rows(m, pivot, i);
            swap_rows(x, pivot, i);
        }
        const double reciprocal = 1.0 / m.at(i, i);
        for (index_t q = i + 1; q < n; ++q) {
            poll.tick(n - i);
            const double multiplier = m.at(q, i) * reciprocal;
            m.at(q, i) = multiplier;
            for (index_t s = i + 1; s < n; ++s) {
                const double product = m.at(i, s) * multiplier;
                m.at(q, s) = m.at(q, s) - product;
            }
        }
    }
    return true;
}

// Forward substitution with the unit lower triangle of m. Every column of x
// is independent, so updating whole rows keeps each column's operation order.
void substitute_forward(const SquareMatrix& m, SquareMatrix& x) {
    const index_t n = m.size;
    CancellationCounter poll;
    for (index_t i = 0; i + 1 < n; ++i) {
        for (index_t q = i + 1; q < n; ++q) {
            poll.tick(n);
            const double multiplier = m.at(q, i);
            for (index_t col = 0; col < n; ++col) {
                const double product = x.at(i, col) * multiplier;
                x.at(q, col) = x.at(q, col) - product;
            }
        }
    }
}

// Back substitution with the upper triangle U of m. False when a diagonal
// entry is exactly 0.0.
bool substitute_backward(const SquareMatrix& m, SquareMatrix& x) {
    const index_t n = m.size;
    CancellationCounter poll;
    for (index_t i = n; i-- > 0;) {
        const double diagonal = m.at(i, i);
        if (diagonal == 0.0) {
            return false;
        }
        for (index_t col = 0; col < n; ++col) {
            x.at(i, col) = x.at(i, col) / diagonal;
        }
        for (index_t q = 0; q < i; ++q) {
            poll.tick(n);
            const double factor = m.at(q, i);
            for (index_t col = 0; col < n; ++col) {
                const double product = x.at(i, col) * factor;
                x.at(q, col) = x.at(q, col) - product;
            }
        }
    }
    return true;
}

}  // namespace

std::optional<SquareMatrix> invert_by_cofactors(const SquareMatrix& a) {
    check(a.size == 4, "assertion failed: a.size == 4");
    SquareMatrix cofactors = SquareMatrix::zeros(4);
    for (index_t r = 0; r < 4; ++r) {
        for (index_t c = 0; c < 4; ++c) {
            cofactors.at(r, c) = cofactor(a, r, c);
        }
    }
    double det = a.at(0, 0) * cofactors.at(0, 0);
    for (index_t r = 1; r < 4; ++r) {
        det = det + a.at(r, 0) * cofactors.at(r, 0);
    }
    if (det == 0.0) {
        return std::nullopt;
    }
    const double reciprocal = 1.0 / det;
    SquareMatrix inverse = SquareMatrix::zeros(4);
    for (index_t r = 0; r < 4; ++r) {
        for (index_t c = 0; c < 4; ++c) {
            inverse.at(r, c) = cofactors.at(c, r) * reciprocal;
        }
    }
    return inverse;
}

std::optional<SquareMatrix> invert_by_elimination(const SquareMatrix& a) {
    SquareMatrix m{a.size, copy_vector(a.entries)};
    SquareMatrix x = SquareMatrix::identity(a.size);
    if (!factorise_with_pivoting(m, x)) {
        return std::nullopt;
    }
    substitute_forward(m, x);
    if (!substitute_backward(m, x)) {
        return std::nullopt;
    }
    return x;
}

}  // namespace pwpoly
