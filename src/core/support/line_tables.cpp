// Running the line programs of DWARF line tables to map code addresses to
// source positions.
#include "support/line_tables.hpp"

#include <algorithm>
#include <array>
#include <limits>

#include "support/line_program_header.hpp"

namespace pwpoly {
namespace {

// Addresses looked up in one pass over the tables.
constexpr std::size_t batch_size = 32;

enum StandardOpcode : std::uint8_t {
    op_copy = 1,
    op_advance_pc = 2,
    op_advance_line = 3,
    op_set_file = 4,
    op_set_column = 5,
    op_const_add_pc = 8,
    op_fixed_advance_pc = 9,
};
enum ExtendedOpcode : std::uint8_t {
    op_end_sequence = 1,
    op_set_address = 2,
};

// The registers of the line-program state machine that a position needs.
struct Row {
    std::uint64_t address = 0;
    std::uint64_t file = 1;
    std::uint64_t line = 1;
    std::uint64_t column = 0;
};

// The best row found so far for each address of one batch: the covering row
// with the greatest address, and the unit it came from.
class BatchMatches {
public:
    explicit BatchMatches(std::span<const std::uint64_t> addresses) noexcept
        : addresses_(addresses) {
        const auto [lowest, highest] = std::minmax_element(addresses.begin(), addresses.end());
        lowest_ = *lowest;
        highest_ = *highest;
    }

    // Offers `row`, which covers [row.address, end), in unit number `unit`.
    void offer(const Row& row, std::uint64_t end, std::size_t unit) noexcept {
        if (end <= lowest_ || row.address > highest_) {
            return;
        }
        for (std::size_t i = 0; i < addresses_.size(); ++i) {
            const std::uint64_t address = addresses_[i];
            Match& match = matches_[i];
            if (row.address <= address && address < end &&
                (match.unit == none || row.address > match.row.address)) {
                match = {row, unit};
            }
        }
    }

    // Writes the positions that unit number `unit` gave.
    void resolve(const LineProgramHeader& header, std::size_t unit,
                 std::span<SourcePosition> found) const noexcept {
        for (std::size_t i = 0; i < addresses_.size(); ++i) {
            const Match& match = matches_[i];
            if (match.unit != unit) {
                continue;
            }
            const SourceFile file = source_file(header, match.row.file);
            found[i] = {file.directory, file.name, clamped(match.row.line),
                        clamped(match.row.column)};
        }
    }

private:
    static constexpr std::size_t none = std::numeric_limits<std::size_t>::max();
    struct Match {
        Row row;
        std::size_t unit = none;
    };
    static std::uint32_t clamped(std::uint64_t value) noexcept {
        return value > std::numeric_limits<std::uint32_t>::max()
                   ? 0
                   : static_cast<std::uint32_t>(value);
    }

    std::span<const std::uint64_t> addresses_;
    std::array<Match, batch_size> matches_{};
    std::uint64_t lowest_ = 0;
    std::uint64_t highest_ = 0;
};

// Runs the line program of one unit, offering every row with the range it
// covers. Ends at the program's end or at the first operand that does not fit.
class LineProgram {
public:
    LineProgram(const LineProgramHeader& header, BatchMatches& matches, std::size_t unit) noexcept
        : header_(header), matches_(matches), unit_(unit) {}

    void run() noexcept {
        ByteReader reader(header_.program);
        while (!reader.at_end()) {
            const std::uint8_t opcode = reader.u8();
            if (opcode >= header_.opcode_base) {
                special(opcode);
            } else if (opcode == 0) {
                extended(reader);
            } else {
                standard(opcode, reader);
            }
        }
    }

private:
    void special(std::uint8_t opcode) noexcept {
        const unsigned adjusted = opcode - header_.opcode_base;
        advance(adjusted / header_.line_range);
        const std::int64_t line_advance =
            std::int64_t{header_.line_base} + std::int64_t{adjusted % header_.line_range};
        state_.line += static_cast<std::uint64_t>(line_advance);
        emit_row(false);
    }

    void extended(ByteReader& reader) noexcept {
        const std::uint64_t length = reader.uleb128();
        ByteReader operands(reader.sub_range(length));
        const std::uint8_t opcode = operands.u8();
        if (opcode == op_end_sequence) {
            emit_row(true);
        } else if (opcode == op_set_address && length >= 2 && length <= 9) {
            state_.address = operands.unsigned_of_size(length - 1);
            operation_index_ = 0;
        }
    }

    void standard(std::uint8_t opcode, ByteReader& reader) noexcept {
        switch (opcode) {
            case op_copy:
                emit_row(false);
                break;
            case op_advance_pc:
                advance(reader.uleb128());
                break;
            case op_advance_line:
                state_.line += static_cast<std::uint64_t>(reader.sleb128());
                break;
            case op_set_file:
                state_.file = reader.uleb128();
                break;
            case op_set_column:
                state_.column = reader.uleb128();
                break;
            case op_const_add_pc:
                advance((255U - header_.opcode_base) / header_.line_range);
                break;
            case op_fixed_advance_pc:
                state_.address += reader.u16();
                operation_index_ = 0;
                break;
            default:
                // Other standard opcodes (is_stmt, basic block, prologue,
                // epilogue, ISA, and any the header declares) only have
                // LEB128 operands, as many as the header says.
                const unsigned operands = opcode - 1U < header_.standard_opcode_lengths.size()
                                              ? header_.standard_opcode_lengths[opcode - 1U]
                                              : 0U;
                for (unsigned i = 0; i < operands; ++i) {
                    (void)reader.uleb128();
                }
                break;
        }
    }

    // Advances the address by `operations` operations (VLIW bundles count
    // their operations in operation_index_).
    void advance(std::uint64_t operations) noexcept {
        const std::uint64_t per_instruction = header_.maximum_operations_per_instruction;
        if (per_instruction == 1) {
            state_.address += header_.minimum_instruction_length * operations;
            return;
        }
        const std::uint64_t total = operation_index_ + operations;
        state_.address += header_.minimum_instruction_length * (total / per_instruction);
        operation_index_ = total % per_instruction;
    }

    // A new row: the previous row of the sequence covers the addresses up to
    // this one. The row that ends a sequence covers nothing itself.
    void emit_row(bool end_of_sequence) noexcept {
        if (in_sequence_) {
            matches_.offer(previous_, state_.address, unit_);
        }
        previous_ = state_;
        in_sequence_ = !end_of_sequence;
        if (end_of_sequence) {
            state_ = {};
            operation_index_ = 0;
        }
    }

    const LineProgramHeader& header_;
    BatchMatches& matches_;
    std::size_t unit_;
    Row state_;
    Row previous_;
    std::uint64_t operation_index_ = 0;
    bool in_sequence_ = false;
};

void find_batch(const ElfSections& sections, std::span<const std::uint64_t> addresses,
                std::span<SourcePosition> found) noexcept {
    BatchMatches matches(addresses);
    ByteReader units(sections.line_programs);
    for (std::size_t unit = 0; !units.at_end(); ++unit) {
        std::uint64_t length = units.u32();
        unsigned offset_size = 4;
        if (length == 0xffffffffU) {
            length = units.u64();
            offset_size = 8;
        } else if (length >= 0xfffffff0U) {
            return;  // reserved lengths: nothing after them can be trusted
        }
        const Bytes bytes = units.sub_range(length);
        LineProgramHeader header;
        if (!units.ok()) {
            return;
        }
        if (!parse_line_program_header(bytes, offset_size, sections, header)) {
            continue;
        }
        LineProgram(header, matches, unit).run();
        matches.resolve(header, unit, found);
    }
}

}  // namespace

void find_source_positions(const ElfSections& sections, std::span<const std::uint64_t> addresses,
                           std::span<SourcePosition> found) noexcept {
    const std::size_t count = std::min(addresses.size(), found.size());
    std::fill_n(found.begin(), count, SourcePosition{});
    for (std::size_t first = 0; first < count; first += batch_size) {
        const std::size_t size = std::min(batch_size, count - first);
        find_batch(sections, addresses.subspan(first, size), found.subspan(first, size));
    }
}

}  // namespace pwpoly
