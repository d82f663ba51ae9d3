// Texts of Python objects as they appear in the module's messages.
#pragma once

#include <Python.h>

#include <string>

namespace pwpoly::binding {

/// The UTF-8 form of the str object `text`, with lone surrogates replaced as
/// for text_of(). Never fails.
[[nodiscard]] std::string utf8_text(PyObject* text);

/// str(object) as UTF-8. Lone surrogates become U+FFFD (three per surrogate,
/// one per byte of their "surrogatepass" encoding). If str() fails, the
/// failure is reported as unraisable and the text is
/// "<unprintable {type name} object>" (or "<unprintable object>").
[[nodiscard]] std::string text_of(PyObject* object);

/// The __qualname__ of `type`, falling back to its tp_name.
[[nodiscard]] std::string qualified_name(PyTypeObject* type);

/// The cast error text "'{type qualname}' object cannot be cast as '{target}'".
[[nodiscard]] std::string cast_error_message(PyObject* object, std::string_view target);

}  // namespace pwpoly::binding
