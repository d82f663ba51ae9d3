// The Legendre recurrence, one rounded operation per line.
#include "legendre/legendre_recurrence.hpp"

#include <cstddef>

#include "legendre/legendre_basis.hpp"

namespace pwpoly {

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
