#include "CANopenStateTexts.h"

#include <array>

namespace {

// NMT state texts, shared by the node-guarding (0x5300..) and heartbeat (0x6300..) codes and,
// from "operational" on, by the NMT commands (0x2000..).
constexpr std::array<const char*, 6> kNmtStates = {
    "unknown yet", "operational", "stopped", "preoperational", "reset node", "reset communication"};
constexpr std::array<const char*, 6> kNodeguardStates = {"not activated",   "activated",
                                                         "response missed", "life time elapsed",
                                                         "toggle error",    "state changed"};
constexpr std::array<const char*, 3> kHeartbeatStates = {"waiting first beat", "running",
                                                         "stopped"};
constexpr std::array<const char*, 5> kNmtCommands = {"operational", "stopped", "preoperational",
                                                     "reset node", "reset communication"};

template <std::size_t N>
const char* Lookup(const std::array<const char*, N>& texts, uint16_t base, uint16_t code) {
  if (code < base || static_cast<std::size_t>(code - base) >= N) return nullptr;
  return texts[code - base];
}

}  // namespace

const char* NodeguardStateText(uint16_t state) { return Lookup(kNodeguardStates, 0x5200, state); }
const char* NodeguardNmtText(uint16_t nmt) { return Lookup(kNmtStates, 0x5300, nmt); }
const char* HeartbeatStateText(uint16_t state) { return Lookup(kHeartbeatStates, 0x6200, state); }
const char* HeartbeatNmtText(uint16_t nmt) { return Lookup(kNmtStates, 0x6300, nmt); }
const char* NmtCommandText(uint16_t command) { return Lookup(kNmtCommands, 0x2000, command); }
