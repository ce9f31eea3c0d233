// NMT state bytes of heartbeat and guarding replies, mapped to the codes the callbacks report.
#pragma once

#include <cstdint>

namespace canopen32 {

// base is KCO_HEARTBEAT_NMT_UNKNOWN or KCO_NODEGUARD_NMT_UNKNOWN; +1 operational (5), +2 stopped
// (4), +3 pre-operational (127), +0 anything else (0 = boot-up included).
inline uint16_t nmtCode(uint16_t base, uint8_t state) {
  switch (state) {
    case 5:
      return static_cast<uint16_t>(base + 1);
    case 4:
      return static_cast<uint16_t>(base + 2);
    case 127:
      return static_cast<uint16_t>(base + 3);
    default:
      return base;
  }
}

}  // namespace canopen32
