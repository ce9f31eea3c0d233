// The node's NMT slave: the state it is in, the boot-up message, and which NMT commands
// (COB-ID 0, two bytes [command, node], node 0 = every node) are meant for it. What a command
// means for the other services (reset node powers the module on again, reset communication
// restores the communication objects, a new state starts PDOs or drops SDO transfers) is
// carried out by the core, which owns them all.
#pragma once

#include <cstdint>
#include <optional>

#include "canbus/frame.h"
#include "cia301/nmt.h"

namespace rq730sim {

class NmtSlave {
 public:
  explicit NmtSlave(uint8_t nodeId) : nodeId_(nodeId) {}

  cia301::NmtState state() const { return state_; }
  // Enters `next`; the state it left.
  cia301::NmtState enter(cia301::NmtState next);

  // The command a frame on COB-ID 0 carries for this node; nothing for a frame of another
  // length, for another node or with an unknown command.
  std::optional<cia301::NmtCommand> command(const canbus::Frame& frame) const;
  // The state start, stop and enter pre-operational lead to; nothing for the two resets.
  static std::optional<cia301::NmtState> target(cia301::NmtCommand command);

  // Pre-operational or operational: the node serves SDO and may send EMCY.
  bool communicating() const {
    return state_ == cia301::NmtState::preOperational || state_ == cia301::NmtState::operational;
  }

  // The boot-up message that ends every reset (0x700 + node, [0]).
  canbus::Frame bootUp() const;

 private:
  uint8_t nodeId_;
  cia301::NmtState state_ = cia301::NmtState::bootUp;
};

// An error control frame of a node (boot-up, heartbeat, guarding reply): one byte.
canbus::Frame errorControlFrame(uint8_t nodeId, uint8_t value);

}  // namespace rq730sim
