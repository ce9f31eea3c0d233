// Hexadecimal helpers shared by the candump and socketcand notations.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace canbus {

// Value of one hex digit (either case), or -1.
int hexDigitValue(char c);
// Parses 1..8 hex digits (either case, no prefix, no sign); nullopt otherwise.
std::optional<uint32_t> parseHex(std::string_view text);
// Upper-case hex, zero-padded to at least `digits` digits.
std::string hexNumber(uint32_t value, int digits);

}  // namespace canbus
