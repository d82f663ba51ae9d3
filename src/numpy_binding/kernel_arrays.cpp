// Taking hold of the arrays of a kernel call and converting its plain
// arguments.
#include "kernel_arrays.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>

#include "pending_error.hpp"

namespace pwpoly::numpy_binding {
namespace {

// numpy.ndarray, recorded at import; the module holds NumPy alive.
PyObject* array_type = nullptr;
// numpy.ndarray.base, a getset descriptor: read through its C getter, it gives
// the base of an array of any class without running Python code.
PyObject* base_descriptor = nullptr;
// Views of views that a check follows at most; NumPy collapses its own chains
// to one or two links.
constexpr int max_base_depth = 64;

// The bytes that a buffer's items span, [low, high); empty if it has none.
struct Extent {
    std::uintptr_t low;
    std::uintptr_t high;
};

Extent extent_of(const Py_buffer& view) {
    const auto start = reinterpret_cast<std::uintptr_t>(view.buf);
    if (view.strides == nullptr || view.shape == nullptr) {
        return {start, start + static_cast<std::uintptr_t>(view.len)};
    }
    std::intptr_t low = 0;
    std::intptr_t high = view.itemsize;
    for (int d = 0; d < view.ndim; ++d) {
        if (view.shape[d] == 0) {
            return {start, start};
        }
        const std::intptr_t reach = (view.shape[d] - 1) * view.strides[d];
        (reach < 0 ? low : high) += reach;
    }
    return {start + static_cast<std::uintptr_t>(low), start + static_cast<std::uintptr_t>(high)};
}

// Whether exporting `object`'s buffer runs no Python code: a built-in or
// extension type's export, or NumPy's own export inherited by an ndarray
// subclass defined in Python (one with __buffer__ is left unchecked).
bool exports_natively(PyObject* object) {
    PyTypeObject* type = Py_TYPE(object);
    if (type->tp_as_buffer == nullptr || type->tp_as_buffer->bf_getbuffer == nullptr) {
        return false;
    }
    if (!PyType_HasFeature(type, Py_TPFLAGS_HEAPTYPE)) {
        return true;
    }
    auto* const array = reinterpret_cast<PyTypeObject*>(array_type);
    return PyObject_TypeCheck(object, array) != 0 &&
           type->tp_as_buffer->bf_getbuffer == array->tp_as_buffer->bf_getbuffer;
}

// Whether a buffer's struct format names the element kind: "d" for float64,
// "i" for int32, "l" or "q" for int64 (an optional native-order '@' or '='
// first), with the item size to match.
bool format_matches(const Py_buffer& view, ElementKind kind) {
    const char* format = view.format == nullptr ? "B" : view.format;
    if (*format == '@' || *format == '=') {
        ++format;
    }
    switch (kind) {
        case ElementKind::float64:
            return std::strcmp(format, "d") == 0 && view.itemsize == 8;
        case ElementKind::int32:
            return std::strcmp(format, "i") == 0 && view.itemsize == 4;
        case ElementKind::int64:
            return (std::strcmp(format, "l") == 0 || std::strcmp(format, "q") == 0) &&
                   view.itemsize == 8;
    }
    return false;
}

}  // namespace

void set_array_type(PyObject* type) {
    binding::PyRef owned = binding::PyRef::steal(type);
    if (array_type != nullptr) {
        return;
    }
    binding::PyRef base = binding::PyRef::steal(PyObject_GetAttrString(type, "base"));
    if (!base) {
        throw PythonErrorPending{};
    }
    if (PyObject_TypeCheck(base.get(), &PyGetSetDescr_Type) == 0) {
        raise_python_error(PyExc_ImportError,
                           "pwpoly_numpy: numpy.ndarray.base is not the attribute NumPy defines");
    }
    array_type = owned.release();
    base_descriptor = base.release();
}

KernelArray::KernelArray(PyObject* object, ElementKind kind, bool writable, const char* name)
    : object_(binding::PyRef::borrow(object)), kind_(kind), writable_(writable), name_(name) {
    if (array_type == nullptr || Py_TYPE(object) != reinterpret_cast<PyTypeObject*>(array_type)) {
        PyErr_Format(PyExc_TypeError, "pwpoly_numpy kernel: argument '%s' must be a numpy.ndarray",
                     name);
        throw PythonErrorPending{};
    }
    export_buffer();
    buffer_ = view_.buf;
    length_ = static_cast<std::size_t>(view_.len);
    check_bases(true);
}

void KernelArray::export_buffer() {
    const int flags = PyBUF_C_CONTIGUOUS | PyBUF_FORMAT | (writable_ ? PyBUF_WRITABLE : 0);
    if (PyObject_GetBuffer(object_.get(), &view_, flags) < 0) {
        throw PythonErrorPending{};
    }
    held_ = true;
    if (!format_matches(view_, kind_)) {
        release();
        PyErr_Format(PyExc_TypeError, "pwpoly_numpy kernel: argument '%s' has the wrong dtype",
                     name_);
        throw PythonErrorPending{};
    }
}

void KernelArray::report_moved() const {
    PyErr_Format(PyExc_RuntimeError,
                 "pwpoly_numpy: the array of argument '%s' (or an array it is a view of) was "
                 "resized or given new memory while the call ran (by a signal handler or a "
                 "finalizer); the call is abandoned",
                 name_);
}

void KernelArray::hold() {
    if (held_) {
        return;
    }
    export_buffer();
    if (view_.buf != buffer_ || static_cast<std::size_t>(view_.len) != length_) {
        release();
        report_moved();
        throw PythonErrorPending{};
    }
    check_bases(false);
}

void KernelArray::check_bases(bool first) {
    if (length_ == 0) {
        return;
    }
    const auto low = reinterpret_cast<std::uintptr_t>(buffer_);
    const std::uintptr_t high = low + length_;
    const descrgetfunc get_base = Py_TYPE(base_descriptor)->tp_descr_get;
    auto* const array = reinterpret_cast<PyTypeObject*>(array_type);
    binding::PyRef current = binding::PyRef::borrow(object_.get());
    for (int depth = 0; depth < max_base_depth; ++depth) {
        binding::PyRef base = binding::PyRef::steal(
            get_base(base_descriptor, current.get(), reinterpret_cast<PyObject*>(array)));
        if (!base) {
            throw PythonErrorPending{};
        }
        if (base.get() == Py_None) {
            return;
        }
        const bool is_array = PyObject_TypeCheck(base.get(), array) != 0;
        bool covered = true;
        if (exports_natively(base.get())) {
            Py_buffer view{};
            if (PyObject_GetBuffer(base.get(), &view, PyBUF_STRIDES) == 0) {
                const Extent extent = extent_of(view);
                PyBuffer_Release(&view);
                covered = extent.low <= low && high <= extent.high;
            } else {
                // An array of a dtype with no buffer format cannot be
                // checked; any other object that no longer exports (a
                // released memoryview, a closed mmap) has let its memory go.
                PyErr_Clear();
                covered = is_array;
            }
        }
        if (!covered) {
            release();
            if (first) {
                PyErr_Format(PyExc_RuntimeError,
                             "pwpoly_numpy: the array of argument '%s' is a view of memory that "
                             "was freed or resized since the view was made (by ndarray.resize "
                             "with refcheck=False, ndarray.__setstate__ or a released buffer); "
                             "the call is refused",
                             name_);
            } else {
                report_moved();
            }
            throw PythonErrorPending{};
        }
        if (!is_array) {
            return;
        }
        current = std::move(base);
    }
}

void KernelArray::release() noexcept {
    if (held_) {
        held_ = false;
        PyBuffer_Release(&view_);
    }
}

LegendreBasis grid_arguments(PyObject* const* args) {
    const index_t degree = unsigned_argument(args[0]);
    const index_t n_t = unsigned_argument(args[1]);
    const double T = float_argument(args[2]);
    return {degree, n_t, T};
}

std::size_t work_of(std::uint64_t per_item, std::uint64_t count) noexcept {
    std::uint64_t work = 0;
    if (__builtin_mul_overflow(per_item, count, &work) ||
        work > std::numeric_limits<std::size_t>::max()) {
        return std::numeric_limits<std::size_t>::max();
    }
    return static_cast<std::size_t>(std::max<std::uint64_t>(work, 1));
}

index_t unsigned_argument(PyObject* object) {
    const unsigned long value = PyLong_AsUnsignedLong(object);
    if (value == static_cast<unsigned long>(-1) && PyErr_Occurred() != nullptr) {
        throw PythonErrorPending{};
    }
    if (value > std::numeric_limits<index_t>::max()) {
        raise_python_error(PyExc_OverflowError, "out of range integral type conversion attempted");
    }
    return static_cast<index_t>(value);
}

std::size_t size_argument(PyObject* object) {
    const std::size_t value = PyLong_AsSize_t(object);
    if (value == static_cast<std::size_t>(-1) && PyErr_Occurred() != nullptr) {
        throw PythonErrorPending{};
    }
    return value;
}

double float_argument(PyObject* object) {
    if (!PyFloat_CheckExact(object)) {
        raise_python_error(PyExc_TypeError,
                           "pwpoly_numpy kernel: a float argument must be a float");
    }
    return PyFloat_AS_DOUBLE(object);
}

bool bool_argument(PyObject* object) {
    if (object != Py_True && object != Py_False) {
        raise_python_error(PyExc_TypeError, "pwpoly_numpy kernel: a flag must be True or False");
    }
    return object == Py_True;
}

void check_argument_count(const char* name, Py_ssize_t given, Py_ssize_t expected) {
    if (given != expected) {
        PyErr_Format(PyExc_TypeError, "%s() takes %zd positional arguments but %zd were given",
                     name, expected, given);
        throw PythonErrorPending{};
    }
}

void require(bool condition, const char* name, const char* problem) {
    if (!condition) {
        PyErr_Format(PyExc_ValueError, "%s: %s", name, problem);
        throw PythonErrorPending{};
    }
}

}  // namespace pwpoly::numpy_binding
