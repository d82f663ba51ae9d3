// Conversion of bound arguments to the module's three value kinds: float,
// unsigned 32-bit integer and sequence of floats.
#pragma once

#include <Python.h>

#include <algorithm>
#include <cstddef>
#include <string_view>
#include <vector>

#include "buffer_items.hpp"
#include "py_ref.hpp"
#include "python_error.hpp"
#include "support/cancellation.hpp"
#include "support/size_policy.hpp"

namespace pwpoly::binding {

/// float: the value of an exact float, else PyFloat_AsDouble (the object's
/// __float__, else __index__). NaN and infinities pass; a huge int fails with
/// the interpreter's OverflowError.
[[nodiscard]] inline double to_float(PyObject* object) {
    if (PyFloat_CheckExact(object)) {
        return PyFloat_AS_DOUBLE(object);
    }
    const double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred() != nullptr) {
        throw_python_error();
    }
    return value;
}

/// Unsigned 32-bit integer: an int (or subclass, bool included) directly,
/// anything else through __index__. A negative value or one of 2**64 or more
/// fails with the interpreter's OverflowError; 2**32 ... 2**64-1 fails with
/// OverflowError "out of range integral type conversion attempted".
[[nodiscard]] index_t to_index(PyObject* object);

/// collections.abc.Sequence, imported once per process (the module does it
/// while it initialises); a failed import is an internal failure.
[[nodiscard]] PyObject* sequence_class();

/// Refuses `str` and non-sequences as the sequence conversion does:
/// TypeError "Can't extract `str` to `Vec`" or the cast error naming
/// 'Sequence'.
void check_float_sequence(PyObject* object);

/// Converts a sequence of numbers item by item, in iteration order, passing
/// (index, value) to `sink`; returns the number of items. Before the first
/// item, a sink with a reserve(count) member learns the expected length (a
/// hint only: the items actually produced decide). Exact lists and
/// tuples are walked directly, re-reading the length at every step as their
/// iterators do; bytes, bytearray, memoryview, array.array and numpy.ndarray
/// objects (exactly these types) of a known item format are read from their
/// exported buffers (convert_buffer_items, which also states what a sink may
/// add to take runs of items or the whole buffer); other sequences go
/// through the iterator protocol. Each item
/// is converted as by to_float(); the first failure ends the conversion.
/// Every few thousand items the conversion polls for cancellation (Ctrl-C).
template <class Sink>
std::size_t convert_float_sequence(PyObject* object, Sink&& sink);

/// For sinks that keep only some items: fails with "capacity overflow" at the
/// item of index `index` when a vector of all items so far would not fit the
/// size policy, as the conversion into a vector would.
inline void check_sequence_length(std::size_t index) {
    constexpr std::size_t max_items = max_vector_bytes / sizeof(double);
    if (index >= max_items) [[unlikely]] {
        fail(std::string(capacity_overflow_message));
    }
}

/// The sequence conversion into a new vector of all items (size policy:
/// "capacity overflow" beyond 268435455 floats).
[[nodiscard]] std::vector<double> to_float_vector(PyObject* object);

/// The error to raise for a failed conversion of parameter `name`.
[[nodiscard]] PythonError wrap_argument_error(std::string_view name, const PythonError& error);

/// Runs `convert` on the argument of parameter `name`; a conversion error of
/// exact type TypeError becomes TypeError "argument '{name}': {message}"
/// (keeping the original's __cause__); any other error passes unchanged.
template <class Convert>
[[nodiscard, gnu::always_inline]] inline auto convert_argument(std::string_view name,
                                                               PyObject* object,
                                                               Convert&& convert) {
    try {
        return convert(object);
    } catch (const PythonError& error) {
        throw wrap_argument_error(name, error);
    }
}

// ---------------------------------------------------------------------------

namespace detail {
/// One item of a sequence as a float: exact floats and ints without a call
/// into Python code, anything else through to_float().
inline double item_to_float(PyObject* item) {
    if (PyFloat_CheckExact(item)) {
        return PyFloat_AS_DOUBLE(item);
    }
    if (PyLong_CheckExact(item)) {
        const double value = PyLong_AsDouble(item);
        if (value == -1.0 && PyErr_Occurred() != nullptr) {
            throw_python_error();
        }
        return value;
    }
    return to_float(item);
}

/// Clears the error of a failed __len__, except KeyboardInterrupt and
/// SystemExit (and their subclasses), which are thrown on.
void discard_length_error();

/// The conversion of a sequence that is neither an exact list nor an exact
/// tuple (see convert_float_sequence).
template <class Sink>
std::size_t convert_other_sequence(PyObject* object, Sink& sink) {
    constexpr bool reserves = requires(Sink& s) { s.reserve(std::size_t{}); };
    // The exact exporter types run no Python code while iterated: their
    // buffer holds the same items.
    if (BufferItems items; items.open(object)) {
        if constexpr (reserves) {
            sink.reserve(items.size());
        }
        return convert_buffer_items(items, sink);
    }
    // The length is only a hint; a failing __len__ is not an error, unless it
    // is the caller's way of stopping: Ctrl-C and sys.exit() pass through.
    const Py_ssize_t hint = PyObject_Size(object);
    if (hint < 0) {
        discard_length_error();
    } else if constexpr (reserves) {
        // Other sequences may overstate their length: reserve modestly.
        sink.reserve(std::min<std::size_t>(static_cast<std::size_t>(hint), 1U << 16));
    }
    PyRef iterator = PyRef::steal(PyObject_GetIter(object));
    if (!iterator) {
        throw_python_error();
    }
    std::size_t index = 0;
    CancellationCounter poll;
    while (PyRef item = PyRef::steal(PyIter_Next(iterator.get()))) {
        poll.tick();
        sink(index, item_to_float(item.get()));
        ++index;
    }
    if (PyErr_Occurred() != nullptr) {
        throw_python_error();
    }
    return index;
}
}  // namespace detail

template <class Sink>
std::size_t convert_float_sequence(PyObject* object, Sink&& sink) {
    check_float_sequence(object);
    constexpr bool reserves = requires(Sink& s) { s.reserve(std::size_t{}); };
    if (PyList_CheckExact(object)) {
        auto* list = reinterpret_cast<PyListObject*>(object);
        if constexpr (reserves) {
            sink.reserve(static_cast<std::size_t>(Py_SIZE(list)));
        }
        // The list iterator reads the length before every item, since the
        // __float__ of an item may change the list; so does this loop. Exact
        // floats run no Python code, so within a run of them the length and
        // the item array stay as they are. A cancellation poll may run Python
        // code too (a signal handler), so the list is read again after it.
        std::size_t index = 0;
        std::size_t next_poll = cancellation_interval;
        for (;;) {
            const auto size = static_cast<std::size_t>(Py_SIZE(list));
            PyObject* const* items = list->ob_item;
            const std::size_t stop = std::min(size, next_poll);
            while (index < stop && PyFloat_CheckExact(items[index])) {
                sink(index, PyFloat_AS_DOUBLE(items[index]));
                ++index;
            }
            if (index >= size) {
                return index;
            }
            if (index == next_poll) {
                poll_cancellation();
                next_poll += cancellation_interval;
                continue;
            }
            const PyRef held = PyRef::borrow(items[index]);
            sink(index, detail::item_to_float(held.get()));
            ++index;
        }
    }
    if (PyTuple_CheckExact(object)) {
        const auto count = static_cast<std::size_t>(PyTuple_GET_SIZE(object));
        if constexpr (reserves) {
            sink.reserve(count);
        }
        CancellationCounter poll;
        for (std::size_t index = 0; index < count; ++index) {
            poll.tick();
            sink(index,
                 detail::item_to_float(PyTuple_GET_ITEM(object, static_cast<Py_ssize_t>(index))));
        }
        return count;
    }
    return detail::convert_other_sequence(object, sink);
}

}  // namespace pwpoly::binding
