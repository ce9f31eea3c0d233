#include "rq730sim/sdo_answer_queue.h"

#include <algorithm>

namespace rq730sim {

void SdoAnswerQueue::submit(const canbus::Frame& answer, Milliseconds delay,
                            Clock::time_point now, const FrameSink& send) {
  if (delay.count() > 0 || !waiting_.empty()) {
    waiting_.emplace_back(now + std::max(delay, Milliseconds(0)), answer);
  } else {
    send(answer);
  }
}

void SdoAnswerQueue::advance(Clock::time_point now, const FrameSink& send) {
  while (!waiting_.empty() && waiting_.front().first <= now) {
    const canbus::Frame answer = waiting_.front().second;
    waiting_.pop_front();
    send(answer);
  }
}

std::optional<Clock::time_point> SdoAnswerQueue::deadline() const {
  if (waiting_.empty()) return std::nullopt;
  return waiting_.front().first;
}

}  // namespace rq730sim
