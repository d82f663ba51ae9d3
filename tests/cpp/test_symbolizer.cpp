// The backtrace symbolizer: this test binary's own functions resolve to their
// names, files and lines; hand-made line tables of DWARF 4 and 5 map to their
// rows; damaged tables and files give empty results, never a crash.
#include <cxxabi.h>
#include <dlfcn.h>
#include <elf.h>
#include <gtest/gtest.h>
#include <link.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "support/elf_sections.hpp"
#include "support/function_symbols.hpp"
#include "support/line_tables.hpp"
#include "support/own_object_file.hpp"
#include "support/symbolizer.hpp"

namespace pwpoly {
namespace {

// Kept out of line and out of interprocedural analysis, so that each has
// code of its own at a known line.
[[gnu::noipa]] int line_of_marker() { return __LINE__; }

[[gnu::noipa]] void* return_address() { return __builtin_return_address(0); }

[[gnu::noipa]] int capture_return_address(void*& address) {
    const int line = (address = return_address(), __LINE__);
    return line;
}

std::string demangle(std::string_view name) {
    int status = 0;
    const std::unique_ptr<char, decltype(&std::free)> text(
        abi::__cxa_demangle(std::string(name).c_str(), nullptr, nullptr, &status), &std::free);
    return status == 0 ? std::string(text.get()) : std::string(name);
}

FrameSymbol symbolize(std::uintptr_t address) {
    std::array<FrameSymbol, 1> found{};
    symbolize_own_code(std::span(&address, 1), found);
    return found[0];
}

std::string place(const SourcePosition& position) {
    return std::string(position.directory) + "|" + std::string(position.file) + ":" +
           std::to_string(position.line) + ":" + std::to_string(position.column);
}

TEST(Symbolizer, NamesItsOwnFunctionsWithFileAndLine) {
    const int marker_line = line_of_marker();
    const FrameSymbol marker = symbolize(reinterpret_cast<std::uintptr_t>(&line_of_marker));
    EXPECT_NE(demangle(marker.function).find("line_of_marker()"), std::string::npos)
        << marker.function;
    EXPECT_EQ(marker.position.directory, "tests/cpp");
    EXPECT_EQ(marker.position.file, "test_symbolizer.cpp");
    EXPECT_EQ(marker.position.line, static_cast<std::uint32_t>(marker_line));

    // A return address less one lies in the call: the caller's name and the
    // line of the call.
    void* address = nullptr;
    const int call_line = capture_return_address(address);
    const FrameSymbol caller = symbolize(reinterpret_cast<std::uintptr_t>(address) - 1);
    EXPECT_NE(demangle(caller.function).find("capture_return_address("), std::string::npos)
        << caller.function;
    EXPECT_EQ(caller.position.file, "test_symbolizer.cpp");
    EXPECT_EQ(caller.position.line, static_cast<std::uint32_t>(call_line));
    EXPECT_NE(caller.position.column, 0U);
}

TEST(Symbolizer, AddressesOutsideThisObjectAreNotNamed) {
    const int on_stack = 0;
    const std::array<std::uintptr_t, 4> addresses{
        0, reinterpret_cast<std::uintptr_t>(&on_stack),
        reinterpret_cast<std::uintptr_t>(dlsym(RTLD_DEFAULT, "malloc")), ~std::uintptr_t{0}};
    std::array<FrameSymbol, 4> found{};
    found.fill({"stale", {"stale", "stale", 1, 1}});
    symbolize_own_code(addresses, found);
    for (const FrameSymbol& symbol : found) {
        EXPECT_TRUE(symbol.function.empty());
        EXPECT_TRUE(symbol.position.file.empty());
    }
}

TEST(Symbolizer, RepeatedAndLongLookUpsAgreeWithTheTables) {
    // Addresses all over this binary's loaded extent, more than one pass and
    // than the kept results take, with foreign ones in between; twice, the
    // second time from the kept results where they still are.
    const OwnObjectFile* file = own_object_file();
    ASSERT_NE(file, nullptr);
    std::vector<std::uintptr_t> addresses;
    addresses.reserve(300);
    for (std::uintptr_t i = 0; i < 300; ++i) {
        addresses.push_back(i % 3 == 0 ? i : file->begin + i * ((file->end - file->begin) / 300));
    }
    std::vector<std::uint64_t> file_addresses;
    file_addresses.reserve(addresses.size());
    for (const std::uintptr_t address : addresses) {
        file_addresses.push_back(address - file->bias);
    }
    std::vector<std::string_view> names(addresses.size());
    std::vector<SourcePosition> positions(addresses.size());
    find_function_names(file->sections.symbols, file->sections.symbol_names, file_addresses, names);
    find_source_positions(file->sections, file_addresses, positions);
    EXPECT_GT(std::count_if(positions.begin(), positions.end(),
                            [](const SourcePosition& p) { return !p.file.empty(); }),
              20);
    for (int round = 0; round < 2; ++round) {
        std::vector<FrameSymbol> found(addresses.size());
        symbolize_own_code(addresses, found);
        for (std::size_t i = 0; i < found.size(); ++i) {
            const bool own = i % 3 != 0;
            EXPECT_EQ(found[i].function, own ? names[i] : "") << i;
            EXPECT_EQ(place(found[i].position), own ? place(positions[i]) : "|:0:0") << i;
        }
    }
}

// Little-endian writer of the synthetic tables below.
struct Writer {
    std::vector<unsigned char> bytes;
    void u8(std::uint64_t value) { bytes.push_back(static_cast<unsigned char>(value)); }
    void integer(std::uint64_t value, int size) {
        for (int i = 0; i < size; ++i) {
            u8(value);
            value >>= 8U;
        }
    }
    void uleb(std::uint64_t value) {
        do {
            u8((value & 0x7fU) | (value >= 0x80 ? 0x80U : 0U));
            value >>= 7;
        } while (value != 0);
    }
    void sleb(std::int64_t value) {
        // Seven bits at a time of the two's complement form, until the rest
        // is all sign bits and bit 6 of the last byte shows the sign.
        const bool negative = value < 0;
        auto bits = static_cast<std::uint64_t>(value);
        for (;;) {
            const auto byte = static_cast<std::uint8_t>(bits & 0x7fU);
            bits = negative ? (bits >> 7U) | ~(~std::uint64_t{0} >> 7U) : bits >> 7U;
            const bool done = negative ? bits == ~std::uint64_t{0} && (byte & 0x40U) != 0
                                       : bits == 0 && (byte & 0x40U) == 0;
            u8(done ? byte : byte | 0x80U);
            if (done) {
                return;
            }
        }
    }
    void text(std::string_view value) {
        bytes.insert(bytes.end(), value.begin(), value.end());
        u8(0);
    }
    void append(const std::vector<unsigned char>& more) {
        bytes.insert(bytes.end(), more.begin(), more.end());
    }
};

struct LineTableForm {
    int version;
    int offset_size;        // 8: the 64-bit DWARF format
    bool names_in_strings;  // version 5: names as offsets into .debug_line_str
};

// One unit with two sequences:
//   0x1000 … 0x100f  src/lib/lib.cpp:10:5
//   0x1010           src/lib/lib.cpp:12:5
//   0x1011 … 0x1012  src/lib/lib.cpp:15:5
//   0x1013 … 0x101f  src/lib/lib.cpp:13:5, then the sequence ends
//   0x2000 … 0x2003  main.cpp:1 (directory 0, the compilation directory)
//   0x3000 … 0x3003  /abs/x.h:7 (an absolute name in directory src/lib)
struct SyntheticTables {
    std::vector<unsigned char> lines;
    std::vector<unsigned char> line_strings;
};

SyntheticTables synthetic_tables(const LineTableForm& form) {
    SyntheticTables tables;
    const bool v5 = form.version >= 5;
    const std::uint64_t main_file = v5 ? 0 : 1;  // numbered from 0 in version 5
    const std::uint64_t lib_file = main_file + 1;
    const std::uint64_t absolute_file = main_file + 2;
    Writer names;
    const auto name = [&](std::string_view text, Writer& out) {
        if (form.names_in_strings) {
            out.integer(names.bytes.size(), form.offset_size);
            names.text(text);
        } else {
            out.text(text);
        }
    };
    const std::uint64_t name_form = form.names_in_strings ? 0x1f : 0x08;

    Writer header;  // from minimum_instruction_length to the program
    header.u8(1);   // minimum instruction length
    if (form.version >= 4) {
        header.u8(1);  // maximum operations per instruction
    }
    header.u8(1);                              // default is_stmt
    header.u8(static_cast<std::uint8_t>(-5));  // line base
    header.u8(14);                             // line range
    header.u8(13);                             // opcode base
    for (const int operands : {0, 1, 1, 1, 1, 0, 0, 0, 1, 0, 0, 1}) {
        header.u8(operands);
    }
    if (v5) {
        header.u8(1);
        header.uleb(1);  // path
        header.uleb(name_form);
        header.uleb(2);
        name("/build", header);
        name("src/lib", header);
        header.u8(2);
        header.uleb(1);
        header.uleb(name_form);
        header.uleb(2);     // directory index
        header.uleb(0x0b);  // as data1
        header.uleb(3);
        name("main.cpp", header);
        header.u8(0);
        name("lib.cpp", header);
        header.u8(1);
        name("/abs/x.h", header);
        header.u8(1);
    } else {
        header.text("src/lib");
        header.u8(0);
        for (const auto& [file, directory] :
             {std::pair{"main.cpp", 0}, std::pair{"lib.cpp", 1}, std::pair{"/abs/x.h", 1}}) {
            header.text(file);
            header.uleb(directory);
            header.uleb(0);
            header.uleb(0);
        }
        header.u8(0);
    }

    Writer program;
    const auto set_address = [&](std::uint64_t address) {
        program.u8(0);
        program.uleb(9);
        program.u8(2);
        program.integer(address, 8);
    };
    const auto end_sequence = [&] {
        program.u8(0);
        program.uleb(1);
        program.u8(1);
    };
    set_address(0x1000);
    program.u8(4);  // set file
    program.uleb(lib_file);
    program.u8(3);  // advance line
    program.sleb(9);
    program.u8(5);  // set column
    program.uleb(5);
    program.u8(1);  // copy
    program.u8(2);  // advance pc
    program.uleb(0x10);
    program.u8(3);
    program.sleb(2);
    program.u8(1);
    program.u8((3 - -5) + 14 * 1 + 13);   // special: address + 1, line + 3
    program.u8((-2 - -5) + 14 * 2 + 13);  // special: address + 2, line - 2
    program.u8(7);                        // basic block, no operands
    program.u8(2);
    program.uleb(0x0d);
    end_sequence();
    set_address(0x2000);
    program.u8(4);
    program.uleb(main_file);
    program.u8(1);
    program.u8(9);  // fixed advance pc
    program.integer(4, 2);
    end_sequence();
    set_address(0x3000);
    program.u8(4);
    program.uleb(absolute_file);
    program.u8(3);
    program.sleb(6);
    program.u8(1);
    program.u8(2);
    program.uleb(4);
    end_sequence();

    Writer unit;  // after the unit length
    unit.integer(form.version, 2);
    if (v5) {
        unit.u8(8);  // address size
        unit.u8(0);  // segment selector size
    }
    unit.integer(header.bytes.size(), form.offset_size);
    unit.append(header.bytes);
    unit.append(program.bytes);

    Writer all;
    if (form.offset_size == 8) {
        all.integer(0xffffffffU, 4);
        all.integer(unit.bytes.size(), 8);
    } else {
        all.integer(unit.bytes.size(), 4);
    }
    all.append(unit.bytes);
    tables.lines = all.bytes;
    tables.line_strings = names.bytes;
    return tables;
}

const std::array<std::uint64_t, 12> probe_addresses{0x0fff, 0x1000, 0x100f, 0x1010, 0x1012, 0x1013,
                                                    0x101f, 0x1020, 0x2000, 0x2003, 0x2004, 0x3002};
const std::array<const char*, 12> expected_places{"|:0:0",
                                                  "src/lib|lib.cpp:10:5",
                                                  "src/lib|lib.cpp:10:5",
                                                  "src/lib|lib.cpp:12:5",
                                                  "src/lib|lib.cpp:15:5",
                                                  "src/lib|lib.cpp:13:5",
                                                  "src/lib|lib.cpp:13:5",
                                                  "|:0:0",
                                                  "|main.cpp:1:0",
                                                  "|main.cpp:1:0",
                                                  "|:0:0",
                                                  "|/abs/x.h:7:0"};

std::vector<std::string> places_in(const ElfSections& sections) {
    std::array<SourcePosition, probe_addresses.size()> found{};
    find_source_positions(sections, probe_addresses, found);
    std::vector<std::string> places;
    places.reserve(found.size());
    for (const SourcePosition& position : found) {
        places.push_back(place(position));
    }
    return places;
}

class LineTables : public ::testing::TestWithParam<LineTableForm> {};

TEST_P(LineTables, AddressesMapToTheRowsThatCoverThem) {
    const SyntheticTables tables = synthetic_tables(GetParam());
    ElfSections sections;
    sections.line_programs = tables.lines;
    sections.line_strings = tables.line_strings;
    EXPECT_EQ(places_in(sections),
              std::vector<std::string>(expected_places.begin(), expected_places.end()));

    // A unit that cannot be read is passed over for the next one.
    std::vector<unsigned char> twice = tables.lines;
    twice[GetParam().offset_size == 8 ? 12 : 4] = 99;  // version
    twice.insert(twice.end(), tables.lines.begin(), tables.lines.end());
    sections.line_programs = twice;
    EXPECT_EQ(places_in(sections),
              std::vector<std::string>(expected_places.begin(), expected_places.end()));
}

TEST_P(LineTables, EveryTruncationAndDamageIsSurvived) {
    const SyntheticTables tables = synthetic_tables(GetParam());
    ElfSections sections;
    sections.line_strings = tables.line_strings;
    // Units cut short, with the unit length telling the cut size: what is
    // read before the cut is right, nothing after it is found. Each copy has
    // exactly the cut size, so that the sanitizers catch a read beyond it.
    const std::size_t length_size = GetParam().offset_size == 8 ? 12 : 4;
    for (std::size_t size = length_size; size < tables.lines.size(); ++size) {
        std::vector<unsigned char> cut(tables.lines.begin(),
                                       tables.lines.begin() + static_cast<std::ptrdiff_t>(size));
        const std::uint64_t length = size - length_size;
        std::memcpy(cut.data() + length_size - (length_size == 12 ? 8 : 4), &length,
                    length_size == 12 ? 8 : 4);
        sections.line_programs = cut;
        const std::vector<std::string> found = places_in(sections);
        for (std::size_t i = 0; i < found.size(); ++i) {
            EXPECT_TRUE(found[i] == "|:0:0" || found[i] == expected_places[i])
                << "cut at " << size << ": " << found[i];
        }
    }
    std::mt19937 random(12345);  // NOLINT(bugprone-random-generator-seed): the same damage each run
    for (int round = 0; round < 2000; ++round) {
        std::vector<unsigned char> damaged = tables.lines;
        damaged[random() % damaged.size()] = static_cast<unsigned char>(random());
        sections.line_programs = damaged;
        (void)places_in(sections);
    }
}

INSTANTIATE_TEST_SUITE_P(Forms, LineTables,
                         ::testing::Values(LineTableForm{4, 4, false}, LineTableForm{5, 4, false},
                                           LineTableForm{5, 8, true}, LineTableForm{3, 4, false}));

ElfW(Sym) function_symbol(std::uint32_t name, std::uint64_t value, std::uint64_t size,
                          unsigned char type = STT_FUNC) {
    ElfW(Sym) symbol{};
    symbol.st_name = name;
    symbol.st_value = value;
    symbol.st_size = size;
    symbol.st_info = static_cast<unsigned char>(ELF64_ST_INFO(STB_LOCAL, type));
    symbol.st_shndx = 1;
    return symbol;
}

TEST(FunctionSymbols, TheSmallestFunctionHoldingTheAddressWins) {
    const std::string_view names("\0outer\0inner\0data\0empty\0", 24);
    const std::array<ElfW(Sym), 5> table{
        function_symbol(1, 0x100, 0x100), function_symbol(7, 0x180, 0x10),
        function_symbol(13, 0x100, 0x1000, STT_OBJECT), function_symbol(18, 0x300, 0),
        function_symbol(999, 0x100, 0x8)};  // name outside the string table
    const Bytes symbols(reinterpret_cast<const unsigned char*>(table.data()), sizeof(table));
    const Bytes strings(reinterpret_cast<const unsigned char*>(names.data()), names.size());
    const std::array<std::uint64_t, 6> addresses{0x100, 0x17f, 0x185, 0x190, 0x1ff, 0x300};
    std::array<std::string_view, 6> found{};
    find_function_names(symbols, strings, addresses, found);
    EXPECT_EQ(found,
              (std::array<std::string_view, 6>{"outer", "outer", "inner", "outer", "outer", ""}));
    // A table cut inside a record reads the whole records only.
    find_function_names(symbols.first(sizeof(ElfW(Sym)) + 5), strings, addresses, found);
    EXPECT_EQ(found[2], "outer");
}

std::vector<unsigned char> own_file() {
    std::ifstream file("/proc/self/exe", std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

TEST(ElfSections, TheTestBinaryHasItsTablesAndDamageIsSurvived) {
    const std::vector<unsigned char> file = own_file();
    ElfSections sections;
    ASSERT_TRUE(find_elf_sections(file, sections));
    EXPECT_FALSE(sections.symbols.empty());
    EXPECT_FALSE(sections.symbol_names.empty());
    EXPECT_FALSE(sections.line_programs.empty());

    for (std::size_t size : {std::size_t{0}, std::size_t{3}, sizeof(ElfW(Ehdr)) - 1,
                             sizeof(ElfW(Ehdr)), file.size() / 2, file.size() - 1}) {
        const std::vector<unsigned char> cut(file.begin(),
                                             file.begin() + static_cast<std::ptrdiff_t>(size));
        ElfSections found;
        if (find_elf_sections(cut, found)) {
            // Whatever was found lies inside the cut image.
            for (const Bytes part : {found.symbols, found.symbol_names, found.line_programs,
                                     found.line_strings, found.strings, found.build_id}) {
                EXPECT_TRUE(part.empty() || (part.data() >= cut.data() &&
                                             part.data() + part.size() <= cut.data() + cut.size()));
            }
        }
    }
    std::vector<unsigned char> foreign = file;
    foreign[EI_CLASS] = foreign[EI_CLASS] == ELFCLASS64 ? ELFCLASS32 : ELFCLASS64;
    EXPECT_FALSE(find_elf_sections(foreign, sections));
    EXPECT_TRUE(sections.symbols.empty());
}

TEST(ElfSections, DamagedLineTablesOfTheTestBinaryAreSurvived) {
    const std::vector<unsigned char> file = own_file();
    ElfSections sections;
    ASSERT_TRUE(find_elf_sections(file, sections));
    const Bytes lines = sections.line_programs;
    const std::array<std::uint64_t, 1> address{reinterpret_cast<std::uintptr_t>(&line_of_marker)};
    std::array<SourcePosition, 1> found{};
    std::mt19937 random(7);  // NOLINT(bugprone-random-generator-seed): the same damage each run
    for (int round = 0; round < 40; ++round) {
        std::vector<unsigned char> damaged(lines.begin(), lines.end());
        for (int flip = 0; flip < 8; ++flip) {
            damaged[random() % damaged.size()] = static_cast<unsigned char>(random());
        }
        damaged.resize(random() % (damaged.size() + 1));
        sections.line_programs = damaged;
        find_source_positions(sections, address, found);
    }
}

TEST(ElfSections, BuildIdIsFoundAmongOtherNotes) {
    Writer notes;
    const auto note = [&](std::string_view owner, std::uint32_t type, std::string_view data) {
        notes.integer(owner.size() + 1, 4);
        notes.integer(data.size(), 4);
        notes.integer(type, 4);
        notes.text(owner);
        while (notes.bytes.size() % 4 != 0) {
            notes.u8(0);
        }
        notes.bytes.insert(notes.bytes.end(), data.begin(), data.end());
        while (notes.bytes.size() % 4 != 0) {
            notes.u8(0);
        }
    };
    note("GNU", NT_GNU_PROPERTY_TYPE_0, "property");
    note("Other", NT_GNU_BUILD_ID, "not this");
    note("GNU", NT_GNU_BUILD_ID, "\x01\x02\x03\x04\x05");
    const Bytes id = find_build_id(notes.bytes, 4);
    EXPECT_EQ(std::string(id.begin(), id.end()), "\x01\x02\x03\x04\x05");
    // A note whose size runs past the end is no note.
    EXPECT_TRUE(find_build_id(Bytes(notes.bytes).first(notes.bytes.size() - 4), 4).empty());
}

}  // namespace
}  // namespace pwpoly
