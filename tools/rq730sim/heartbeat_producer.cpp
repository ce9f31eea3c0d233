#include "rq730sim/heartbeat_producer.h"

#include "rq730sim/nmt_slave.h"

namespace rq730sim {

void HeartbeatProducer::setTime(uint16_t ms, Clock::time_point now) {
  time_ = ms;
  next_ = now + Milliseconds(ms);
}

canbus::Frame HeartbeatProducer::beat(cia301::NmtState state, Clock::time_point now) {
  next_ = now + Milliseconds(time_);
  return errorControlFrame(nodeId_, static_cast<uint8_t>(state));
}

std::optional<canbus::Frame> HeartbeatProducer::onStateChange(cia301::NmtState previous,
                                                              cia301::NmtState next,
                                                              Clock::time_point now) {
  if (time_ == 0 || previous == cia301::NmtState::bootUp) return std::nullopt;
  return beat(next, now);
}

std::optional<canbus::Frame> HeartbeatProducer::advance(cia301::NmtState state,
                                                        Clock::time_point now) {
  if (time_ == 0 || now < next_) return std::nullopt;
  return beat(state, now);
}

std::optional<Clock::time_point> HeartbeatProducer::deadline() const {
  if (time_ == 0) return std::nullopt;
  return next_;
}

}  // namespace rq730sim
