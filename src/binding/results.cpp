// Conversion of operation results to new Python objects.
#include "results.hpp"

namespace pwpoly::binding {

PyRef text_result(std::string_view text) {
    PyRef result = PyRef::steal(
        PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    if (!result) {
        fail_python_api_call();
    }
    return result;
}

PyRef new_list(std::size_t count) {
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(count)));
    if (!list) {
        fail_python_api_call();
    }
    return list;
}

PyRef float_list_result(std::span<const double> values) {
    PyRef list = new_list(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), float_result(values[i]).release());
    }
    return list;
}

PyRef index_list_result(std::span<const index_t> values) {
    PyRef list = new_list(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        PyObject* item = PyLong_FromUnsignedLong(values[i]);
        if (item == nullptr) {
            fail_python_api_call();
        }
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list;
}

PyRef tuple_result(PyRef first, PyRef second, PyRef third) {
    PyRef tuple = PyRef::steal(PyTuple_New(3));
    if (!tuple) {
        fail_python_api_call();
    }
    PyTuple_SET_ITEM(tuple.get(), 0, first.release());
    PyTuple_SET_ITEM(tuple.get(), 1, second.release());
    PyTuple_SET_ITEM(tuple.get(), 2, third.release());
    return tuple;
}

}  // namespace pwpoly::binding
