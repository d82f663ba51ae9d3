// The module's initialisation entry: one interpreter per process, the module
// object created once, and its population with functions, classes and
// __all__.
#include <Python.h>

#include <atomic>
#include <cstdint>

#include "class_object.hpp"
#include "entry_guard.hpp"
#include "module_contents.hpp"
#include "object_text.hpp"
#include "once_cell.hpp"
#include "py_ref.hpp"
#include "python_error.hpp"
#include "support/failure.hpp"
#include "support/text.hpp"

namespace pwpoly::binding {
namespace {

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "pwpoly",
    "A Python module for piecewise polynomial functions of time, implemented in C++.",
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// The interpreter that first initialised the module; -1 until then. Never
// reset: the module lives in that interpreter only.
std::atomic<std::int64_t> owner_interpreter_id{-1};

OnceCell module_cell;

void check_single_interpreter() {
    const std::int64_t current = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (current == -1) {
        throw_python_error();
    }
    std::int64_t expected = -1;
    if (!owner_interpreter_id.compare_exchange_strong(expected, current) && expected != current) {
        throw_new_python_error(
            PyExc_ImportError,
            "pwpoly does not yet support subinterpreters: it can be imported in one interpreter "
            "per process only");
    }
}

// The module's __all__ list, created on first use.
PyObject* all_list(PyObject* module) {
    PyRef all = PyRef::steal(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (PyErr_ExceptionMatches(PyExc_AttributeError) == 0) {
            throw_python_error();
        }
        PyErr_Clear();
        all = PyRef::steal(PyList_New(0));
        if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) {
            throw_python_error();
        }
    }
    if (!PyList_Check(all.get())) {
        throw_new_python_error(PyExc_TypeError, cast_error_message(all.get(), "list"));
    }
    // The module keeps the list alive.
    return all.get();
}

void add_to_module(PyObject* module, PyObject* name, PyObject* value) {
    PyObject* all = all_list(module);
    if (PyList_Append(all, name) < 0) {
        const PythonError error = fetch_python_error();
        fail(concat("could not append __name__ to __all__: ", text_of(error.exception())));
    }
    if (PyObject_SetAttr(module, name, value) < 0) {
        throw_python_error();
    }
}

void add_function(PyObject* module, PyObject* module_name, PyMethodDef* record) {
    PyRef function = PyRef::steal(PyCMethod_New(record, module, module_name, nullptr));
    if (!function) {
        throw_python_error();
    }
    PyRef name = PyRef::steal(PyObject_GetAttrString(function.get(), "__name__"));
    if (!name) {
        throw_python_error();
    }
    add_to_module(module, name.get(), function.get());
}

// RuntimeError "An error occurred while initializing class {name}", caused by
// the error of the class's creation.
PythonError class_creation_error(const char* name, const PythonError& cause) {
    PythonError error = make_python_error(
        PyExc_RuntimeError, concat("An error occurred while initializing class ", name));
    PyException_SetCause(error.exception(), new_ref(cause.exception()));
    return error;
}

void add_class(PyObject* module, const ClassDefinition& definition) {
    PyTypeObject* type = nullptr;
    try {
        type = class_object(definition);
    } catch (const PythonError& error) {
        throw class_creation_error(definition.name, error);
    }
    PyRef name = PyRef::steal(PyUnicode_FromString(definition.name));
    if (!name) {
        throw_python_error();
    }
    add_to_module(module, name.get(), reinterpret_cast<PyObject*>(type));
}

void module_initializer(PyObject* module) {
    PyRef module_name = PyRef::steal(PyModule_GetNameObject(module));
    if (!module_name) {
        throw_python_error();
    }
    for (PyMethodDef* record : module_functions) {
        add_function(module, module_name.get(), record);
    }
    for (const ClassDefinition* definition : module_classes) {
        add_class(module, *definition);
    }
}

PyRef pwpoly_module() {
    check_single_interpreter();
    PyObject* module = module_cell.get_or_init([] {
        PyRef created = PyRef::steal(PyModule_Create2(&module_definition, 1013));
        if (!created) {
            throw_python_error();
        }
        // On failure the new module is released and the cell stays empty, so
        // a later import starts again.
        module_initializer(created.get());
        return created;
    });
    return PyRef::borrow(module);
}

}  // namespace
}  // namespace pwpoly::binding

PyMODINIT_FUNC PyInit_pwpoly() {
    return pwpoly::binding::entry_guard([] { return pwpoly::binding::pwpoly_module(); });
}
