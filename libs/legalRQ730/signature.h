// Signatures of the module's legal values: CRC-16/CCITT-FALSE (polynomial 0x1021, initial value
// 0xFFFF, no reflection, no final xor) over the serial number (4 bytes, little endian), the
// adjustment counter (2 bytes, little endian), then the value's bytes (little endian).
#pragma once

#include <cstddef>
#include <cstdint>

namespace legal_rq730 {

constexpr uint16_t crc16CcittFalse(const uint8_t* bytes, std::size_t count,
                                   uint16_t crc = 0xFFFF) {
  for (std::size_t i = 0; i < count; ++i) {
    crc = static_cast<uint16_t>(crc ^ (bytes[i] << 8));
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 0x8000) != 0 ? static_cast<uint16_t>((crc << 1) ^ 0x1021)
                                : static_cast<uint16_t>(crc << 1);
    }
  }
  return crc;
}

// Signature of a value of `valueBytes` (1 to 4) little-endian bytes.
constexpr uint16_t signValue(uint32_t serialNumber, uint16_t adjustmentCounter, uint32_t value,
                             std::size_t valueBytes) {
  const uint8_t bytes[10] = {
      static_cast<uint8_t>(serialNumber),      static_cast<uint8_t>(serialNumber >> 8),
      static_cast<uint8_t>(serialNumber >> 16), static_cast<uint8_t>(serialNumber >> 24),
      static_cast<uint8_t>(adjustmentCounter), static_cast<uint8_t>(adjustmentCounter >> 8),
      static_cast<uint8_t>(value),             static_cast<uint8_t>(value >> 8),
      static_cast<uint8_t>(value >> 16),       static_cast<uint8_t>(value >> 24)};
  return crc16CcittFalse(bytes, 6 + (valueBytes > 4 ? 4 : valueBytes));
}

constexpr uint16_t signWeight(uint32_t serialNumber, uint16_t adjustmentCounter, int16_t weight) {
  return signValue(serialNumber, adjustmentCounter, static_cast<uint16_t>(weight), 2);
}

constexpr uint16_t signZeroIndication(uint32_t serialNumber, uint16_t adjustmentCounter,
                                      uint8_t zeroIndication) {
  return signValue(serialNumber, adjustmentCounter, zeroIndication, 1);
}

}  // namespace legal_rq730
