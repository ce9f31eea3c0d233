#include "WeightTelegram.h"

#include <cfenv>
#include <cmath>

std::optional<uint16_t> TelegramValue(float weight) {
  if (!std::isfinite(weight)) return std::nullopt;
  // nearbyint rounds ties to even in the default rounding mode; the 16-bit value is taken in
  // floating point (exact for whole numbers), so no conversion ever leaves an integer's range.
  const double rounded = std::nearbyint(static_cast<double>(weight));
  double low16 = std::fmod(rounded, 65536.0);
  if (low16 < 0) low16 += 65536.0;
  return static_cast<uint16_t>(low16);
}

std::u16string WeightTelegram(uint16_t value) {
  const char16_t sign = (value & 0x8000) != 0 ? 0x02 : 0x00;
  const auto low = static_cast<char16_t>(value & 0xFF);
  const auto high = static_cast<char16_t>(value >> 8);
  std::u16string telegram = u"UUUUU\u00AA\u00AA";
  for (int copy = 0; copy < 2; ++copy) telegram += {char16_t{0xD0}, sign, low, high};
  telegram += u"**";
  return telegram;
}
