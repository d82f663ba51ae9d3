// Conversion of bound arguments, and the wrapping of conversion errors with
// the parameter's name.
#include "converters.hpp"

#include "object_text.hpp"
#include "once_cell.hpp"
#include "support/failure.hpp"
#include "support/text.hpp"

namespace pwpoly::binding {
namespace {

constexpr unsigned long long max_index = 4294967295ULL;

OnceCell sequence_class_cell;

// A vector sink that keeps the size policy while it grows.
struct VectorSink {
    std::vector<double>& values;
    void reserve(std::size_t count) {
        values.reserve(std::min<std::size_t>(count, max_vector_bytes / sizeof(double)));
    }
    void operator()(std::size_t /*index*/, double value) { push_checked(values, value); }
};

}  // namespace

PyObject* sequence_class() {
    return sequence_class_cell.get_or_init([] {
        PyRef module = PyRef::steal(PyImport_ImportModule("collections.abc"));
        PyRef sequence =
            module ? PyRef::steal(PyObject_GetAttrString(module.get(), "Sequence")) : PyRef();
        if (!sequence) {
            const PythonError error = fetch_python_error();
            fail(concat("failed to import collections.abc.Sequence: ", text_of(error.exception())));
        }
        return sequence;
    });
}

index_t to_index(PyObject* object) {
    unsigned long long value = 0;
    if (PyLong_Check(object)) {
        value = PyLong_AsUnsignedLongLong(object);
    } else {
        PyRef index = PyRef::steal(PyNumber_Index(object));
        if (!index) {
            throw_python_error();
        }
        value = PyLong_AsUnsignedLongLong(index.get());
    }
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred() != nullptr) {
        throw_python_error();
    }
    if (value > max_index) {
        throw_new_python_error(PyExc_OverflowError,
                               "out of range integral type conversion attempted");
    }
    return static_cast<index_t>(value);
}

void check_float_sequence(PyObject* object) {
    if (PyUnicode_Check(object)) {
        throw_new_python_error(PyExc_TypeError, "Can't extract `str` to `Vec`");
    }
    if (PySequence_Check(object) == 0) {
        PyObject* sequence = sequence_class();
        throw_new_python_error(
            PyExc_TypeError,
            cast_error_message(object, qualified_name(reinterpret_cast<PyTypeObject*>(sequence))));
    }
}

std::vector<double> to_float_vector(PyObject* object) {
    std::vector<double> values;
    convert_float_sequence(object, VectorSink{values});
    return values;
}

namespace detail {
void discard_length_error() {
    if (PyErr_ExceptionMatches(PyExc_KeyboardInterrupt) != 0 ||
        PyErr_ExceptionMatches(PyExc_SystemExit) != 0) {
        throw_python_error();
    }
    PyErr_Clear();
}
}  // namespace detail

PythonError wrap_argument_error(std::string_view name, const PythonError& error) {
    if (error.type() != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) {
        return error;
    }
    PythonError wrapped = make_python_error(
        PyExc_TypeError, concat("argument '", name, "': ", text_of(error.exception())));
    // The new error takes over the original's cause, not the original itself.
    PyException_SetCause(wrapped.exception(), PyException_GetCause(error.exception()));
    return wrapped;
}

}  // namespace pwpoly::binding
