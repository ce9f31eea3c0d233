// NMT: the master's commands (COB-ID 0, [command, node]; node 0 = all) and the states a node
// reports in its heartbeat and node guarding answers (bit 7 of a guarding answer toggles).
#pragma once

#include <cstdint>
#include <optional>

namespace cia301 {

enum class NmtCommand : uint8_t {
  start = 0x01,
  stop = 0x02,
  enterPreOperational = 0x80,
  resetNode = 0x81,
  resetCommunication = 0x82,
};

enum class NmtState : uint8_t {
  bootUp = 0x00,
  stopped = 0x04,
  operational = 0x05,
  preOperational = 0x7F,
};

inline constexpr uint8_t kGuardingToggle = 0x80;
inline constexpr uint8_t kBroadcast = 0;  // node 0 of an NMT command: every node

constexpr std::optional<NmtCommand> nmtCommand(uint8_t byte) {
  switch (byte) {
    case 0x01:
    case 0x02:
    case 0x80:
    case 0x81:
    case 0x82: return static_cast<NmtCommand>(byte);
    default: return std::nullopt;
  }
}

// The state of a heartbeat or guarding byte (the toggle bit removed); nothing for a byte that
// names no state.
constexpr std::optional<NmtState> nmtState(uint8_t byte) {
  switch (byte & ~kGuardingToggle) {
    case 0x00:
    case 0x04:
    case 0x05:
    case 0x7F: return static_cast<NmtState>(byte & ~kGuardingToggle);
    default: return std::nullopt;
  }
}

}  // namespace cia301
