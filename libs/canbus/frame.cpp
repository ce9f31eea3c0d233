#include "canbus/frame.h"

#include <cstddef>

#include "canbus/hex.h"

namespace canbus {

bool isValid(const Frame& frame) {
  if (frame.length > kMaxDataLength) return false;
  return frame.id <= (frame.extended ? kExtendedIdMask : kStandardIdMask);
}

std::string toCandump(const Frame& frame) {
  std::string text = hexNumber(frame.id, frame.extended ? 8 : 3);
  text += '#';
  if (frame.remote) {
    text += 'R';
    // "701#R" is a remote frame with DLC 0; can-utils writes a nonzero DLC as "701#R2".
    if (frame.length > 0) text += static_cast<char>('0' + frame.length);
    return text;
  }
  for (std::size_t i = 0; i < frame.length && i < kMaxDataLength; ++i) {
    text += hexNumber(frame.data[i], 2);
  }
  return text;
}

std::optional<Frame> parseCandump(std::string_view text) {
  const std::size_t hash = text.find('#');
  if (hash == std::string_view::npos) return std::nullopt;
  const std::string_view idText = text.substr(0, hash);
  std::string_view rest = text.substr(hash + 1);

  Frame frame;
  // As in can-utils: three hex digits are a standard id, eight an extended one.
  if (idText.size() == 3) {
    frame.extended = false;
  } else if (idText.size() == 8) {
    frame.extended = true;
  } else {
    return std::nullopt;
  }
  const std::optional<uint32_t> id = parseHex(idText);
  if (!id) return std::nullopt;
  frame.id = *id;

  if (!rest.empty() && (rest.front() == 'R' || rest.front() == 'r')) {
    frame.remote = true;
    rest.remove_prefix(1);
    if (rest.size() > 1) return std::nullopt;
    if (rest.size() == 1) {
      if (rest.front() < '0' || rest.front() > '8') return std::nullopt;
      frame.length = static_cast<uint8_t>(rest.front() - '0');
    }
    return isValid(frame) ? std::optional<Frame>(frame) : std::nullopt;
  }

  // Data bytes: pairs of hex digits, optionally separated by single dots ("11.22.33").
  std::size_t pos = 0;
  while (pos < rest.size()) {
    if (frame.length > 0 && rest[pos] == '.') {
      ++pos;
      if (pos >= rest.size()) return std::nullopt;  // trailing dot
    }
    if (frame.length == kMaxDataLength || pos + 2 > rest.size()) return std::nullopt;
    const std::optional<uint32_t> byte = parseHex(rest.substr(pos, 2));
    if (!byte) return std::nullopt;
    frame.data[frame.length++] = static_cast<uint8_t>(*byte);
    pos += 2;
  }
  return isValid(frame) ? std::optional<Frame>(frame) : std::nullopt;
}

}  // namespace canbus
