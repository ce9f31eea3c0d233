// The EMCY producer: emergency messages on 0x080 + node ([code LE16, error register, 0 ...])
// while the node is pre-operational or operational, and the error register (0x1001) that each
// message sets. Communication errors found by the node itself add the generic and communication
// bits to the register as it stands.
#pragma once

#include <cstdint>
#include <optional>

#include "canbus/frame.h"
#include "cia301/nmt.h"

namespace rq730sim {

class EmcyProducer {
 public:
  explicit EmcyProducer(uint8_t nodeId) : nodeId_(nodeId) {}

  uint8_t errorRegister() const { return errorRegister_; }
  void reset() { errorRegister_ = 0; }  // reset communication

  // The message for (code, register) in `state`; nothing, and the register unchanged, when the
  // node may not send one.
  std::optional<canbus::Frame> emit(uint16_t code, uint8_t errorRegister, cia301::NmtState state);
  // The message for a communication error (life guard lost, PDO length).
  std::optional<canbus::Frame> communicationError(uint16_t code, cia301::NmtState state);

 private:
  uint8_t nodeId_;
  uint8_t errorRegister_ = 0;
};

}  // namespace rq730sim
