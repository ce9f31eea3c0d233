// The heartbeat producer: with a producer time (0x1017, ms; 0 = off) the node sends its NMT
// state on 0x700 + node once per period, and at once on every change of state, after which the
// period starts again. A late run sends one heartbeat and starts the period from then.
#pragma once

#include <cstdint>
#include <optional>

#include "canbus/frame.h"
#include "cia301/nmt.h"
#include "rq730sim/simulator.h"

namespace rq730sim {

class HeartbeatProducer {
 public:
  explicit HeartbeatProducer(uint8_t nodeId) : nodeId_(nodeId) {}

  uint16_t time() const { return time_; }
  // A new producer time; the first heartbeat is one period from `now`.
  void setTime(uint16_t ms, Clock::time_point now);
  void reset() { time_ = 0; }  // reset communication: off

  // The node went from `previous` to `next` (not from boot-up): the heartbeat to send at once.
  std::optional<canbus::Frame> onStateChange(cia301::NmtState previous, cia301::NmtState next,
                                             Clock::time_point now);
  // The heartbeat due at `now`, if any.
  std::optional<canbus::Frame> advance(cia301::NmtState state, Clock::time_point now);
  std::optional<Clock::time_point> deadline() const;

 private:
  canbus::Frame beat(cia301::NmtState state, Clock::time_point now);

  uint8_t nodeId_;
  uint16_t time_ = 0;
  Clock::time_point next_{};
};

}  // namespace rq730sim
