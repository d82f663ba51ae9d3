// The soft rejection of raw compressed-row data: a kind and a message.
#pragma once

#include <string>

namespace pwpoly {

/// What is wrong with raw compressed-row data. The order of the enumerators is
/// fixed.
enum class SparseFormatErrorKind { IndexOutOfBounds, DuplicateEntry, InvalidStructure };

/// The rejection returned by try_from_csr_data: a kind and the message text.
struct SparseFormatError {
    SparseFormatErrorKind kind;
    std::string error;

    friend bool operator==(const SparseFormatError&, const SparseFormatError&) = default;
};

/// The name of the kind, e.g. "InvalidStructure".
[[nodiscard]] const char* kind_name(SparseFormatErrorKind kind);

/// The debug form naming the record and both fields, the message quoted with
/// '"' and '\' escaped:
/// `SparseFormatError { kind: InvalidStructure, error: "..." }`.
[[nodiscard]] std::string debug_form(const SparseFormatError& error);

}  // namespace pwpoly
