// The constructor arguments shared by both classes: degree, n_t and T.
#pragma once

#include <Python.h>

#include <array>
#include <string_view>

#include "binder.hpp"
#include "converters.hpp"
#include "legendre/legendre_basis.hpp"

namespace pwpoly::binding {

/// The parameters of both constructors, in declaration order.
inline constexpr std::array<std::string_view, 3> grid_parameters = {"degree", "n_t", "T"};

/// Binds a constructor call (argument tuple and keyword dict) and converts
/// `degree`, then `n_t` (unsigned 32-bit), then `T` (float) into the grid.
[[nodiscard]] inline LegendreBasis grid_arguments(const FunctionDescription& constructor,
                                                  PyObject* args, PyObject* kwargs) {
    const auto bound = bind_tuple_and_dict<3>(constructor, args, kwargs);
    const index_t degree = convert_argument("degree", bound[0], to_index);
    const index_t n_t = convert_argument("n_t", bound[1], to_index);
    const double T = convert_argument("T", bound[2], to_float);
    return LegendreBasis{degree, n_t, T};
}

}  // namespace pwpoly::binding
