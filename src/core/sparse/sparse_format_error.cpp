// Names and the debug form of the compressed-row rejection.
#include "sparse/sparse_format_error.hpp"

#include "support/text.hpp"

namespace pwpoly {

const char* kind_name(SparseFormatErrorKind kind) {
    switch (kind) {
        case SparseFormatErrorKind::IndexOutOfBounds:
            return "IndexOutOfBounds";
        case SparseFormatErrorKind::DuplicateEntry:
            return "DuplicateEntry";
        case SparseFormatErrorKind::InvalidStructure:
            return "InvalidStructure";
    }
    return "InvalidStructure";
}

std::string debug_form(const SparseFormatError& error) {
    std::string quoted;
    quoted.reserve(error.error.size() + 2);
    quoted += '"';
    for (const char ch : error.error) {
        if (ch == '"' || ch == '\\') {
            quoted += '\\';
        }
        quoted += ch;
    }
    quoted += '"';
    return concat("SparseFormatError { kind: ", std::string_view(kind_name(error.kind)),
                  ", error: ", quoted, " }");
}

}  // namespace pwpoly
