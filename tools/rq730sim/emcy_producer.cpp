#include "rq730sim/emcy_producer.h"

#include <algorithm>

#include "cia301/cob_id.h"
#include "cia301/emcy.h"

namespace rq730sim {

std::optional<canbus::Frame> EmcyProducer::emit(uint16_t code, uint8_t errorRegister,
                                                cia301::NmtState state) {
  if (state != cia301::NmtState::preOperational && state != cia301::NmtState::operational) {
    return std::nullopt;
  }
  errorRegister_ = errorRegister;
  canbus::Frame frame;
  frame.id = cia301::kEmcyBase + nodeId_;
  const cia301::EmcyFrame data = cia301::emcyFrame(code, errorRegister);
  frame.length = static_cast<uint8_t>(data.size());
  std::copy(data.begin(), data.end(), frame.data.begin());
  return frame;
}

std::optional<canbus::Frame> EmcyProducer::communicationError(uint16_t code,
                                                              cia301::NmtState state) {
  return emit(code,
              static_cast<uint8_t>(errorRegister_ | cia301::kErrorRegisterGeneric |
                                   cia301::kErrorRegisterCommunication),
              state);
}

}  // namespace rq730sim
