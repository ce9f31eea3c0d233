// CANopen carries every multi-byte value little endian: the lowest byte first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace cia301 {

// The value of up to four bytes; missing high bytes count as 0.
constexpr uint32_t getLe(std::span<const uint8_t> bytes) {
  uint32_t value = 0;
  for (std::size_t i = 0; i < bytes.size() && i < 4; ++i) {
    value |= static_cast<uint32_t>(bytes[i]) << (8 * i);
  }
  return value;
}

constexpr uint16_t getLe16(std::span<const uint8_t> bytes) {
  return static_cast<uint16_t>(getLe(bytes.first(bytes.size() < 2 ? bytes.size() : 2)));
}

// Writes the low bytes.size() bytes of value (at most four).
constexpr void putLe(std::span<uint8_t> bytes, uint32_t value) {
  for (std::size_t i = 0; i < bytes.size() && i < 4; ++i) {
    bytes[i] = static_cast<uint8_t>(value >> (8 * i));
  }
}

}  // namespace cia301
