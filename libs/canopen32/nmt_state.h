// NMT state bytes of heartbeat and guarding replies, mapped to the codes the callbacks report.
#pragma once

#include <cstdint>

#include "cia301/nmt.h"

namespace canopen32 {

// base is KCO_HEARTBEAT_NMT_UNKNOWN or KCO_NODEGUARD_NMT_UNKNOWN; +1 operational, +2 stopped,
// +3 pre-operational, +0 anything else (boot-up included). state is the byte without the
// guarding toggle.
inline uint16_t nmtCode(uint16_t base, uint8_t state) {
  switch (static_cast<cia301::NmtState>(state)) {
    case cia301::NmtState::operational: return static_cast<uint16_t>(base + 1);
    case cia301::NmtState::stopped: return static_cast<uint16_t>(base + 2);
    case cia301::NmtState::preOperational: return static_cast<uint16_t>(base + 3);
    default: return base;
  }
}

}  // namespace canopen32
