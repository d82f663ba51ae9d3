// Reading the items of an exported buffer, and the exporter's own item access
// for the few items that C++ cannot be sure to convert as the exporter does.
#include "buffer_items.hpp"

#include <cmath>
#include <optional>

#include "buffer_exporters.hpp"
#include "converters.hpp"
#include "py_ref.hpp"
#include "python_error.hpp"

namespace pwpoly::binding {

bool BufferItems::open(PyObject* object) {
    object_ = object;
    return export_buffer();
}

bool BufferItems::export_buffer() {
    const BufferExporter exporter = buffer_exporter_of(Py_TYPE(object_));
    if (exporter == BufferExporter::none) {
        return false;
    }
    // Read-only access is enough, and read-only buffers are accepted.
    if (PyObject_GetBuffer(object_, &view_, PyBUF_RECORDS_RO) != 0) {
        PyErr_Clear();
        return false;
    }
    held_ = true;
    const FormatRules rules{
        .byte_order_prefixes = exporter == BufferExporter::numpy_array,
        .half_floats = exporter != BufferExporter::memory_view || PY_VERSION_HEX >= 0x030C0000,
    };
    std::optional<ItemFormat> format;
    if (view_.ndim == 1 && view_.shape != nullptr && view_.strides != nullptr &&
        view_.suboffsets == nullptr && view_.itemsize > 0 && view_.shape[0] >= 0) {
        format = parse_item_format(view_.format != nullptr ? view_.format : "B",
                                   static_cast<std::size_t>(view_.itemsize), rules);
    }
    if (!format) {
        release();
        return false;
    }
    format_ = *format;
    first_ = static_cast<const char*>(view_.buf);
    stride_ = view_.strides[0];
    count_ = static_cast<std::size_t>(view_.shape[0]);
    return true;
}

void BufferItems::release() noexcept {
    if (held_) {
        held_ = false;
        count_ = 0;
        PyBuffer_Release(&view_);
    }
}

void BufferItems::read(std::size_t first, std::size_t step, std::size_t count, double* out) const {
    const std::ptrdiff_t stride = stride_ * static_cast<std::ptrdiff_t>(step);
    if (!decode_items(format_, first_ + static_cast<std::ptrdiff_t>(first) * stride_, stride, count,
                      out)) {
        return;
    }
    // The deferred items are the NaNs among the decoded values.
    for (std::size_t j = 0; j < count; ++j) {
        if (std::isnan(out[j]) && !item_by_access(first + j * step, out[j])) [[unlikely]] {
            // An index below the length is never past the end.
            throw_new_python_error(PyExc_IndexError, "index out of range");
        }
    }
}

bool BufferItems::reopen_after_poll() {
    release();
    poll_cancellation();
    return export_buffer();
}

bool BufferItems::item_by_access(std::size_t index, double& value) const {
    const PyRef item = PyRef::steal(PySequence_GetItem(object_, static_cast<Py_ssize_t>(index)));
    if (!item) {
        if (PyErr_ExceptionMatches(PyExc_IndexError) != 0 ||
            PyErr_ExceptionMatches(PyExc_StopIteration) != 0) {
            PyErr_Clear();
            return false;
        }
        throw_python_error();
    }
    value = detail::item_to_float(item.get());
    return true;
}

}  // namespace pwpoly::binding
