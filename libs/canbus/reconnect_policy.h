// When to try opening a lost channel again, and what the last failure was. Whoever owns the
// channel asks due(now) while it has none, opens the channel when that says yes, and reports the
// outcome; the policy spaces the tries one interval apart. The driver library's channel link
// and the rq730sim program reconnect through it.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace canbus {

class ReconnectPolicy {
 public:
  using Clock = std::chrono::steady_clock;

  // When the first try after a loss comes: at the first due() itself, or one interval after it.
  enum class FirstTry { atOnce, afterInterval };

  ReconnectPolicy(Clock::duration interval, FirstTry firstTry)
      : interval_(interval), firstTry_(firstTry) {}

  // The channel was lost (why: a text for the user). The tries start afresh at the next due().
  void lost(std::string reason);
  // Whether to try now. The first call since the loss (or since the start, or since the last
  // success) schedules the first try.
  bool due(Clock::time_point now);
  // The try at `now` failed (why: a text for the user); the next comes one interval later.
  void failed(Clock::time_point now, std::string reason);
  // The try succeeded: nothing is scheduled and no failure is kept.
  void succeeded();

  // Whether a try is scheduled (due() was asked since the last success).
  bool waiting() const { return next_.has_value(); }
  // When the next try is due; nullopt while none is scheduled.
  std::optional<Clock::time_point> nextTry() const { return next_; }
  // Why the channel is not there: the loss, or the latest failed try; empty after a success.
  const std::string& lastFailure() const { return lastFailure_; }
  Clock::duration interval() const { return interval_; }

 private:
  Clock::duration interval_;
  FirstTry firstTry_;
  std::optional<Clock::time_point> next_;
  std::string lastFailure_;
};

}  // namespace canbus
