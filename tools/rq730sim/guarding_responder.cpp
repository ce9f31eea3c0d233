#include "rq730sim/guarding_responder.h"

#include "rq730sim/nmt_slave.h"

namespace rq730sim {

void GuardingResponder::reset() {
  guardTime_ = 0;
  lifeTimeFactor_ = 0;
  toggle_ = 0;
  lastRequest_.reset();
  lost_ = false;
}

canbus::Frame GuardingResponder::onRequest(cia301::NmtState state, Clock::time_point now) {
  lastRequest_ = now;
  lost_ = false;
  const uint8_t value =
      static_cast<uint8_t>(static_cast<uint8_t>(state) | (toggle_ ? cia301::kGuardingToggle : 0));
  toggle_ ^= 1;
  return errorControlFrame(nodeId_, value);
}

bool GuardingResponder::guarding() const {
  return guardTime_ != 0 && lifeTimeFactor_ != 0 && lastRequest_ && !lost_;
}

bool GuardingResponder::lifeGuardLost(Clock::time_point now) {
  if (!guarding() || now - *lastRequest_ <= lifeTime()) return false;
  lost_ = true;
  return true;
}

std::optional<Clock::time_point> GuardingResponder::deadline() const {
  if (!guarding()) return std::nullopt;
  // Lost as soon as more than the life time has passed.
  return *lastRequest_ + lifeTime() + Clock::duration(1);
}

}  // namespace rq730sim
