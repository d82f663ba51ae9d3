// Item formats of exported buffers: parsing the format string, and decoding
// runs of items into doubles.
#include "buffer_formats.hpp"

#include <bit>
#include <cstring>
#include <limits>
#include <type_traits>

namespace pwpoly::binding {
namespace {

constexpr double quiet_nan = std::numeric_limits<double>::quiet_NaN();

bool is_integer_width(std::size_t width) {
    return width == 1 || width == 2 || width == 4 || width == 8;
}

// The format's byte order prefix, removed from `format`: whether the items'
// bytes are swapped, or nothing for a prefix the rules do not allow.
std::optional<bool> take_byte_order(std::string_view& format, FormatRules rules) {
    if (format.empty()) {
        return false;
    }
    const char prefix = format.front();
    if (prefix == '@') {
        format.remove_prefix(1);
        return false;
    }
    if (!rules.byte_order_prefixes) {
        return false;
    }
    switch (prefix) {
        case '=':
            format.remove_prefix(1);
            return false;
        case '<':
            format.remove_prefix(1);
            return std::endian::native != std::endian::little;
        case '>':
        case '!':
            format.remove_prefix(1);
            return std::endian::native != std::endian::big;
        default:
            return false;
    }
}

std::optional<ItemKind> kind_of_code(char code, FormatRules rules) {
    switch (code) {
        case 'b':
        case 'h':
        case 'i':
        case 'l':
        case 'q':
        case 'n':
            return ItemKind::signed_integer;
        case 'B':
        case 'H':
        case 'I':
        case 'L':
        case 'Q':
        case 'N':
            return ItemKind::unsigned_integer;
        case '?':
            return ItemKind::boolean;
        case 'e':
            return rules.half_floats ? std::optional(ItemKind::float16) : std::nullopt;
        case 'f':
            return ItemKind::float32;
        case 'd':
            return ItemKind::float64;
        default:
            return std::nullopt;
    }
}

bool width_fits(ItemKind kind, std::size_t width) {
    switch (kind) {
        case ItemKind::signed_integer:
        case ItemKind::unsigned_integer:
            return is_integer_width(width);
        case ItemKind::boolean:
            return width == 1;
        case ItemKind::float16:
            return width == 2;
        case ItemKind::float32:
            return width == 4;
        case ItemKind::float64:
            return width == 8;
    }
    return false;
}

template <class Unsigned>
Unsigned byte_swapped(Unsigned bits) {
    if constexpr (sizeof(Unsigned) == 1) {
        return bits;
    } else if constexpr (sizeof(Unsigned) == 2) {
        return __builtin_bswap16(bits);
    } else if constexpr (sizeof(Unsigned) == 4) {
        return __builtin_bswap32(bits);
    } else {
        return __builtin_bswap64(bits);
    }
}

template <class Unsigned, bool Swapped>
Unsigned load_bits(const char* place) {
    Unsigned bits = 0;
    std::memcpy(&bits, place, sizeof bits);
    if constexpr (Swapped) {
        bits = byte_swapped(bits);
    }
    return bits;
}

// How the items of one kind convert: value(bits), and deferred(bits), whose
// top bit is set for an item left to the exporter (a NaN of a narrow float, a
// boolean byte above 1), whose value is then a NaN. Both are branch-free
// integer and conversion steps, so that the loops over them vectorise. The
// casts from integers round to nearest, ties to even, as the exporters' own
// conversions to Python float do.
template <class Unsigned, bool Signed>
struct IntegerItems {
    static double value(Unsigned bits) {
        if constexpr (Signed) {
            return static_cast<double>(static_cast<std::make_signed_t<Unsigned>>(bits));
        } else {
            return static_cast<double>(bits);
        }
    }
    static std::uint32_t deferred(Unsigned /*bits*/) { return 0; }
};

struct BooleanItems {
    static double value(std::uint8_t bits) {
        return bits <= 1 ? static_cast<double>(bits) : quiet_nan;
    }
    static std::uint32_t deferred(std::uint8_t bits) { return 1U - bits; }
};

// IEEE half to double: exact for every finite value and the infinities.
struct HalfItems {
    static double value(std::uint16_t bits) {
        const std::uint64_t sign = std::uint64_t{bits} >> 15U << 63U;
        const unsigned exponent = (unsigned{bits} >> 10U) & 0x1FU;
        const std::uint64_t fraction = unsigned{bits} & 0x3FFU;
        if (exponent == 0x1F) {
            return fraction == 0 ? std::bit_cast<double>(sign | 0x7FF0000000000000ULL) : quiet_nan;
        }
        if (exponent == 0) {
            // Subnormal: fraction * 2^-24, exact.
            const double magnitude = static_cast<double>(fraction) * 0x1p-24;
            return sign != 0 ? -magnitude : magnitude;
        }
        // Normal: rebias the exponent (15 to 1023) and widen the fraction.
        return std::bit_cast<double>(sign | (std::uint64_t{exponent + 1008U} << 52U) |
                                     (fraction << 42U));
    }
    static std::uint32_t deferred(std::uint16_t bits) { return 0x7C00U - (bits & 0x7FFFU); }
};

struct FloatItems {
    static double value(std::uint32_t bits) {
        return static_cast<double>(std::bit_cast<float>(bits));
    }
    static std::uint32_t deferred(std::uint32_t bits) { return 0x7F800000U - (bits & 0x7FFFFFFFU); }
};

struct DoubleItems {
    static double value(std::uint64_t bits) { return std::bit_cast<double>(bits); }
    static std::uint32_t deferred(std::uint64_t /*bits*/) { return 0; }
};

template <class Unsigned, bool Swapped, class Items>
bool decode_run(const char* first, std::ptrdiff_t stride, std::size_t count, double* out) {
    constexpr auto width = static_cast<std::ptrdiff_t>(sizeof(Unsigned));
    std::uint32_t deferred = 0;
    if (stride == width) {
        // Contiguous: a loop the compiler can vectorise. Unrolled, so that
        // the scalar conversions (int64 has no vector one) do not depend on
        // where the loop lands in memory: one item per cycle either way.
#pragma GCC unroll 4
        for (std::size_t i = 0; i < count; ++i) {
            const auto bits =
                load_bits<Unsigned, Swapped>(first + static_cast<std::ptrdiff_t>(i) * width);
            out[i] = Items::value(bits);
            deferred |= Items::deferred(bits);
        }
    } else {
        for (std::size_t i = 0; i < count; ++i) {
            const auto bits =
                load_bits<Unsigned, Swapped>(first + static_cast<std::ptrdiff_t>(i) * stride);
            out[i] = Items::value(bits);
            deferred |= Items::deferred(bits);
        }
    }
    return (deferred >> 31U) != 0;
}

template <class Unsigned, class Items>
bool decode_either_order(bool swapped, const char* first, std::ptrdiff_t stride, std::size_t count,
                         double* out) {
    if (swapped) {
        return decode_run<Unsigned, true, Items>(first, stride, count, out);
    }
    return decode_run<Unsigned, false, Items>(first, stride, count, out);
}

template <bool Signed>
bool decode_integers(const ItemFormat& format, const char* first, std::ptrdiff_t stride,
                     std::size_t count, double* out) {
    const bool swapped = format.swapped;
    switch (format.width) {
        case 1:
            return decode_run<std::uint8_t, false, IntegerItems<std::uint8_t, Signed>>(
                first, stride, count, out);
        case 2:
            return decode_either_order<std::uint16_t, IntegerItems<std::uint16_t, Signed>>(
                swapped, first, stride, count, out);
        case 4:
            return decode_either_order<std::uint32_t, IntegerItems<std::uint32_t, Signed>>(
                swapped, first, stride, count, out);
        default:
            return decode_either_order<std::uint64_t, IntegerItems<std::uint64_t, Signed>>(
                swapped, first, stride, count, out);
    }
}

}  // namespace

std::optional<ItemFormat> parse_item_format(std::string_view format, std::size_t itemsize,
                                            FormatRules rules) {
    const std::optional<bool> swapped = take_byte_order(format, rules);
    if (!swapped || format.size() != 1) {
        return std::nullopt;
    }
    const std::optional<ItemKind> kind = kind_of_code(format.front(), rules);
    if (!kind || !width_fits(*kind, itemsize)) {
        return std::nullopt;
    }
    return ItemFormat{*kind, static_cast<std::uint8_t>(itemsize), *swapped && itemsize > 1};
}

bool decode_items(const ItemFormat& format, const char* first, std::ptrdiff_t stride,
                  std::size_t count, double* out) {
    switch (format.kind) {
        case ItemKind::signed_integer:
            return decode_integers<true>(format, first, stride, count, out);
        case ItemKind::unsigned_integer:
            return decode_integers<false>(format, first, stride, count, out);
        case ItemKind::boolean:
            return decode_run<std::uint8_t, false, BooleanItems>(first, stride, count, out);
        case ItemKind::float16:
            return decode_either_order<std::uint16_t, HalfItems>(format.swapped, first, stride,
                                                                 count, out);
        case ItemKind::float32:
            return decode_either_order<std::uint32_t, FloatItems>(format.swapped, first, stride,
                                                                  count, out);
        case ItemKind::float64:
            if (!format.swapped && stride == sizeof(double)) {
                if (count > 0) {
                    std::memcpy(out, first, count * sizeof(double));
                }
                return false;
            }
            return decode_either_order<std::uint64_t, DoubleItems>(format.swapped, first, stride,
                                                                   count, out);
    }
    return false;
}

}  // namespace pwpoly::binding
