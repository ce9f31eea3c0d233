#include "canbus/reconnect_policy.h"

#include <utility>

namespace canbus {

void ReconnectPolicy::lost(std::string reason) {
  lastFailure_ = std::move(reason);
  next_.reset();
}

bool ReconnectPolicy::due(Clock::time_point now) {
  if (!next_) next_ = firstTry_ == FirstTry::atOnce ? now : now + interval_;
  return now >= *next_;
}

void ReconnectPolicy::failed(Clock::time_point now, std::string reason) {
  lastFailure_ = std::move(reason);
  next_ = now + interval_;
}

void ReconnectPolicy::succeeded() {
  lastFailure_.clear();
  next_.reset();
}

}  // namespace canbus
