// The one argument binder and its four messages, detected in this order:
// too many positional arguments, then each keyword in the order given
// (unexpected, or already filled), then missing required arguments.
#include "binder.hpp"

#include <algorithm>
#include <vector>

#include "object_text.hpp"
#include "python_error.hpp"
#include "support/text.hpp"

namespace pwpoly::binding {
namespace {

constexpr std::size_t not_found = static_cast<std::size_t>(-1);

// Index of the parameter named `keyword`, compared byte for byte as UTF-8; a
// name that cannot be read as UTF-8 (lone surrogates) matches nothing.
std::size_t parameter_index(const FunctionDescription& description, PyObject* keyword) {
    Py_ssize_t size = 0;
    const char* name = PyUnicode_Check(keyword) ? PyUnicode_AsUTF8AndSize(keyword, &size) : nullptr;
    if (name == nullptr) {
        PyErr_Clear();
        return not_found;
    }
    const std::string_view text(name, static_cast<std::size_t>(size));
    for (std::size_t i = 0; i < description.parameters.size(); ++i) {
        if (description.parameters[i] == text) {
            return i;
        }
    }
    return not_found;
}

[[noreturn]] void fail_too_many(const FunctionDescription& description, std::size_t given) {
    throw_new_python_error(
        PyExc_TypeError,
        concat(description.full_name(), " takes ", description.parameters.size(),
               " positional arguments but ", given, given == 1 ? " was" : " were", " given"));
}

// Copies the positional arguments into the slots, as new references when
// `hold` is set; fails when there are too many.
void bind_positional(const FunctionDescription& description, PyObject* const* args,
                     std::size_t count, std::span<PyObject*> slots, bool hold) {
    const std::size_t copied = std::min(count, slots.size());
    for (std::size_t i = 0; i < copied; ++i) {
        slots[i] = hold ? new_ref(args[i]) : args[i];
    }
    if (count > slots.size()) {
        fail_too_many(description, count);
    }
}

void bind_keyword(const FunctionDescription& description, PyObject* keyword, PyObject* value,
                  std::span<PyObject*> slots, bool hold) {
    const std::size_t index = parameter_index(description, keyword);
    if (index == not_found) {
        throw_new_python_error(PyExc_TypeError, concat(description.full_name(),
                                                       " got an unexpected keyword argument '",
                                                       text_of(keyword), "'"));
    }
    if (slots[index] != nullptr) {
        throw_new_python_error(
            PyExc_TypeError, concat(description.full_name(), " got multiple values for argument '",
                                    description.parameters[index], "'"));
    }
    slots[index] = hold ? new_ref(value) : value;
}

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'.
std::string quoted_name_list(const std::vector<std::string_view>& names) {
    std::string list;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            if (names.size() > 2) {
                list += ',';
            }
            list += i + 1 == names.size() ? " and " : " ";
        }
        list += concat("'", names[i], "'");
    }
    return list;
}

void check_missing(const FunctionDescription& description, std::size_t positional_count,
                   std::span<PyObject*> slots) {
    if (positional_count >= slots.size()) {
        return;
    }
    std::vector<std::string_view> missing;
    for (std::size_t i = 0; i < slots.size(); ++i) {
        if (slots[i] == nullptr) {
            missing.push_back(description.parameters[i]);
        }
    }
    if (missing.empty()) {
        return;
    }
    throw_new_python_error(
        PyExc_TypeError,
        concat(description.full_name(), " missing ", missing.size(), " required positional ",
               missing.size() == 1 ? "argument" : "arguments", ": ", quoted_name_list(missing)));
}

}  // namespace

std::string FunctionDescription::full_name() const {
    if (class_name.empty()) {
        return concat(function_name, "()");
    }
    return concat(class_name, ".", function_name, "()");
}

void bind_vectorcall(const FunctionDescription& description, PyObject* const* args,
                     Py_ssize_t nargs, PyObject* kwnames, std::span<PyObject*> slots) {
    const auto count = static_cast<std::size_t>(nargs);
    bind_positional(description, args, count, slots, false);
    if (kwnames != nullptr) {
        const Py_ssize_t keyword_count = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t i = 0; i < keyword_count; ++i) {
            bind_keyword(description, PyTuple_GET_ITEM(kwnames, i), args[nargs + i], slots, false);
        }
    }
    check_missing(description, count, slots);
}

void bind_tuple_and_dict(const FunctionDescription& description, PyObject* args, PyObject* kwargs,
                         std::span<PyObject*> slots) {
    const auto count = static_cast<std::size_t>(PyTuple_GET_SIZE(args));
    bind_positional(description, reinterpret_cast<PyTupleObject*>(args)->ob_item, count, slots,
                    true);
    if (kwargs != nullptr) {
        Py_ssize_t position = 0;
        PyObject* keyword = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(kwargs, &position, &keyword, &value)) {
            // The text of an unexpected keyword runs its __str__, which may
            // change the dictionary: hold the pair while it is looked at.
            const PyRef held_keyword = PyRef::borrow(keyword);
            const PyRef held_value = PyRef::borrow(value);
            bind_keyword(description, held_keyword.get(), held_value.get(), slots, true);
        }
    }
    check_missing(description, count, slots);
}

}  // namespace pwpoly::binding
