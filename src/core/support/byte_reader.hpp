// A bounded cursor over the bytes of an object file, for the ELF and DWARF
// readers of the backtrace symbolizer: every read stays inside its range.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

namespace pwpoly {

/// The bytes of a file section or part of one.
using Bytes = std::span<const unsigned char>;

/// Reads host-order integers, LEB128 numbers and NUL-terminated strings from a
/// range of bytes. A read that would cross the end of the range yields zero
/// (or an empty string), moves the cursor to the end and marks the reader
/// failed, so that a malformed file ends a loop instead of reading beyond it.
class ByteReader {
public:
    explicit ByteReader(Bytes bytes) noexcept : bytes_(bytes) {}

    /// False once any read has crossed the end of the range.
    [[nodiscard]] bool ok() const noexcept { return ok_; }
    /// True when no byte is left (or a read has failed).
    [[nodiscard]] bool at_end() const noexcept { return position_ >= bytes_.size(); }
    [[nodiscard]] std::size_t position() const noexcept { return position_; }
    [[nodiscard]] std::size_t remaining() const noexcept { return bytes_.size() - position_; }

    /// An unsigned integer of `size` bytes (1 to 8), in host byte order.
    [[nodiscard]] std::uint64_t unsigned_of_size(std::size_t size) noexcept {
        if (size > sizeof(std::uint64_t) || !take(size)) {
            return 0;
        }
        std::uint64_t value = 0;
        std::memcpy(&value, bytes_.data() + position_ - size, size);
        return value;
    }
    [[nodiscard]] std::uint8_t u8() noexcept {
        return static_cast<std::uint8_t>(unsigned_of_size(1));
    }
    [[nodiscard]] std::uint16_t u16() noexcept {
        return static_cast<std::uint16_t>(unsigned_of_size(2));
    }
    [[nodiscard]] std::uint32_t u32() noexcept {
        return static_cast<std::uint32_t>(unsigned_of_size(4));
    }
    [[nodiscard]] std::uint64_t u64() noexcept { return unsigned_of_size(8); }

    /// An unsigned LEB128 number; bits beyond the 64th are dropped.
    [[nodiscard]] std::uint64_t uleb128() noexcept {
        std::uint64_t value = 0;
        for (unsigned shift = 0;; shift += 7) {
            const std::uint8_t byte = u8();
            if (shift < 64) {
                value |= static_cast<std::uint64_t>(byte & 0x7fU) << shift;
            }
            if ((byte & 0x80U) == 0 || !ok_) {
                return value;
            }
        }
    }

    /// A signed LEB128 number; bits beyond the 64th are dropped.
    [[nodiscard]] std::int64_t sleb128() noexcept {
        std::uint64_t value = 0;
        unsigned shift = 0;
        std::uint8_t byte = 0;
        do {
            byte = u8();
            if (shift < 64) {
                value |= static_cast<std::uint64_t>(byte & 0x7fU) << shift;
            }
            shift += 7;
        } while ((byte & 0x80U) != 0 && ok_);
        if (shift < 64 && (byte & 0x40U) != 0) {
            value |= ~std::uint64_t{0} << shift;
        }
        return static_cast<std::int64_t>(value);
    }

    /// The string up to the next NUL, which is consumed too. The view's data
    /// is NUL-terminated in place.
    [[nodiscard]] std::string_view c_string() noexcept {
        if (at_end()) {
            fail();
            return {};
        }
        const auto* start = bytes_.data() + position_;
        const void* nul = std::memchr(start, 0, remaining());
        if (nul == nullptr) {
            fail();
            return {};
        }
        const auto length =
            static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - start);
        position_ += length + 1;
        return {reinterpret_cast<const char*>(start), length};
    }

    /// Skips `count` bytes.
    void skip(std::uint64_t count) noexcept { (void)take(count); }

    /// The next `count` bytes as a range of their own, consumed here.
    [[nodiscard]] Bytes sub_range(std::uint64_t count) noexcept {
        if (!take(count)) {
            return {};
        }
        return bytes_.subspan(position_ - count, count);
    }

private:
    bool take(std::uint64_t count) noexcept {
        if (!ok_ || count > remaining()) {
            fail();
            return false;
        }
        position_ += count;
        return true;
    }
    void fail() noexcept {
        ok_ = false;
        position_ = bytes_.size();
    }

    Bytes bytes_;
    std::size_t position_ = 0;
    bool ok_ = true;
};

/// The NUL-terminated string at `offset` in a string table, or an empty view
/// when the offset or the string's end lies outside the table.
[[nodiscard]] inline std::string_view string_at(Bytes table, std::uint64_t offset) noexcept {
    if (offset >= table.size()) {
        return {};
    }
    ByteReader reader(table.subspan(offset));
    return reader.c_string();
}

}  // namespace pwpoly
