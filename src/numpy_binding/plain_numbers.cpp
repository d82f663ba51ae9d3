// The scan that tells whether NumPy converts a nested list of numbers exactly
// as pwpoly converts its items.
#include <Python.h>

#include "kernel_arrays.hpp"
#include "kernel_entries.hpp"
#include "kernel_guard.hpp"
#include "py_ref.hpp"
#include "support/cancellation.hpp"

namespace pwpoly::numpy_binding {
namespace {

// NumPy allows no more dimensions than this.
constexpr int deepest_nesting = 64;

// Whether NumPy's conversion of `item` to float64 gives the value pwpoly's
// float conversion gives, or refuses it as pwpoly does: anything but a
// subclass of float or int defined in Python, whose __float__ may differ
// from the value that NumPy reads (NumPy's own scalar types are static types,
// and so are float, int and bool).
bool plain_item(PyObject* item) {
    if (!PyFloat_Check(item) && !PyLong_Check(item)) {
        return true;
    }
    return !PyType_HasFeature(Py_TYPE(item), Py_TPFLAGS_HEAPTYPE);
}

// Walks lists and tuples, each held while it is walked. Every few thousand
// items the signal handlers run (they may change the lists: the size and the
// items are read afresh after each of them).
bool plain_numbers(PyObject* object, int depth, CancellationCounter& poll) {
    if (!PyList_CheckExact(object) && !PyTuple_CheckExact(object)) {
        return plain_item(object);
    }
    if (depth == deepest_nesting) {
        return false;
    }
    const binding::PyRef held = binding::PyRef::borrow(object);
    for (Py_ssize_t i = 0;; ++i) {
        poll.tick();
        if (i >= PySequence_Fast_GET_SIZE(object)) {
            break;
        }
        const binding::PyRef item = binding::PyRef::borrow(PySequence_Fast_ITEMS(object)[i]);
        if (!plain_numbers(item.get(), depth + 1, poll)) {
            return false;
        }
    }
    return true;
}

}  // namespace

// plain_numbers(object)
PyObject* plain_numbers_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs) {
    return kernel_entry([&] {
        check_argument_count("plain_numbers", nargs, 1);
        CancellationCounter poll;
        return binding::PyRef::borrow(plain_numbers(args[0], 0, poll) ? Py_True : Py_False);
    });
}

}  // namespace pwpoly::numpy_binding
