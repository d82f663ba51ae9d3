// Joining message pieces into one text; g++ 12 has no <format>.
#pragma once

#include <concepts>
#include <string>
#include <string_view>

namespace pwpoly {

namespace detail {
inline void append_piece(std::string& out, std::string_view piece) { out += piece; }
inline void append_piece(std::string& out, char piece) { out += piece; }
template <std::integral Int>
    requires(!std::same_as<Int, char> && !std::same_as<Int, bool>)
void append_piece(std::string& out, Int piece) {
    out += std::to_string(piece);
}
}  // namespace detail

/// Concatenates texts, characters and integers (in decimal) into one string.
template <class... Pieces>
[[nodiscard]] std::string concat(const Pieces&... pieces) {
    std::string out;
    (detail::append_piece(out, pieces), ...);
    return out;
}

}  // namespace pwpoly
