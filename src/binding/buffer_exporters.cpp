// Recognition of the buffer exporters that the sequence conversion reads
// directly; array.array and numpy.ndarray by a type kept once found.
#include "buffer_exporters.hpp"

#include <atomic>
#include <cstring>

namespace pwpoly::binding {
namespace {

#ifdef Py_TPFLAGS_IMMUTABLETYPE
constexpr unsigned long immutable_type_flag = Py_TPFLAGS_IMMUTABLETYPE;
#else
// Before 3.10 the flag does not exist; array.array is a static type there.
constexpr unsigned long immutable_type_flag = 0;
#endif

// A class of an extension module, found by identity with module.attribute of
// the imported module. The first type found stays (one strong reference, so
// that its address is never reused); a type of the same name from a module
// imported anew is still recognised, by the lookup.
struct ModuleClass {
    const char* type_name;
    const char* module;
    const char* attribute;
    std::atomic<PyTypeObject*> found{nullptr};
};

ModuleClass numpy_array_class{"numpy.ndarray", "numpy", "ndarray"};
ModuleClass array_class{"array.array", "array", "array"};

// A Python class may take any name, even a dotted one, but it is always a
// mutable heap type; the extension types are static or immutable.
bool could_be(PyTypeObject* type, const char* type_name) {
    if (std::strcmp(type->tp_name, type_name) != 0) {
        return false;
    }
    const unsigned long flags = PyType_GetFlags(type);
    return (flags & Py_TPFLAGS_HEAPTYPE) == 0 || (flags & immutable_type_flag) != 0;
}

// sys.modules[module].__dict__[attribute], read from the dictionaries
// themselves so that no module __getattr__ runs; NULL if any step is missing
// or unusual. Borrowed.
PyObject* imported_attribute(const char* module, const char* attribute) {
    PyObject* modules = PyImport_GetModuleDict();
    if (modules == nullptr || PyDict_CheckExact(modules) == 0) {
        return nullptr;
    }
    PyObject* imported = PyDict_GetItemString(modules, module);
    if (imported == nullptr || PyModule_CheckExact(imported) == 0) {
        return nullptr;
    }
    return PyDict_GetItemString(PyModule_GetDict(imported), attribute);
}

bool is_class(PyTypeObject* type, ModuleClass& known) {
    if (type == known.found.load(std::memory_order_acquire)) {
        return true;
    }
    if (!could_be(type, known.type_name)) {
        return false;
    }
    if (imported_attribute(known.module, known.attribute) != reinterpret_cast<PyObject*>(type)) {
        return false;
    }
    Py_INCREF(type);
    PyTypeObject* empty = nullptr;
    if (!known.found.compare_exchange_strong(empty, type, std::memory_order_acq_rel)) {
        Py_DECREF(type);
    }
    return true;
}

}  // namespace

BufferExporter buffer_exporter_of(PyTypeObject* type) noexcept {
    if (type == &PyBytes_Type || type == &PyByteArray_Type) {
        return BufferExporter::plain;
    }
    if (type == &PyMemoryView_Type) {
        return BufferExporter::memory_view;
    }
    if (is_class(type, numpy_array_class)) {
        return BufferExporter::numpy_array;
    }
    if (is_class(type, array_class)) {
        return BufferExporter::plain;
    }
    return BufferExporter::none;
}

}  // namespace pwpoly::binding
