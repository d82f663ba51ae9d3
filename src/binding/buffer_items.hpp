// The sequence conversion of bytes, bytearray, memoryview, array.array and
// numpy.ndarray objects through their exported buffers: the same values, in
// the same order, as their iterators give, read at memory speed.
#pragma once

#include <Python.h>

#include <algorithm>
#include <array>
#include <concepts>
#include <cstddef>
#include <utility>

#include "buffer_formats.hpp"
#include "support/cancellation.hpp"
#include "support/size_policy.hpp"

namespace pwpoly::binding {

/// The items of an object of one of the accepted exporter types
/// (buffer_exporter_of), read from its exported buffer. The export is held
/// from a successful open() to the destructor, except across the polls of
/// reopen_after_poll(). The object must outlive this reader (the caller
/// holds it).
class BufferItems {
public:
    BufferItems() noexcept = default;
    BufferItems(const BufferItems&) = delete;
    BufferItems& operator=(const BufferItems&) = delete;
    BufferItems(BufferItems&&) = delete;
    BufferItems& operator=(BufferItems&&) = delete;
    ~BufferItems() { release(); }

    /// Exports the buffer of `object` when its type is exactly an accepted
    /// exporter, it is one-dimensional and its item format is one that
    /// parse_item_format knows under the exporter's rules. Otherwise returns
    /// false, holding nothing and with no error set: an export that fails is
    /// left to the item-by-item conversion, which meets the same object.
    [[nodiscard]] bool open(PyObject* object);

    /// The number of items.
    [[nodiscard]] std::size_t size() const noexcept { return count_; }

    /// Converts the items of index first, first + step, ... (`count` of them,
    /// all below size()) into out[0 ... count). An item that decoding leaves
    /// to the exporter (see decode_items) is converted the item-by-item way:
    /// PySequence_GetItem, then the conversion of one sequence item, which
    /// for these types runs none of the caller's code. Throws what that
    /// throws (MemoryError at most).
    void read(std::size_t first, std::size_t step, std::size_t count, double* out) const;

    /// Between two runs of a long conversion: releases the export, polls for
    /// cancellation (a signal handler may run and change the object) and
    /// exports again. False, with nothing held, if the object can no longer
    /// be read from its buffer; the conversion then goes on item by item.
    [[nodiscard]] bool reopen_after_poll();

    /// The item of `index`, through the object's own item access and
    /// converted as one sequence item; false, with no error set, past the
    /// end (IndexError or StopIteration, where a sequence iterator stops).
    /// Any other error is thrown.
    [[nodiscard]] bool item_by_access(std::size_t index, double& value) const;

private:
    bool export_buffer();
    void release() noexcept;

    PyObject* object_ = nullptr;
    Py_buffer view_{};
    bool held_ = false;
    ItemFormat format_{};
    const char* first_ = nullptr;
    std::ptrdiff_t stride_ = 0;
    std::size_t count_ = 0;
};

/// A sink that takes the items it wants from the whole buffer itself and
/// returns the item count (polling between runs with reopen_after_poll when
/// it reads many).
template <class Sink>
concept ReadsWholeBuffers = requires(Sink& sink, BufferItems& items) {
    { sink.read_buffer(items) } -> std::same_as<std::size_t>;
};

/// A sink that takes runs of items: write_items(items, first, last) for the
/// items of index first ... last - 1.
template <class Sink>
concept WritesItemRuns = requires(Sink& sink, const BufferItems& items, std::size_t index) {
    sink.write_items(items, index, index);
};

namespace detail {
// Runs for sinks that take single items: staged through a small array.
template <class Sink>
void write_item_run(const BufferItems& items, std::size_t first, std::size_t last, Sink& sink) {
    if constexpr (WritesItemRuns<Sink>) {
        sink.write_items(items, first, last);
    } else {
        std::array<double, 256> staged;
        for (std::size_t start = first; start < last; start += staged.size()) {
            const std::size_t count = std::min(staged.size(), last - start);
            items.read(start, 1, count, staged.data());
            for (std::size_t j = 0; j < count; ++j) {
                sink(start + j, staged[j]);
            }
        }
    }
}

// The rest of the items, from `index` on, as the sequence iterator of the
// object would give them (item access until IndexError).
template <class Sink>
std::size_t convert_items_by_access(const BufferItems& items, std::size_t index, Sink& sink) {
    CancellationCounter poll;
    double value = 0.0;
    while (items.item_by_access(index, value)) {
        poll.tick();
        sink(index, value);
        ++index;
    }
    return index;
}
}  // namespace detail

/// The sequence conversion of an open reader: passes (index, value) to
/// `sink` for every item in order, as convert_float_sequence does, and
/// returns the number of items. Long buffers go in runs of filling_chunk
/// items with a cancellation poll between two runs, and the poll holds no
/// export: if the poll changed the object, the items after it are those the
/// object now has (a resized array, or a dtype or shape changed by a NumPy
/// signal handler, is read as its iterator would read it).
template <class Sink>
std::size_t convert_buffer_items(BufferItems& items, Sink& sink) {
    if constexpr (ReadsWholeBuffers<Sink>) {
        return sink.read_buffer(items);
    } else {
        std::size_t index = 0;
        while (index < items.size()) {
            const std::size_t end = index + std::min(filling_chunk, items.size() - index);
            detail::write_item_run(items, index, end, sink);
            index = end;
            if (index < items.size() && !items.reopen_after_poll()) {
                return detail::convert_items_by_access(items, index, sink);
            }
        }
        return index;
    }
}

}  // namespace pwpoly::binding
