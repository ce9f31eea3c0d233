// Signatures of the legal values: CRC-16/CCITT-FALSE (polynomial 0x1021, initial value 0xFFFF,
// no reflection, no final xor) over the serial number (4 bytes, little endian), the adjustment
// counter (2 bytes, little endian) and then the value's bytes (little endian). The module signs
// its legal weight (0x2100 → 0x2200) and its zero indication (0x2101 → 0x2201) this way, and the
// legal display checks them with the same functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace legal_rq730 {

inline constexpr uint16_t kCrcInitial = 0xFFFF;

// Continues a CRC-16/CCITT-FALSE over more bytes; start with kCrcInitial.
constexpr uint16_t crc16CcittFalse(std::span<const uint8_t> bytes, uint16_t crc = kCrcInitial) {
  for (uint8_t byte : bytes) {
    crc = static_cast<uint16_t>(crc ^ (static_cast<uint16_t>(byte) << 8));
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 0x8000) != 0 ? static_cast<uint16_t>((crc << 1) ^ 0x1021)
                                : static_cast<uint16_t>(crc << 1);
    }
  }
  return crc;
}

// Signature of a value given as its little-endian bytes (1 to 4 bytes are used).
constexpr uint16_t signValueBytes(uint32_t serialNumber, uint16_t adjustmentCounter, uint32_t value,
                                  std::size_t valueBytes) {
  uint8_t buffer[10] = {static_cast<uint8_t>(serialNumber),
                        static_cast<uint8_t>(serialNumber >> 8),
                        static_cast<uint8_t>(serialNumber >> 16),
                        static_cast<uint8_t>(serialNumber >> 24),
                        static_cast<uint8_t>(adjustmentCounter),
                        static_cast<uint8_t>(adjustmentCounter >> 8),
                        static_cast<uint8_t>(value),
                        static_cast<uint8_t>(value >> 8),
                        static_cast<uint8_t>(value >> 16),
                        static_cast<uint8_t>(value >> 24)};
  if (valueBytes > 4) valueBytes = 4;
  return crc16CcittFalse(std::span<const uint8_t>(buffer, 6 + valueBytes));
}

// Signature of the legal weight (object 0x2100, signed 16 bits).
constexpr uint16_t signWeight(uint32_t serialNumber, uint16_t adjustmentCounter, int16_t weight) {
  return signValueBytes(serialNumber, adjustmentCounter, static_cast<uint16_t>(weight), 2);
}

// Signature of the zero indication (object 0x2101, unsigned 8 bits).
constexpr uint16_t signZeroIndication(uint32_t serialNumber, uint16_t adjustmentCounter,
                                      uint8_t zeroIndication) {
  return signValueBytes(serialNumber, adjustmentCounter, zeroIndication, 1);
}

}  // namespace legal_rq730
