// Creating the module's classes once per process from their type
// specifications.
#include "class_object.hpp"

#include <cstring>

#include "py_ref.hpp"
#include "python_error.hpp"

namespace pwpoly::binding {
namespace {

#if PY_VERSION_HEX < 0x030A0000
// Before 3.10 the interpreter keeps only the docstring after the "\n--\n\n"
// marker in tp_doc, which loses the text signature; put the full text back.
// __doc__ was already derived from the short form and stays as it is.
void restore_full_documentation(PyTypeObject* type, const char* documentation) {
    const std::size_t size = std::strlen(documentation) + 1;
    auto* copy = static_cast<char*>(PyObject_Malloc(size));
    if (copy == nullptr) {
        throw make_python_error(PyExc_MemoryError, "");
    }
    std::memcpy(copy, documentation, size);
    PyObject_Free(const_cast<char*>(type->tp_doc));
    type->tp_doc = copy;
}
#endif

}  // namespace

PyTypeObject* class_object(const ClassDefinition& definition) {
    PyObject* type = definition.cell->get_or_init([&] {
        PyRef created = PyRef::steal(PyType_FromSpec(definition.spec));
        if (!created) {
            throw_python_error();
        }
#if PY_VERSION_HEX < 0x030A0000
        restore_full_documentation(reinterpret_cast<PyTypeObject*>(created.get()),
                                   definition.documentation);
#endif
        return created;
    });
    return reinterpret_cast<PyTypeObject*>(type);
}

}  // namespace pwpoly::binding
