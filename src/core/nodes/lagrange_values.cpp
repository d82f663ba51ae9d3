// Lagrange basis values in the first barycentric form, with scaled products.
#include "nodes/lagrange_values.hpp"

#include <cmath>
#include <cstddef>

#include "support/cancellation.hpp"

namespace pwpoly {
namespace {

// A product kept as mantissa * 2^exponent, the mantissa renormalised after
// every factor (frexp and ldexp are exact).
struct ScaledProduct {
    double mantissa = 1.0;
    int exponent = 0;

    void multiply(double factor) {
        int shift = 0;
        mantissa = std::frexp(mantissa * factor, &shift);
        exponent += shift;
    }
};

}  // namespace

BarycentricWeights barycentric_weights(std::span<const double> nodes) {
    const std::size_t count = nodes.size();
    BarycentricWeights weights{std::vector<double>(count), std::vector<int>(count)};
    CancellationCounter poll;
    for (std::size_t c = 0; c < count; ++c) {
        poll.tick(count);
        ScaledProduct product;
        for (std::size_t j = 0; j < count; ++j) {
            if (j != c) {
                const double difference = nodes[c] - nodes[j];
                product.multiply(difference + difference);
            }
        }
        weights.mantissas[c] = 1.0 / product.mantissa;
        weights.exponents[c] = -product.exponent;
    }
    return weights;
}

void lagrange_basis_values(std::span<const double> nodes, const BarycentricWeights& weights,
                           double y, std::span<double> out) {
    const std::size_t count = nodes.size();
    ScaledProduct product;
    for (std::size_t j = 0; j < count; ++j) {
        const double difference = y - nodes[j];
        if (difference == 0.0) {
            for (std::size_t c = 0; c < count; ++c) {
                out[c] = c == j ? 1.0 : 0.0;
            }
            return;
        }
        product.multiply(difference + difference);
    }
    // l(y) weight_c / (y - x_c): the doubled differences of l(y) (count of
    // them) and of the weight (count - 1) leave one factor 2, which the
    // doubled (y - x_c) cancels.
    for (std::size_t c = 0; c < count; ++c) {
        const double difference = y - nodes[c];
        const double scaled = (product.mantissa * weights.mantissas[c]) / (difference + difference);
        out[c] = std::ldexp(scaled, product.exponent + weights.exponents[c]);
    }
}

}  // namespace pwpoly
