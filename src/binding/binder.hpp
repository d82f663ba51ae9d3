// The one argument binder: matches positional and keyword arguments of a call
// to the declared parameters of a callable, for both calling conventions.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "py_ref.hpp"

namespace pwpoly::binding {

/// The static description of one callable. Every parameter is required and
/// may be given by position or by keyword; there are no defaults, no *args
/// and no **kwargs.
struct FunctionDescription {
    /// The class of a constructor or method; empty for module functions.
    std::string_view class_name;
    /// The Python name; constructors use "__new__".
    std::string_view function_name;
    /// All parameters in declaration order.
    std::span<const std::string_view> parameters;

    /// "{class}.{function}()" or "{function}()", as messages name the callable.
    [[nodiscard]] std::string full_name() const;
};

/// One slot per parameter of a vector call: a borrowed reference to the
/// argument, valid for the duration of the call. Borrowed is enough here: the
/// vector-call protocol has the caller own the argument array and every
/// reference in it until the call returns (a call made from a dictionary of
/// keywords unpacks it into a new array of new references first), and Python
/// code that a conversion runs cannot reach that array.
template <std::size_t Count>
using BoundArguments = std::array<PyObject*, Count>;

/// One slot per parameter of a call made with an argument tuple and a keyword
/// dictionary (the constructors), each holding a strong reference from
/// binding until the call returns. Strong, because the dictionary is the
/// caller's own mutable object: the __index__ of one argument may clear it,
/// and with it the only references to the others.
template <std::size_t Count>
class HeldArguments {
public:
    HeldArguments() noexcept = default;
    HeldArguments(const HeldArguments&) = delete;
    HeldArguments& operator=(const HeldArguments&) = delete;
    HeldArguments(HeldArguments&& other) noexcept : slots_(std::exchange(other.slots_, {})) {}
    HeldArguments& operator=(HeldArguments&&) = delete;
    ~HeldArguments() {
        for (PyObject* argument : slots_) {
            Py_XDECREF(argument);
        }
    }

    /// The argument of parameter `i`.
    [[nodiscard]] PyObject* operator[](std::size_t i) const noexcept { return slots_[i]; }

    /// The slots, for the binder to fill.
    [[nodiscard]] std::span<PyObject*> slots() noexcept { return slots_; }

private:
    std::array<PyObject*, Count> slots_{};
};

/// Binds a vector call (`args` holds `nargs` positional arguments followed by
/// the values of the keywords named in `kwnames`, which may be NULL), storing
/// borrowed references. Throws a PythonError (TypeError) with the binding
/// messages on a mismatch.
void bind_vectorcall(const FunctionDescription& description, PyObject* const* args,
                     Py_ssize_t nargs, PyObject* kwnames, std::span<PyObject*> slots);

/// Binds a call given as an argument tuple and an optional keyword dict,
/// storing a new reference in each slot it fills (the slots filled before a
/// mismatch stay filled, for their owner to release).
void bind_tuple_and_dict(const FunctionDescription& description, PyObject* args, PyObject* kwargs,
                         std::span<PyObject*> slots);

template <std::size_t Count>
[[nodiscard]] BoundArguments<Count> bind_vectorcall(const FunctionDescription& description,
                                                    PyObject* const* args, Py_ssize_t nargs,
                                                    PyObject* kwnames) {
    BoundArguments<Count> slots{};
    if (kwnames == nullptr && nargs == static_cast<Py_ssize_t>(Count)) {
        // The common case: every argument by position.
        for (std::size_t i = 0; i < Count; ++i) {
            slots[i] = args[i];
        }
        return slots;
    }
    bind_vectorcall(description, args, nargs, kwnames, slots);
    return slots;
}

template <std::size_t Count>
[[nodiscard]] HeldArguments<Count> bind_tuple_and_dict(const FunctionDescription& description,
                                                       PyObject* args, PyObject* kwargs) {
    HeldArguments<Count> held;
    bind_tuple_and_dict(description, args, kwargs, held.slots());
    return held;
}

/// An entry point of the METH_FASTCALL | METH_KEYWORDS convention as the
/// PyCFunction that a PyMethodDef stores.
template <auto Entry>
[[nodiscard]] constexpr PyCFunction fastcall_entry() noexcept {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(Entry));
}

}  // namespace pwpoly::binding
