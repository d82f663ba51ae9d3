// Reordering coefficient rows interval by interval: a plain copy whose reads
// run along the flat rows of each coefficient index in turn.
#include "batch/coefficient_order.hpp"

#include <algorithm>

#include "batch/batch_checks.hpp"

namespace pwpoly::batch {

void order_by_interval(const LegendreBasis& basis, std::size_t columns,
                       std::span<const double> flat, std::span<double> by_interval,
                       std::size_t first_interval, std::size_t last_interval) {
    const std::uint64_t per_interval = coefficients_per_interval(basis);
    check_buffer_sizes(columns >= 1 &&
                       product_equals(coefficient_count(basis), columns, flat.size()) &&
                       by_interval.size() == flat.size() && first_interval <= last_interval &&
                       last_interval <= basis.n_t);
    const std::size_t n_t = basis.n_t;
    const std::size_t row_values = columns;
    for (std::uint64_t i = 0; i < per_interval; ++i) {
        for (std::size_t k = first_interval; k < last_interval; ++k) {
            const std::size_t from = (k + n_t * i) * row_values;
            const std::size_t to = (k * per_interval + i) * row_values;
            std::copy_n(flat.begin() + static_cast<std::ptrdiff_t>(from), row_values,
                        by_interval.begin() + static_cast<std::ptrdiff_t>(to));
        }
    }
}

}  // namespace pwpoly::batch
