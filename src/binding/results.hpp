// Conversion of operation results to new Python objects. An interpreter call
// that returns NULL here is the internal failure "Python API call failed".
#pragma once

#include <Python.h>

#include <span>
#include <string_view>

#include "py_ref.hpp"
#include "python_error.hpp"
#include "support/size_policy.hpp"

namespace pwpoly::binding {

/// A new float.
[[nodiscard]] inline PyRef float_result(double value) {
    PyRef result = PyRef::steal(PyFloat_FromDouble(value));
    if (!result) {
        fail_python_api_call();
    }
    return result;
}

/// A new str from UTF-8 text.
[[nodiscard]] PyRef text_result(std::string_view text);

/// A new list of `count` slots, to be filled in order with PyList_SET_ITEM.
[[nodiscard]] PyRef new_list(std::size_t count);

/// A new list of floats, in vector order.
[[nodiscard]] PyRef float_list_result(std::span<const double> values);

/// A new list of ints, in vector order.
[[nodiscard]] PyRef index_list_result(std::span<const index_t> values);

/// A new 3-tuple taking over three results, in order.
[[nodiscard]] PyRef tuple_result(PyRef first, PyRef second, PyRef third);

/// None.
[[nodiscard]] inline PyRef none_result() noexcept { return PyRef::borrow(Py_None); }

}  // namespace pwpoly::binding
