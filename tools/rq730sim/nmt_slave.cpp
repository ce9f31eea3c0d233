#include "rq730sim/nmt_slave.h"

#include <utility>

#include "cia301/cob_id.h"

namespace rq730sim {

using cia301::NmtCommand;
using cia301::NmtState;

NmtState NmtSlave::enter(NmtState next) { return std::exchange(state_, next); }

std::optional<NmtCommand> NmtSlave::command(const canbus::Frame& frame) const {
  if (frame.length != 2) return std::nullopt;
  if (frame.data[1] != cia301::kBroadcast && frame.data[1] != nodeId_) return std::nullopt;
  return cia301::nmtCommand(frame.data[0]);
}

std::optional<NmtState> NmtSlave::target(NmtCommand command) {
  switch (command) {
    case NmtCommand::start:
      return NmtState::operational;
    case NmtCommand::stop:
      return NmtState::stopped;
    case NmtCommand::enterPreOperational:
      return NmtState::preOperational;
    case NmtCommand::resetNode:
    case NmtCommand::resetCommunication:
      return std::nullopt;
  }
  return std::nullopt;
}

canbus::Frame NmtSlave::bootUp() const {
  return errorControlFrame(nodeId_, static_cast<uint8_t>(NmtState::bootUp));
}

canbus::Frame errorControlFrame(uint8_t nodeId, uint8_t value) {
  canbus::Frame frame;
  frame.id = cia301::kErrorControlBase + nodeId;
  frame.length = 1;
  frame.data[0] = value;
  return frame;
}

}  // namespace rq730sim
