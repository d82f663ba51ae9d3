// What the module holds: its functions and classes, in the order in which
// they are added to it.
#pragma once

#include <Python.h>

#include <array>

#include "class_object.hpp"

namespace pwpoly::binding {

extern PyMethodDef sum_as_string_method;

/// The module functions, in order of addition.
inline const std::array<PyMethodDef*, 1> module_functions = {
    &sum_as_string_method,
};

/// The classes, added after the functions, in this order.
inline const std::array<const ClassDefinition*, 0> module_classes = {};

}  // namespace pwpoly::binding
