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

/// One slot per parameter, each empty or holding a strong reference to its
/// argument from binding until the call returns. Strong, because the call
/// may run Python code (a __float__, an __index__) that drops the caller's
/// references: a keyword dictionary that is cleared, say, while its values
/// are still to be converted.
template <std::size_t Count>
class BoundArguments {
public:
    BoundArguments() noexcept = default;
    BoundArguments(const BoundArguments&) = delete;
    BoundArguments& operator=(const BoundArguments&) = delete;
    BoundArguments(BoundArguments&& other) noexcept : slots_(std::exchange(other.slots_, {})) {}
    BoundArguments& operator=(BoundArguments&&) = delete;
    ~BoundArguments() {
        for (PyObject* argument : slots_) {
            Py_XDECREF(argument);
        }
    }

    /// The argument of parameter `i` (NULL only while binding).
    [[nodiscard]] PyObject* operator[](std::size_t i) const noexcept { return slots_[i]; }

    /// The slots, for the binder to fill with new references.
    [[nodiscard]] std::span<PyObject*> slots() noexcept { return slots_; }

private:
    std::array<PyObject*, Count> slots_{};
};

/// Binds a vector call (`args` holds `nargs` positional arguments followed by
/// the values of the keywords named in `kwnames`, which may be NULL), storing
/// a new reference in each slot it fills. Throws a PythonError (TypeError)
/// with the binding messages on a mismatch; the slots filled so far stay
/// filled for their owner to release.
void bind_vectorcall(const FunctionDescription& description, PyObject* const* args,
                     Py_ssize_t nargs, PyObject* kwnames, std::span<PyObject*> slots);

/// Binds a call given as an argument tuple and an optional keyword dict, as
/// bind_vectorcall does.
void bind_tuple_and_dict(const FunctionDescription& description, PyObject* args, PyObject* kwargs,
                         std::span<PyObject*> slots);

template <std::size_t Count>
[[nodiscard]] BoundArguments<Count> bind_vectorcall(const FunctionDescription& description,
                                                    PyObject* const* args, Py_ssize_t nargs,
                                                    PyObject* kwnames) {
    BoundArguments<Count> bound;
    if (kwnames == nullptr && nargs == static_cast<Py_ssize_t>(Count)) {
        // The common case: every argument by position.
        std::span<PyObject*> slots = bound.slots();
        for (std::size_t i = 0; i < Count; ++i) {
            slots[i] = new_ref(args[i]);
        }
        return bound;
    }
    bind_vectorcall(description, args, nargs, kwnames, bound.slots());
    return bound;
}

template <std::size_t Count>
[[nodiscard]] BoundArguments<Count> bind_tuple_and_dict(const FunctionDescription& description,
                                                        PyObject* args, PyObject* kwargs) {
    BoundArguments<Count> bound;
    bind_tuple_and_dict(description, args, kwargs, bound.slots());
    return bound;
}

/// An entry point of the METH_FASTCALL | METH_KEYWORDS convention as the
/// PyCFunction that a PyMethodDef stores.
template <auto Entry>
[[nodiscard]] constexpr PyCFunction fastcall_entry() noexcept {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(Entry));
}

}  // namespace pwpoly::binding
