// Objects of the communication profile area by index, the sub-indexes of the PDO parameter
// objects, the transmission types and the layout of a PDO mapping entry
// (index << 16 | sub-index << 8 | length in bits).
#pragma once

#include <cstdint>

namespace cia301 {

inline constexpr uint16_t kDeviceTypeObject = 0x1000;
inline constexpr uint16_t kErrorRegisterObject = 0x1001;
inline constexpr uint16_t kDeviceNameObject = 0x1008;
inline constexpr uint16_t kGuardTimeObject = 0x100C;       // ms
inline constexpr uint16_t kLifeTimeFactorObject = 0x100D;
inline constexpr uint16_t kHeartbeatTimeObject = 0x1017;   // producer heartbeat time, ms
inline constexpr uint16_t kIdentityObject = 0x1018;        // sub 1..4: vendor, product, revision, serial

// PDO parameter objects: + (n - 1) for PDO n.
inline constexpr uint16_t kRpdoCommunicationBase = 0x1400;
inline constexpr uint16_t kRpdoMappingBase = 0x1600;
inline constexpr uint16_t kTpdoCommunicationBase = 0x1800;
inline constexpr uint16_t kTpdoMappingBase = 0x1A00;

// Sub-indexes of a PDO communication object (sub 4 is reserved).
inline constexpr uint8_t kPdoHighestSub = 0;
inline constexpr uint8_t kPdoCobIdSub = 1;
inline constexpr uint8_t kPdoTransmissionTypeSub = 2;
inline constexpr uint8_t kPdoInhibitTimeSub = 3;  // 100 µs
inline constexpr uint8_t kPdoEventTimerSub = 5;   // ms

// Transmission types: 0 synchronous after a change, 1..240 every n-th SYNC, 241..251
// reserved, 252/253 on remote request, 254/255 event driven.
inline constexpr uint8_t kTransmissionSyncAcyclic = 0;
inline constexpr uint8_t kTransmissionSyncMax = 240;
inline constexpr uint8_t kTransmissionEventManufacturer = 254;
inline constexpr uint8_t kTransmissionEventProfile = 255;

// A mapping object holds sub 0 = count and sub 1..8 = entries.
inline constexpr int kMaxPdoMappedObjects = 8;
inline constexpr unsigned kMaxPdoBits = 64;

constexpr uint32_t pdoMappingEntry(uint16_t index, uint8_t subIndex, uint8_t bits) {
  return static_cast<uint32_t>(index) << 16 | static_cast<uint32_t>(subIndex) << 8 | bits;
}
constexpr uint16_t mappedIndex(uint32_t entry) { return static_cast<uint16_t>(entry >> 16); }
constexpr uint8_t mappedSubIndex(uint32_t entry) { return static_cast<uint8_t>(entry >> 8); }
constexpr unsigned mappedBits(uint32_t entry) { return entry & 0xFF; }

}  // namespace cia301
