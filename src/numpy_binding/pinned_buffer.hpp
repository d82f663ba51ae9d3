// Arrays passed in by the Python layer, pinned through the buffer protocol for
// the length of a call, and the plain arguments beside them.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <span>

#include "support/size_policy.hpp"

namespace pwpoly::numpy_binding {

/// Element kinds of the arrays the kernels read or fill.
enum class ElementKind { float64, int32, int64 };

/// The memory of a C-contiguous array of one element kind, held through the
/// buffer protocol: its owner can neither free nor resize it until this is
/// destroyed (with the interpreter lock held). The Python layer passes arrays
/// it made for the call, which no other code can reach.
class PinnedBuffer {
public:
    /// Pins `object`; throws PythonErrorPending with TypeError unless it is a
    /// C-contiguous buffer of `kind` elements (and writable, if asked).
    PinnedBuffer(PyObject* object, ElementKind kind, bool writable);
    ~PinnedBuffer();
    PinnedBuffer(const PinnedBuffer&) = delete;
    PinnedBuffer& operator=(const PinnedBuffer&) = delete;
    PinnedBuffer(PinnedBuffer&&) = delete;
    PinnedBuffer& operator=(PinnedBuffer&&) = delete;

    /// The elements, as `T` (double, std::int32_t or std::int64_t, matching
    /// the kind it was pinned with).
    template <class T>
    [[nodiscard]] std::span<T> elements() const {
        return {static_cast<T*>(view_.buf), static_cast<std::size_t>(view_.len) / sizeof(T)};
    }

private:
    Py_buffer view_{};
};

/// An unsigned 32-bit argument (a Python int); throws PythonErrorPending with
/// OverflowError or TypeError otherwise.
[[nodiscard]] index_t unsigned_argument(PyObject* object);

/// A count (a non-negative Python int).
[[nodiscard]] std::size_t size_argument(PyObject* object);

/// A float argument (PyFloat_AsDouble).
[[nodiscard]] double float_argument(PyObject* object);

/// A truth value (PyObject_IsTrue).
[[nodiscard]] bool bool_argument(PyObject* object);

/// Throws PythonErrorPending with TypeError unless a call got `expected`
/// positional arguments.
void check_argument_count(const char* name, Py_ssize_t given, Py_ssize_t expected);

/// Throws PythonErrorPending with ValueError "{name}: {problem}" unless
/// `condition` holds: the kernels' own checks of what the Python layer passes.
void require(bool condition, const char* name, const char* problem);

}  // namespace pwpoly::numpy_binding
