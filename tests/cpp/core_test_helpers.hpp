// Small helpers shared by the C++ tests of the core.
#pragma once

#include <bit>
#include <cstdint>
#include <string>

#include "support/failure.hpp"

namespace pwpoly::testing {

/// The bit pattern of a double: comparing these tells -0.0 from +0.0 and
/// pins results to the last bit.
inline std::uint64_t bits(double value) { return std::bit_cast<std::uint64_t>(value); }

/// The message of the internal failure that `action` raises, or "<no failure>".
inline std::string message_of(auto&& action) {
    try {
        action();
    } catch (const InternalFailure& failure) {
        return failure.message();
    }
    return "<no failure>";
}

}  // namespace pwpoly::testing
