// The arrays of a kernel call, taken hold of only while a kernel runs, and the
// plain arguments beside them.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <span>

#include "legendre/legendre_basis.hpp"
#include "py_ref.hpp"
#include "support/size_policy.hpp"

namespace pwpoly::numpy_binding {

/// Element kinds of the arrays the kernels read or fill.
enum class ElementKind { float64, int32, int64 };

/// An array argument of a kernel: a C-contiguous numpy.ndarray (exactly that
/// type, whose buffer export runs no Python code) of one element kind, held by
/// a strong reference. Its memory is taken hold of through the buffer
/// protocol (hold) while a kernel reads or fills it, and let go (release)
/// before any Python code runs: NumPy does not keep an exported array from
/// being resized or given new memory, so no pointer into it may live across
/// Python code. Each hold after the first checks that the array still has the
/// memory, size and layout of the first; every hold checks that each object
/// the array is a view of (its chain of bases) still has memory that covers
/// the array's, since a view keeps its pointer when the memory under it is
/// freed. Hold and release need the lock.
class KernelArray {
public:
    /// Checks and holds `object`; throws PythonErrorPending with TypeError
    /// naming `name` unless it is a C-contiguous ndarray of `kind` elements
    /// (and writable, if asked).
    KernelArray(PyObject* object, ElementKind kind, bool writable, const char* name);
    ~KernelArray() { release(); }
    KernelArray(const KernelArray&) = delete;
    KernelArray& operator=(const KernelArray&) = delete;
    KernelArray(KernelArray&&) = delete;
    KernelArray& operator=(KernelArray&&) = delete;

    /// Takes hold of the memory again; throws PythonErrorPending with
    /// RuntimeError naming the argument if the array has other memory, size
    /// or layout than at the first hold.
    void hold();
    /// Lets go of the memory (nothing if not held).
    void release() noexcept;

    /// The elements, as `T` (double, std::int32_t or std::int64_t, matching
    /// the kind): the memory of the first hold, to be used only while held.
    template <class T>
    [[nodiscard]] std::span<T> elements() const {
        return {static_cast<T*>(buffer_), length_ / sizeof(T)};
    }

private:
    void export_buffer();
    void check_bases(bool first);
    void report_moved() const;

    binding::PyRef object_;
    ElementKind kind_;
    bool writable_;
    const char* name_;
    Py_buffer view_{};
    bool held_ = false;
    void* buffer_ = nullptr;
    std::size_t length_ = 0;
};

/// Records numpy.ndarray, the only type a kernel takes arrays of, taking over
/// the reference (the first one recorded is kept for the process), and the
/// descriptor of its `base` attribute; called at import, with the lock held.
/// Throws PythonErrorPending if the descriptor cannot be had.
void set_array_type(PyObject* type);

/// None, the result of every kernel entry.
[[nodiscard]] inline binding::PyRef none() { return binding::PyRef::borrow(Py_None); }

/// The grid of positional arguments 0, 1 and 2: degree, n_t (unsigned) and
/// T (a float).
[[nodiscard]] LegendreBasis grid_arguments(PyObject* const* args);

/// Terms of work of `count` items of `per_item` terms each, at least 1,
/// saturating (the measure of KernelRun::over).
[[nodiscard]] std::size_t work_of(std::uint64_t per_item, std::uint64_t count = 1) noexcept;

/// An unsigned 32-bit argument (a Python int); throws PythonErrorPending with
/// OverflowError or TypeError otherwise.
[[nodiscard]] index_t unsigned_argument(PyObject* object);

/// A count (a non-negative Python int).
[[nodiscard]] std::size_t size_argument(PyObject* object);

/// A float argument: exactly a float (the package converts numbers first).
[[nodiscard]] double float_argument(PyObject* object);

/// A flag: exactly True or False.
[[nodiscard]] bool bool_argument(PyObject* object);

/// Throws PythonErrorPending with TypeError unless a call got `expected`
/// positional arguments.
void check_argument_count(const char* name, Py_ssize_t given, Py_ssize_t expected);

/// Throws PythonErrorPending with ValueError "{name}: {problem}" unless
/// `condition` holds: the kernels' own checks of what the Python layer passes.
void require(bool condition, const char* name, const char* problem);

}  // namespace pwpoly::numpy_binding
