// The memory layout of the module's instances: the object header, the hold
// counter and the C++ record the instance wraps, constructed in place.
#pragma once

#include <Python.h>

#include <new>
#include <utility>

#include "entry_guard.hpp"
#include "holds.hpp"
#include "py_ref.hpp"
#include "python_error.hpp"

namespace pwpoly::binding {

/// An instance of one of the module's classes, wrapping `Record` by value.
template <class Record>
struct Instance {
    PyObject ob_base;  // what PyObject_HEAD expands to
    HoldCounter holds;
    Record record;
};

/// Allocates an instance of `type` with the type's allocator and moves
/// `record` into it.
template <class Record>
[[nodiscard]] PyRef new_instance(PyTypeObject* type, Record&& record) {
    PyObject* object = type->tp_alloc(type, 0);
    if (object == nullptr) {
        throw_python_error();
    }
    auto* instance = reinterpret_cast<Instance<std::decay_t<Record>>*>(object);
    new (&instance->holds) HoldCounter();
    new (&instance->record) std::decay_t<Record>(std::forward<Record>(record));
    return PyRef::steal(object);
}

/// tp_dealloc: releases what the record owns, then frees the instance with
/// its type's free function and drops the instance's reference to its type.
template <class Record>
void deallocate_instance(PyObject* self) noexcept {
    deallocation_guard([self] {
        auto* instance = reinterpret_cast<Instance<Record>*>(self);
        instance->record.~Record();
        instance->holds.~HoldCounter();
        PyTypeObject* type = Py_TYPE(self);
        type->tp_free(self);
        Py_DECREF(type);
    });
}

}  // namespace pwpoly::binding
