// COB-IDs of the predefined connection set (11-bit identifiers): which function a frame serves
// and which node it belongs to.
#pragma once

#include <cstdint>
#include <optional>

namespace cia301 {

inline constexpr uint8_t kFirstNodeId = 1;
inline constexpr uint8_t kLastNodeId = 127;

inline constexpr uint32_t kNmt = 0x000;       // NMT command, DLC 2: [command, node]
inline constexpr uint32_t kSync = 0x080;      // SYNC, DLC 0
inline constexpr uint32_t kEmcyBase = 0x080;  // + node: emergency, DLC 8
inline constexpr uint32_t kTime = 0x100;      // TIME_OF_DAY, DLC 6
inline constexpr uint32_t kTpdoBase = 0x180;  // + (n-1)*0x100 + node: transmit PDO n of a node
inline constexpr uint32_t kRpdoBase = 0x200;  // + (n-1)*0x100 + node: receive PDO n of a node
inline constexpr uint32_t kPdoStep = 0x100;
inline constexpr uint32_t kSdoResponseBase = 0x580;   // + node: server to client
inline constexpr uint32_t kSdoRequestBase = 0x600;    // + node: client to server
inline constexpr uint32_t kErrorControlBase = 0x700;  // + node: boot-up, heartbeat, node guarding

constexpr bool isNodeId(unsigned node) { return node >= kFirstNodeId && node <= kLastNodeId; }

// The node of base + node, for base + 1 .. base + 127; nothing for any other COB-ID.
constexpr std::optional<uint8_t> nodeOf(uint32_t cobId, uint32_t base) {
  if (cobId <= base || cobId > base + kLastNodeId) return std::nullopt;
  return static_cast<uint8_t>(cobId - base);
}

// Transmit PDO num (1..4) of node, as the node sends it.
constexpr uint32_t tpdoCobId(unsigned num, uint8_t node) {
  return kTpdoBase + (num - 1) * kPdoStep + node;
}
// Receive PDO num (1..4) of node, as the node receives it.
constexpr uint32_t rpdoCobId(unsigned num, uint8_t node) {
  return kRpdoBase + (num - 1) * kPdoStep + node;
}

// COB-IDs a PDO must not use: NMT, SYNC/EMCY range, TIME and the SDO, LSS and error control
// ranges of the predefined connection set.
constexpr bool isRestrictedCobId(uint32_t cobId) {
  return cobId <= 0x07F || (cobId >= 0x101 && cobId <= 0x180) ||
         (cobId >= 0x581 && cobId <= 0x5FF) || (cobId >= 0x601 && cobId <= 0x67F) ||
         (cobId >= 0x6E0 && cobId <= 0x6FF) || cobId >= 0x701;
}

// Bits of a COB-ID entry (PDO communication objects 0x1400.., 0x1800.., sub 1).
inline constexpr uint32_t kCobIdInvalid = 0x80000000;   // the PDO does not exist / is off
inline constexpr uint32_t kCobIdNoRtr = 0x40000000;     // no remote request allowed
inline constexpr uint32_t kCobIdExtended = 0x20000000;  // 29-bit identifier

}  // namespace cia301
