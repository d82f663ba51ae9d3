// What the module holds: its functions and classes, in the order in which
// they are added to it.
#pragma once

#include <Python.h>

#include <array>

#include "class_object.hpp"

namespace pwpoly::binding {

extern PyMethodDef sum_as_string_method;
extern PyMethodDef lagrange_to_legendre_basis_transformation_method;
extern PyMethodDef get_lagrange_points_method;

extern const ClassDefinition legendre_basis_class;
extern const ClassDefinition legendre_basis_evaluator_class;

/// The class objects, created on first use; the receiver checks use them.
[[nodiscard]] PyTypeObject* legendre_basis_type();
[[nodiscard]] PyTypeObject* legendre_basis_evaluator_type();

/// The module functions, in order of addition.
inline const std::array<PyMethodDef*, 3> module_functions = {
    &sum_as_string_method,
    &lagrange_to_legendre_basis_transformation_method,
    &get_lagrange_points_method,
};

/// The classes, added after the functions, in this order.
inline const std::array<const ClassDefinition*, 2> module_classes = {
    &legendre_basis_class,
    &legendre_basis_evaluator_class,
};

}  // namespace pwpoly::binding
