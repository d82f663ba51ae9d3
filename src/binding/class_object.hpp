// Creating the module's classes once per process from their type
// specifications.
#pragma once

#include <Python.h>

#include "once_cell.hpp"

namespace pwpoly::binding {

/// One class of the module: its bare name, its PyType_Spec (named
/// "builtins.{name}") and the full documentation text of its Py_tp_doc slot.
struct ClassDefinition {
    const char* name;
    PyType_Spec* spec;
    const char* documentation;
    OnceCell* cell;
};

/// The class object, created on first use with PyType_FromSpec and kept for
/// the rest of the process. Throws the creation error.
[[nodiscard]] PyTypeObject* class_object(const ClassDefinition& definition);

/// class_object(), with the lookup of an existing class inlined: the receiver
/// check of every method call asks for it.
[[nodiscard]] inline PyTypeObject* existing_class_object(const ClassDefinition& definition) {
    if (PyObject* type = definition.cell->get()) [[likely]] {
        return reinterpret_cast<PyTypeObject*>(type);
    }
    return class_object(definition);
}

}  // namespace pwpoly::binding
