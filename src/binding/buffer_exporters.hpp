// The types whose objects the sequence conversion may read through the buffer
// protocol: exactly bytes, bytearray, memoryview, array.array and numpy.ndarray.
#pragma once

#include <Python.h>

#include <cstdint>

namespace pwpoly::binding {

/// Which of the accepted exporters a type is. Subclasses are none of them:
/// their iteration may run Python code.
enum class BufferExporter : std::uint8_t {
    none,
    /// bytes, bytearray or array.array: native formats, items as the
    /// iterator of the type gives them.
    plain,
    /// memoryview: native formats that its iterator can unpack.
    memory_view,
    /// numpy.ndarray: any byte order; items as NumPy's scalars convert.
    numpy_array,
};

/// The exporter that `type` is. numpy.ndarray and array.array are recognised
/// without importing anything: a candidate (a static or immutable type of the
/// right name) is compared with the class that the already imported module
/// holds, and the first match is kept for later calls. If the program has not
/// imported NumPy, no object is an ndarray. Runs no Python code and sets no
/// error.
[[nodiscard]] BufferExporter buffer_exporter_of(PyTypeObject* type) noexcept;

}  // namespace pwpoly::binding
