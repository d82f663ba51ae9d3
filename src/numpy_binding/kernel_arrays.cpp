// Taking hold of the arrays of a kernel call and converting its plain
// arguments.
#include "kernel_arrays.hpp"

#include <algorithm>
#include <cstring>
#include <limits>

#include "pending_error.hpp"

namespace pwpoly::numpy_binding {
namespace {

// numpy.ndarray, recorded at import; the module holds NumPy alive.
PyObject* array_type = nullptr;

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

void set_array_type(PyObject* type) noexcept {
    if (array_type == nullptr) {
        array_type = type;
    } else {
        Py_DECREF(type);
    }
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

void KernelArray::hold() {
    if (held_) {
        return;
    }
    export_buffer();
    if (view_.buf != buffer_ || static_cast<std::size_t>(view_.len) != length_) {
        release();
        PyErr_Format(PyExc_RuntimeError,
                     "pwpoly_numpy: the array of argument '%s' was resized or given new memory "
                     "while the call ran (by a signal handler or a finalizer); the call is "
                     "abandoned",
                     name_);
        throw PythonErrorPending{};
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
