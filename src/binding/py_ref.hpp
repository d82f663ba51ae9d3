// A small move-only owning handle for PyObject*, so that every early return
// and every exception releases what it holds.
#pragma once

#include <Python.h>

#include <utility>

namespace pwpoly::binding {

/// Returns a new strong reference to `object` (Py_NewRef is missing before 3.10).
inline PyObject* new_ref(PyObject* object) noexcept {
    Py_INCREF(object);
    return object;
}

/// Owns one strong reference, or nothing. No implicit conversions: `get()`
/// lends the pointer, `release()` hands the reference over.
class PyRef {
public:
    PyRef() noexcept = default;
    PyRef(const PyRef&) = delete;
    PyRef& operator=(const PyRef&) = delete;
    PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    PyRef& operator=(PyRef&& other) noexcept {
        PyRef old(std::move(*this));
        object_ = std::exchange(other.object_, nullptr);
        return *this;
    }
    ~PyRef() { Py_XDECREF(object_); }

    /// Takes over a reference the caller owns (which may be NULL).
    [[nodiscard]] static PyRef steal(PyObject* object) noexcept { return PyRef(object); }
    /// Takes a new reference to a borrowed object (which may be NULL).
    [[nodiscard]] static PyRef borrow(PyObject* object) noexcept {
        Py_XINCREF(object);
        return PyRef(object);
    }

    [[nodiscard]] PyObject* get() const noexcept { return object_; }
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(object_, nullptr); }
    [[nodiscard]] explicit operator bool() const noexcept { return object_ != nullptr; }

private:
    explicit PyRef(PyObject* object) noexcept : object_(object) {}
    PyObject* object_ = nullptr;
};

}  // namespace pwpoly::binding
