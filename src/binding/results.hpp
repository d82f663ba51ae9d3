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

/// A new list of `count` slots, filled by the caller, hidden from the garbage
/// collector until finish(): Python code can run while a long list is being
/// filled (a signal handler called by a cancellation poll, or a finalizer),
/// and it must not reach a list whose slots are still empty through
/// gc.get_objects(). Slots are filled in order. Released with the items set
/// so far if never finished, at a cost that grows with those items only, not
/// with the length of the list.
class ListBuilder {
public:
    explicit ListBuilder(std::size_t count);
    ListBuilder(const ListBuilder&) = delete;
    ListBuilder& operator=(const ListBuilder&) = delete;
    ListBuilder(ListBuilder&&) = delete;
    ListBuilder& operator=(ListBuilder&&) = delete;
    ~ListBuilder();

    /// Puts `item` (a new reference, taken over) into the empty slot `index`.
    void set(std::size_t index, PyObject* item) noexcept {
        PyList_SET_ITEM(list_.get(), static_cast<Py_ssize_t>(index), item);
        filled_ = index + 1;
    }
    /// The item in slot `index` (borrowed), NULL while the slot is empty.
    [[nodiscard]] PyObject* item(std::size_t index) const noexcept {
        return PyList_GET_ITEM(list_.get(), static_cast<Py_ssize_t>(index));
    }
    /// Replaces the item in slot `index` by `item` (taken over).
    void replace(std::size_t index, PyObject* item) noexcept {
        PyObject* previous = this->item(index);
        set(index, item);
        Py_XDECREF(previous);
    }
    /// The complete list, visible to the collector again.
    [[nodiscard]] PyRef finish() noexcept;

private:
    PyRef list_;
    // Slots before this one may hold items; none after it does.
    std::size_t filled_ = 0;
};

/// A new 3-tuple taking over three results, in order.
[[nodiscard]] PyRef tuple_result(PyRef first, PyRef second, PyRef third);

/// None.
[[nodiscard]] inline PyRef none_result() noexcept { return PyRef::borrow(Py_None); }

}  // namespace pwpoly::binding
