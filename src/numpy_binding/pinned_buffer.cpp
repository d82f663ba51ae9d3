// Pinning the arrays of a call and converting its plain arguments.
#include "pinned_buffer.hpp"

#include <cstring>
#include <limits>

#include "pending_error.hpp"

namespace pwpoly::numpy_binding {
namespace {

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

PinnedBuffer::PinnedBuffer(PyObject* object, ElementKind kind, bool writable) {
    const int flags = PyBUF_C_CONTIGUOUS | PyBUF_FORMAT | (writable ? PyBUF_WRITABLE : 0);
    if (PyObject_GetBuffer(object, &view_, flags) < 0) {
        throw PythonErrorPending{};
    }
    if (!format_matches(view_, kind)) {
        PyBuffer_Release(&view_);
        raise_python_error(PyExc_TypeError, "pwpoly_numpy kernel: array of the wrong type");
    }
}

PinnedBuffer::~PinnedBuffer() { PyBuffer_Release(&view_); }

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
    const double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred() != nullptr) {
        throw PythonErrorPending{};
    }
    return value;
}

bool bool_argument(PyObject* object) {
    const int value = PyObject_IsTrue(object);
    if (value < 0) {
        throw PythonErrorPending{};
    }
    return value != 0;
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
