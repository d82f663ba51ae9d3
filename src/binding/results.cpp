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

ListBuilder::ListBuilder(std::size_t count)
    : list_(PyRef::steal(PyList_New(static_cast<Py_ssize_t>(count)))) {
    if (!list_) {
        fail_python_api_call();
    }
    PyObject_GC_UnTrack(list_.get());
}

PyRef ListBuilder::finish() noexcept {
    PyObject_GC_Track(list_.get());
    return std::move(list_);
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
