// The node guarding responder: a remote request on 0x700 + node is answered with the NMT state
// and a toggle bit (bit 7) that starts at 0 and alternates with every reply. Life guarding: once
// the master guards the node, guard time (0x100C, ms) × life time factor (0x100D) without a
// request is a lost life guard, reported once (the core sends EMCY 0x8130) until the next request.
#pragma once

#include <cstdint>
#include <optional>

#include "canbus/frame.h"
#include "cia301/nmt.h"
#include "rq730sim/simulator.h"

namespace rq730sim {

class GuardingResponder {
 public:
  explicit GuardingResponder(uint8_t nodeId) : nodeId_(nodeId) {}

  uint16_t guardTime() const { return guardTime_; }
  uint8_t lifeTimeFactor() const { return lifeTimeFactor_; }
  void setGuardTime(uint16_t ms) { guardTime_ = ms; }
  void setLifeTimeFactor(uint8_t factor) { lifeTimeFactor_ = factor; }
  // Reset communication: guarding off, toggle 0, not guarded.
  void reset();

  // A guarding request at `now`: the reply.
  canbus::Frame onRequest(cia301::NmtState state, Clock::time_point now);
  // True once when the life time has run out at `now`.
  bool lifeGuardLost(Clock::time_point now);
  std::optional<Clock::time_point> deadline() const;

 private:
  bool guarding() const;
  Clock::duration lifeTime() const { return Milliseconds(guardTime_) * lifeTimeFactor_; }

  uint8_t nodeId_;
  uint16_t guardTime_ = 0;
  uint8_t lifeTimeFactor_ = 0;
  uint8_t toggle_ = 0;
  std::optional<Clock::time_point> lastRequest_;
  bool lost_ = false;
};

}  // namespace rq730sim
