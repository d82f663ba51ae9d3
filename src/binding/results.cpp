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

namespace {

// Items of a list abandoned for an interruption beyond which its release
// waits until the call has returned: releasing millions of new floats takes
// tens of milliseconds, which a caller who pressed Ctrl-C should not wait
// for. A list abandoned for any other failure is released at once: when the
// failure is a MemoryError, the handler that catches it needs that memory.
constexpr std::size_t release_later_items = std::size_t{1} << 16;

int release_list(void* list) {
    Py_DECREF(static_cast<PyObject*>(list));
    return 0;
}

}  // namespace

ListBuilder::~ListBuilder() {
    if (!list_) {
        return;
    }
    // The list's deallocation visits every slot up to its size; the empty
    // tail (pages of a long list not even touched yet) is cut off first.
    Py_SET_SIZE(reinterpret_cast<PyVarObject*>(list_.get()), static_cast<Py_ssize_t>(filled_));
    // A long one abandoned for an interruption is released by the
    // interpreter as soon as it can run pending calls, after the exception
    // of this call has been delivered.
    if (filled_ > release_later_items && PythonInterrupt::in_flight() &&
        Py_AddPendingCall(&release_list, list_.get()) == 0) {
        (void)list_.release();
    }
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
