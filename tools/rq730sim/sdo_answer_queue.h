// Delayed SDO answers (the slow-server fault): with a delay every answer goes out that late, in
// the order of the requests; once one answer waits, later ones queue behind it even when the
// delay has been switched off meanwhile, so answers never overtake each other.
#pragma once

#include <deque>
#include <optional>
#include <utility>

#include "canbus/frame.h"
#include "rq730sim/simulator.h"

namespace rq730sim {

class SdoAnswerQueue {
 public:
  // An answer to a request received at `now`: sent at once or queued.
  void submit(const canbus::Frame& answer, Milliseconds delay, Clock::time_point now,
              const FrameSink& send);
  // Sends the answers due at `now`.
  void advance(Clock::time_point now, const FrameSink& send);
  std::optional<Clock::time_point> deadline() const;
  void clear() { waiting_.clear(); }  // the node reset or stopped: the answers are void

 private:
  std::deque<std::pair<Clock::time_point, canbus::Frame>> waiting_;
};

}  // namespace rq730sim
