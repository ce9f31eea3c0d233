// The serial weight telegram: 17 bytes carrying the weight rounded to a whole number (ties to
// the even neighbour) as a 16-bit two's complement value, twice, with preamble and end marks.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// R: the weight rounded half to even, taken modulo 65536; nullopt for a value that is not a
// finite number.
std::optional<uint16_t> TelegramValue(float weight);

// The telegram as the 17 characters U+0000..U+00FF that the serial port sends as one byte each.
std::u16string WeightTelegram(uint16_t value);
