// Texts of Python objects as they appear in the module's messages.
#include "object_text.hpp"

#include <string_view>

#include "py_ref.hpp"
#include "support/text.hpp"

namespace pwpoly::binding {
std::string utf8_text(PyObject* text) {
    Py_ssize_t size = 0;
    if (const char* data = PyUnicode_AsUTF8AndSize(text, &size)) {
        return std::string(data, static_cast<std::size_t>(size));
    }
    // Lone surrogates cannot be encoded strictly: encode them as they stand and
    // decode with replacement.
    PyErr_Clear();
    PyRef bytes = PyRef::steal(PyUnicode_AsEncodedString(text, "utf-8", "surrogatepass"));
    if (!bytes) {
        PyErr_Clear();
        return {};
    }
    PyRef decoded = PyRef::steal(PyUnicode_DecodeUTF8(PyBytes_AS_STRING(bytes.get()),
                                                      PyBytes_GET_SIZE(bytes.get()), "replace"));
    if (!decoded) {
        PyErr_Clear();
        return {};
    }
    if (const char* data = PyUnicode_AsUTF8AndSize(decoded.get(), &size)) {
        return std::string(data, static_cast<std::size_t>(size));
    }
    PyErr_Clear();
    return {};
}

std::string text_of(PyObject* object) {
    PyRef text = PyRef::steal(PyObject_Str(object));
    if (text) {
        return utf8_text(text.get());
    }
    PyErr_WriteUnraisable(object);
    PyRef name = PyRef::steal(
        PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__name__"));
    if (name && PyUnicode_Check(name.get())) {
        return concat("<unprintable ", utf8_text(name.get()), " object>");
    }
    PyErr_Clear();
    return "<unprintable object>";
}

std::string qualified_name(PyTypeObject* type) {
    PyRef name =
        PyRef::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__qualname__"));
    if (name && PyUnicode_Check(name.get())) {
        return utf8_text(name.get());
    }
    PyErr_Clear();
    return type->tp_name;
}

std::string cast_error_message(PyObject* object, std::string_view target) {
    return concat("'", qualified_name(Py_TYPE(object)), "' object cannot be cast as '", target,
                  "'");
}

}  // namespace pwpoly::binding
