// The header of one unit of DWARF line tables (versions 2 to 5): the
// parameters of its line program and its tables of directories and files.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "support/byte_reader.hpp"
#include "support/elf_sections.hpp"

namespace pwpoly {

/// How each entry of a version 5 directory or file table is encoded: pairs of
/// (content type, attribute form).
struct EntryFormat {
    struct Field {
        std::uint64_t content = 0;
        std::uint64_t form = 0;
    };
    std::array<Field, 8> fields{};
    std::size_t count = 0;
};

/// What the line program of a unit needs of its header, and where its tables
/// lie. Tables are kept as bytes and read entry by entry when a file is asked
/// for, so that parsing allocates nothing.
struct LineProgramHeader {
    unsigned version = 0;
    unsigned offset_size = 4;   ///< 4, or 8 in the 64-bit DWARF format
    unsigned address_size = 0;  ///< 0 before version 5: taken from DW_LNE_set_address
    std::uint8_t minimum_instruction_length = 1;
    std::uint8_t maximum_operations_per_instruction = 1;
    std::int8_t line_base = 0;
    std::uint8_t line_range = 1;  ///< never 0 in a parsed header
    std::uint8_t opcode_base = 1;
    Bytes standard_opcode_lengths;      ///< operand counts of opcodes 1 … opcode_base − 1
    Bytes directories;                  ///< from the first directory entry to the header's end
    std::uint64_t directory_count = 0;  ///< version 5 only; earlier tables end with an empty name
    EntryFormat directory_format;
    Bytes files;  ///< from the first file entry to the header's end
    std::uint64_t file_count = 0;
    EntryFormat file_format;
    Bytes program;       ///< the line program: the rest of the unit
    Bytes line_strings;  ///< .debug_line_str and .debug_str, for names given as offsets
    Bytes strings;
};

/// A source file named by a line table: its directory as the table names it
/// (empty for the compilation directory and for absolute names) and its name.
struct SourceFile {
    std::string_view directory;
    std::string_view name;
};

/// Parses the header of `unit`, the bytes of one unit after its length field;
/// `offset_size` is 8 for a unit in the 64-bit format, else 4. Names given as
/// offsets refer to `sections.line_strings` and `sections.strings`. False for
/// an unknown version, an encoding this reader does not know, or a header
/// that does not fit the unit.
[[nodiscard]] bool parse_line_program_header(Bytes unit, unsigned offset_size,
                                             const ElfSections& sections,
                                             LineProgramHeader& header) noexcept;

/// The file that line-program file number `index` means (numbered from 0 in
/// version 5, from 1 before), or empty names when the table has no such
/// entry or cannot be read.
[[nodiscard]] SourceFile source_file(const LineProgramHeader& header, std::uint64_t index) noexcept;

}  // namespace pwpoly
