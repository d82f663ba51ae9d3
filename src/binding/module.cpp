// The module's initialisation entry: one interpreter per process, the module
// object created once, and its population with functions, classes and
// __all__.
#include <Python.h>

#include <atomic>
#include <cstdint>
#include <string_view>

#include "class_object.hpp"
#include "converters.hpp"
#include "entry_guard.hpp"
#include "module_contents.hpp"
#include "object_text.hpp"
#include "once_cell.hpp"
#include "py_ref.hpp"
#include "python_error.hpp"
#include "report_writer.hpp"
#include "support/cancellation.hpp"
#include "support/failure.hpp"
#include "support/standard_error.hpp"
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

// The interpreter that owns the module: the first one whose import of it
// succeeded; -1 until then. Never reset: the module lives in that interpreter
// only.
std::atomic<std::int64_t> owner_interpreter_id{-1};

OnceCell module_cell;

constexpr const char* runtime_module_name = "pwpoly_runtime";

[[noreturn]] void refuse_subinterpreter() {
    throw_new_python_error(
        PyExc_ImportError,
        "pwpoly does not yet support subinterpreters: it can be imported in one interpreter "
        "per process only");
}

#if PY_VERSION_HEX >= 0x030C0000 && PY_VERSION_HEX < 0x030D0000
// CPython 3.12 refuses a single-phase module in a subinterpreter that checks
// extensions (one with its own interpreter lock, say) only after the module's
// initialisation has run. Asking the same question first keeps such an import
// from creating and claiming the module.
extern "C" int _PyImport_CheckSubinterpIncompatibleExtensionAllowed(const char* name);

void check_interpreter_accepts_module(PyInterpreterState* interpreter) {
    if (interpreter != PyInterpreterState_Main() &&
        _PyImport_CheckSubinterpIncompatibleExtensionAllowed("pwpoly") < 0) {
        throw_python_error();
    }
}
#else
void check_interpreter_accepts_module(PyInterpreterState* /*interpreter*/) {}
#endif

std::int64_t current_interpreter_id() {
    PyInterpreterState* interpreter = PyInterpreterState_Get();
    const std::int64_t current = PyInterpreterState_GetID(interpreter);
    if (current == -1) {
        throw_python_error();
    }
    const std::int64_t owner = owner_interpreter_id.load();
    if (owner != -1 && owner != current) {
        refuse_subinterpreter();
    }
    if (owner == -1) {
        check_interpreter_accepts_module(interpreter);
    }
    return current;
}

// Makes `current` the owner once its import has a module; an import that
// failed before claims nothing.
void claim_interpreter(std::int64_t current) {
    std::int64_t expected = -1;
    if (!owner_interpreter_id.compare_exchange_strong(expected, current) && expected != current) {
        refuse_subinterpreter();
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

// Sets pwpoly_runtime.PanicException when that module is being imported or
// has been: it is the importable home of the class (whose __module__ is
// "pwpoly_runtime"), so that pickle finds it. pwpoly itself does not carry
// the class. A namespace that refuses the attribute is left alone; the
// runtime module then reports that it could not obtain the class.
void publish_panic_exception() noexcept {
    PyObject* type = existing_panic_exception_type();
    PyRef name = PyRef::steal(PyUnicode_FromString(runtime_module_name));
    PyRef runtime = name ? PyRef::steal(PyImport_GetModule(name.get())) : PyRef();
    if (type == nullptr || !runtime || !PyModule_Check(runtime.get()) ||
        PyObject_SetAttrString(runtime.get(), "PanicException", type) < 0) {
        PyErr_Clear();
    }
}

// Failure reports: every entry holds the interpreter lock, which is released
// while a write waits.
bool write_module_report(std::string_view text, std::string_view first_note) noexcept {
    return python_support::write_report(text, first_note, true);
}

PyRef pwpoly_module() {
    const std::int64_t interpreter = current_interpreter_id();
    PyObject* module = module_cell.get_or_init([] {
        // Everything a later failure needs is created now, while a failure
        // to create it can still fail the import: the exception class that
        // reports internal failures, and the Sequence class of the cast
        // message.
        install_cancellation_check(&check_python_signals);
        install_standard_error_writer(&write_module_report);
        (void)panic_exception_type();
        (void)sequence_class();
        PyRef created = PyRef::steal(PyModule_Create2(&module_definition, 1013));
        if (!created) {
            throw_python_error();
        }
        // On failure the new module is released and the cell stays empty, so
        // a later import starts again.
        module_initializer(created.get());
        return created;
    });
    claim_interpreter(interpreter);
    publish_panic_exception();
    return PyRef::borrow(module);
}

}  // namespace
}  // namespace pwpoly::binding

PyMODINIT_FUNC PyInit_pwpoly() {
    return pwpoly::binding::entry_guard([] { return pwpoly::binding::pwpoly_module(); });
}
