// Communication objects of the object dictionary (CiA 301) that the master reads and writes, and
// the layout of a PDO mapping entry.
#pragma once

#include <cstdint>

namespace cia301 {

inline constexpr uint16_t kDeviceName = 0x1008;             // VISIBLE_STRING
inline constexpr uint16_t kProducerHeartbeatTime = 0x1017;  // UNSIGNED16, ms; 0 = off
inline constexpr uint16_t kIdentity = 0x1018;               // sub 1..4: vendor .. serial number

// PDO parameter objects of PDO num (1..4): communication (COB-ID, transmission type, ...) and
// mapping (sub 0: number of entries, sub k: entry k).
constexpr uint16_t rpdoCommunication(unsigned num) { return static_cast<uint16_t>(0x1400 + num - 1); }
constexpr uint16_t rpdoMapping(unsigned num) { return static_cast<uint16_t>(0x1600 + num - 1); }
constexpr uint16_t tpdoCommunication(unsigned num) { return static_cast<uint16_t>(0x1800 + num - 1); }
constexpr uint16_t tpdoMapping(unsigned num) { return static_cast<uint16_t>(0x1A00 + num - 1); }

// A mapping entry: [index 16 bits][sub-index 8 bits][length in bits 8 bits].
struct MappingEntry {
  uint16_t index;
  uint8_t subIndex;
  uint8_t bits;
};
constexpr MappingEntry mappingEntry(uint32_t entry) {
  return {static_cast<uint16_t>(entry >> 16), static_cast<uint8_t>(entry >> 8),
          static_cast<uint8_t>(entry)};
}
constexpr uint32_t mappingEntryValue(const MappingEntry& entry) {
  return static_cast<uint32_t>(entry.index) << 16 | static_cast<uint32_t>(entry.subIndex) << 8 |
         entry.bits;
}

}  // namespace cia301
