// A fixed-period schedule without drift: due times advance by the period; after a long stall
// it restarts from now instead of sending a burst. And a producer built on it that one request
// switches on and off (SYNC, TIME).
#pragma once

#include <optional>

#include "service_context.h"

namespace canopen32 {

class Periodic {
 public:
  void start(Duration now, Duration period, Duration firstAfter) {
    period_ = period;
    due_ = now + firstAfter;
  }
  void stop() { due_.reset(); }
  // The next due time, nothing while stopped.
  std::optional<Duration> next() const { return due_; }

  // True (and the next due time set) when a period has come round.
  bool due(Duration now) {
    if (!due_ || now < *due_) return false;
    *due_ += period_;
    if (*due_ <= now) *due_ = now + period_;
    return true;
  }

 private:
  Duration period_{0};
  std::optional<Duration> due_;
};

// A producer that sends once per period; the first message goes out at once.
class PeriodicProducer {
 public:
  // The request's function codes and results.
  struct Codes {
    uint16_t on;
    uint16_t off;
    Code ok;
    Code badFunction;
  };

  PeriodicProducer(Context& context, Codes codes) : context_(context), codes_(codes) {}

  // codes.ok or a refusal. A period of 0 switches it off.
  Code set(Now now, uint16_t function, uint16_t periodMs) {
    if (function != codes_.on && function != codes_.off) return codes_.badFunction;
    if (function == codes_.off || periodMs == 0) {
      schedule_.stop();
    } else {
      schedule_.start(now.steady, std::chrono::milliseconds(periodMs), Duration{0});
    }
    return codes_.ok;
  }
  // When the next message is due; nothing while off.
  std::optional<Duration> nextDeadline() const { return schedule_.next(); }

 protected:
  bool due(Now now) { return schedule_.due(now.steady); }
  Context& context_;

 private:
  Codes codes_;
  Periodic schedule_;
};

}  // namespace canopen32
