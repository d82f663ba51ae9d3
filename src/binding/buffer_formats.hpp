// The item formats of exported buffers that convert to doubles in C++ as the
// exporters' own item conversion does, and the decoding of their bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace pwpoly::binding {

enum class ItemKind : std::uint8_t {
    signed_integer,
    unsigned_integer,
    boolean,
    float16,
    float32,
    float64,
};

/// One item of a buffer: its kind, its width in bytes (1, 2, 4 or 8) and
/// whether its bytes are in the opposite order of the machine's.
struct ItemFormat {
    ItemKind kind;
    std::uint8_t width;
    bool swapped;
};

/// What an exporter's format strings may say and still be read directly.
struct FormatRules {
    /// NumPy names the byte order ('<', '>', '!', '='); the others' item
    /// access understands native formats only (an optional '@').
    bool byte_order_prefixes;
    /// 'e' (IEEE half): memoryview unpacks it only from CPython 3.12 on.
    bool half_floats;
};

/// The item format of a buffer format string (struct-module syntax, one
/// item) with items of `itemsize` bytes: '?', the integer codes b B h H i I l
/// L q Q n N, and e f d; nothing else (no 'c', 'u', 'w', 'P', 'g', 'Z', no
/// counts or structures). The width is `itemsize`, which must agree with the
/// code.
[[nodiscard]] std::optional<ItemFormat> parse_item_format(std::string_view format,
                                                          std::size_t itemsize, FormatRules rules);

/// Decodes `count` items, the first at `first` and each next one `stride`
/// bytes further (any sign; unaligned memory is fine), into out[0 ... count).
/// Integers convert with correct rounding (round half to even), finite and
/// infinite floats exactly, float64 NaNs keep every bit. Returns true if some
/// item is left to the exporter's own conversion: a NaN of float16 or float32
/// (whose payload bits the exporters' conversions may keep or change) or a
/// boolean stored as a byte other than 0 or 1. Those decode to a NaN, and no
/// other item of those kinds does.
[[nodiscard]] bool decode_items(const ItemFormat& format, const char* first, std::ptrdiff_t stride,
                                std::size_t count, double* out);

}  // namespace pwpoly::binding
