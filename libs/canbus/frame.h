// A classic CAN frame: 11- or 29-bit identifier, data or remote frame, 0 to 8 data bytes.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace canbus {

inline constexpr uint32_t kStandardIdMask = 0x7FF;
inline constexpr uint32_t kExtendedIdMask = 0x1FFFFFFF;
inline constexpr uint8_t kMaxDataLength = 8;

struct Frame {
  uint32_t id = 0;        // 11 bits unless extended, then 29 bits
  bool extended = false;  // 29-bit identifier
  bool remote = false;    // remote transmission request (no data bytes on the wire)
  uint8_t length = 0;     // data length code, 0..8
  std::array<uint8_t, kMaxDataLength> data{};

  friend bool operator==(const Frame&, const Frame&) = default;
};

// Checks the invariants above (id fits its format, length <= 8); frames that fail are never sent.
bool isValid(const Frame& frame);

// candump notation: "181#D204", "12345678#00", "701#R", "080#".
std::string toCandump(const Frame& frame);
// Parses candump notation; nullopt for anything malformed.
std::optional<Frame> parseCandump(std::string_view text);

}  // namespace canbus
