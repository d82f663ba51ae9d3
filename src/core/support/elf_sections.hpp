// Finding, in the image of an ELF file, the sections that name the code of a
// backtrace frame: the symbol table, the DWARF line tables and the build-id.
#pragma once

#include <cstdint>

#include "support/byte_reader.hpp"

namespace pwpoly {

/// The parts of an ELF file that the backtrace symbolizer reads; each is empty
/// when the file lacks it (a stripped file has none but the build-id).
struct ElfSections {
    Bytes symbols;        ///< .symtab: records of this process's ElfW(Sym) type
    Bytes symbol_names;   ///< the string table that .symtab links to
    Bytes line_programs;  ///< .debug_line
    Bytes line_strings;   ///< .debug_line_str
    Bytes strings;        ///< .debug_str
    Bytes build_id;       ///< descriptor of the GNU build-id note
};

/// Finds the sections of `file`, the image of an ELF file of this process's
/// class and byte order. Returns false, with all sections empty, for anything
/// else or for headers that do not fit the image. A section that lies partly
/// outside the image, or is compressed (SHF_COMPRESSED), is left empty.
[[nodiscard]] bool find_elf_sections(Bytes file, ElfSections& sections) noexcept;

/// The descriptor of the first GNU build-id note (NT_GNU_BUILD_ID, owner
/// "GNU") among the note records in `notes`, padded to `alignment` (4 or 8)
/// bytes; empty when there is none or the records are malformed.
[[nodiscard]] Bytes find_build_id(Bytes notes, std::uint64_t alignment) noexcept;

}  // namespace pwpoly
