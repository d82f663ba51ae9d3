// Parsing the header of a DWARF line-table unit and naming its files.
#include "support/line_program_header.hpp"

namespace pwpoly {
namespace {

// Content types of version 5 directory and file entries.
constexpr std::uint64_t content_path = 0x1;
constexpr std::uint64_t content_directory_index = 0x2;

// The attribute forms a line-table entry may use.
enum Form : std::uint64_t {
    form_block2 = 0x03,
    form_block4 = 0x04,
    form_data2 = 0x05,
    form_data4 = 0x06,
    form_data8 = 0x07,
    form_string = 0x08,
    form_block = 0x09,
    form_block1 = 0x0a,
    form_data1 = 0x0b,
    form_sdata = 0x0d,
    form_strp = 0x0e,
    form_udata = 0x0f,
    form_strx = 0x1a,
    form_data16 = 0x1e,
    form_line_strp = 0x1f,
    form_strx1 = 0x25,
    form_strx2 = 0x26,
    form_strx3 = 0x27,
    form_strx4 = 0x28,
};

// One value of an entry: a name, a number, or neither.
struct FormValue {
    std::string_view text;
    std::uint64_t number = 0;
};

// Reads one value of `form`; false for a form this reader does not know.
// Indexed strings (strx) need the unit's string offsets, which only the
// debugging information gives: they read as empty names.
bool read_form(ByteReader& reader, std::uint64_t form, const LineProgramHeader& header,
               FormValue& value) noexcept {
    value = {};
    switch (form) {
        case form_string:
            value.text = reader.c_string();
            return true;
        case form_line_strp:
            value.text =
                string_at(header.line_strings, reader.unsigned_of_size(header.offset_size));
            return true;
        case form_strp:
            value.text = string_at(header.strings, reader.unsigned_of_size(header.offset_size));
            return true;
        case form_udata:
        case form_strx:
            value.number = reader.uleb128();
            return true;
        case form_sdata:
            value.number = static_cast<std::uint64_t>(reader.sleb128());
            return true;
        case form_data1:
        case form_strx1:
            value.number = reader.u8();
            return true;
        case form_data2:
        case form_strx2:
            value.number = reader.u16();
            return true;
        case form_strx3:
            value.number = reader.unsigned_of_size(3);
            return true;
        case form_data4:
        case form_strx4:
            value.number = reader.u32();
            return true;
        case form_data8:
            value.number = reader.u64();
            return true;
        case form_data16:
            reader.skip(16);
            return true;
        case form_block:
            reader.skip(reader.uleb128());
            return true;
        case form_block1:
            reader.skip(reader.u8());
            return true;
        case form_block2:
            reader.skip(reader.u16());
            return true;
        case form_block4:
            reader.skip(reader.u32());
            return true;
        default:
            return false;
    }
}

bool is_name_form(std::uint64_t form) noexcept {
    return form == form_string || form == form_line_strp || form == form_strp;
}

// One directory or file entry of a version 5 table.
struct Entry {
    std::string_view path;
    std::uint64_t directory_index = 0;
};

bool read_entry(ByteReader& reader, const EntryFormat& format, const LineProgramHeader& header,
                Entry& entry) noexcept {
    entry = {};
    for (std::size_t i = 0; i < format.count; ++i) {
        const EntryFormat::Field& field = format.fields[i];
        FormValue value;
        if (!read_form(reader, field.form, header, value)) {
            return false;
        }
        if (field.content == content_path && is_name_form(field.form)) {
            entry.path = value.text;
        } else if (field.content == content_directory_index) {
            entry.directory_index = value.number;
        }
    }
    return reader.ok();
}

bool read_format(ByteReader& reader, EntryFormat& format) noexcept {
    format.count = reader.u8();
    if (format.count > format.fields.size()) {
        return false;
    }
    for (std::size_t i = 0; i < format.count; ++i) {
        format.fields[i].content = reader.uleb128();
        format.fields[i].form = reader.uleb128();
    }
    return reader.ok();
}

// Skips `count` entries of a version 5 table; false when they do not fit.
bool skip_entries(ByteReader& reader, const EntryFormat& format, std::uint64_t count,
                  const LineProgramHeader& header) noexcept {
    for (std::uint64_t i = 0; i < count; ++i) {
        Entry entry;
        if (!read_entry(reader, format, header, entry)) {
            return false;
        }
    }
    return true;
}

// Parses the tables of a version 5 header, from the directory entry format on.
bool parse_tables_v5(ByteReader& reader, LineProgramHeader& header) noexcept {
    if (!read_format(reader, header.directory_format)) {
        return false;
    }
    header.directory_count = reader.uleb128();
    header.directories = reader.sub_range(reader.remaining());
    ByteReader directories(header.directories);
    if (!skip_entries(directories, header.directory_format, header.directory_count, header) ||
        !read_format(directories, header.file_format)) {
        return false;
    }
    header.file_count = directories.uleb128();
    header.files = directories.sub_range(directories.remaining());
    return directories.ok();
}

// Before version 5 each table is a list ending with an empty name; a file
// entry is its name and three numbers (directory, time, size).
bool parse_tables_v4(ByteReader& reader, LineProgramHeader& header) noexcept {
    header.directories = reader.sub_range(reader.remaining());
    ByteReader directories(header.directories);
    while (!directories.c_string().empty()) {
    }
    header.files = directories.sub_range(directories.remaining());
    return directories.ok();
}

// Entry `index` of a list that ends with an empty name.
std::string_view old_style_entry(Bytes table, std::uint64_t index, bool file_entries,
                                 std::uint64_t& directory_index) noexcept {
    ByteReader reader(table);
    for (std::uint64_t i = 0;; ++i) {
        const std::string_view name = reader.c_string();
        if (name.empty()) {
            return {};
        }
        if (file_entries) {
            directory_index = reader.uleb128();
            (void)reader.uleb128();
            (void)reader.uleb128();
        }
        if (i == index) {
            return reader.ok() ? name : std::string_view{};
        }
    }
}

// Entry `index` of a version 5 table.
bool new_style_entry(Bytes table, const EntryFormat& format, std::uint64_t count,
                     std::uint64_t index, const LineProgramHeader& header, Entry& entry) noexcept {
    if (index >= count) {
        return false;
    }
    ByteReader reader(table);
    return skip_entries(reader, format, index, header) && read_entry(reader, format, header, entry);
}

}  // namespace

bool parse_line_program_header(Bytes unit, unsigned offset_size, const ElfSections& sections,
                               LineProgramHeader& header) noexcept {
    header = {};
    header.offset_size = offset_size;
    header.line_strings = sections.line_strings;
    header.strings = sections.strings;
    ByteReader reader(unit);
    header.version = reader.u16();
    if (header.version < 2 || header.version > 5) {
        return false;
    }
    if (header.version >= 5) {
        header.address_size = reader.u8();
        (void)reader.u8();  // segment selector size
    }
    const std::uint64_t header_length = reader.unsigned_of_size(offset_size);
    ByteReader fields(reader.sub_range(header_length));
    header.program = reader.sub_range(reader.remaining());
    header.minimum_instruction_length = fields.u8();
    if (header.version >= 4) {
        header.maximum_operations_per_instruction = fields.u8();
    }
    (void)fields.u8();  // default is_stmt: every row counts here
    header.line_base = static_cast<std::int8_t>(fields.u8());
    header.line_range = fields.u8();
    header.opcode_base = fields.u8();
    header.standard_opcode_lengths =
        fields.sub_range(header.opcode_base == 0 ? 0 : header.opcode_base - 1);
    if (!fields.ok() || !reader.ok() || header.line_range == 0 ||
        header.maximum_operations_per_instruction == 0) {
        return false;
    }
    return header.version >= 5 ? parse_tables_v5(fields, header) : parse_tables_v4(fields, header);
}

SourceFile source_file(const LineProgramHeader& header, std::uint64_t index) noexcept {
    SourceFile file;
    std::uint64_t directory_index = 0;
    if (header.version >= 5) {
        Entry entry;
        if (!new_style_entry(header.files, header.file_format, header.file_count, index, header,
                             entry)) {
            return {};
        }
        file.name = entry.path;
        directory_index = entry.directory_index;
        Entry directory;
        if (directory_index != 0 &&
            new_style_entry(header.directories, header.directory_format, header.directory_count,
                            directory_index, header, directory)) {
            file.directory = directory.path;
        }
    } else {
        if (index == 0) {
            return {};
        }
        file.name = old_style_entry(header.files, index - 1, true, directory_index);
        std::uint64_t unused = 0;
        if (directory_index != 0) {
            file.directory =
                old_style_entry(header.directories, directory_index - 1, false, unused);
        }
    }
    // Directory 0 is the compilation directory, which the report leaves out
    // so that names stay relative to the sources, as in the report's header.
    if (file.name.starts_with('/')) {
        file.directory = {};
    }
    return file;
}

}  // namespace pwpoly
