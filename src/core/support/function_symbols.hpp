// Naming code addresses from an ELF symbol table: the function symbol whose
// range holds each address.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "support/byte_reader.hpp"

namespace pwpoly {

/// For each of `addresses` (in the file's own address layout, that is the
/// address in memory less the object's load bias), writes to the same position
/// of `names` the (mangled) name of the function symbol of `symbols` whose
/// range [value, value + size) holds it, or an empty view when none does.
/// Among several such symbols the smallest range wins (the part of a function
/// split off by the compiler, say, over an enclosing alias). `symbols` holds
/// records of this process's ElfW(Sym) type, `names` the string table they
/// refer to; records or names outside their tables are skipped. The views
/// point into `names` and are NUL-terminated in place. One pass over the
/// table, no allocation.
void find_function_names(Bytes symbols, Bytes names, std::span<const std::uint64_t> addresses,
                         std::span<std::string_view> found) noexcept;

}  // namespace pwpoly
