// A fixed-period schedule without drift: due times advance by the period; after a long stall
// it restarts from now instead of sending a burst.
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
  bool running() const { return due_.has_value(); }

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

}  // namespace canopen32
