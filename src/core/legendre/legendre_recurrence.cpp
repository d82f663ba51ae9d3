// The Legendre recurrence, one rounded operation per line.
#include "legendre/legendre_recurrence.hpp"

#include <cstddef>

#include "legendre/legendre_basis.hpp"

namespace pwpoly {

void LegendreRecurrence::advance() {
    if (n_ == 0.0) {
        previous_ = current_;
        current_ = xi_;
        n_ = 1.0;
        return;
    }
    // P_{n+1} = (((2n + 1) * xi) * P_n - P_{n-1} * n) / (n + 1), in this association.
    const double odd = legendre_odd_factor(n_);
    double u = odd * xi_;
    u = u * current_;
    const double v = previous_ * n_;
    const double numerator = u - v;
    const double next_degree = n_ + 1.0;
    const double next = numerator / next_degree;

    previous_ = current_;
    current_ = next;
    n_ = next_degree;
}

void legendre_values(double xi, std::span<double> out) {
    LegendreRecurrence recurrence(xi);
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (i != 0) {
            recurrence.advance();
        }
        out[i] = recurrence.value();
    }
}

std::vector<double> legendre_values(double xi, index_t degree) {
    std::vector<double> values = make_vector<double>(std::uint64_t{degree} + 1, 0.0);
    legendre_values(xi, std::span<double>(values));
    return values;
}

}  // namespace pwpoly
