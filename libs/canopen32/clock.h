// The core's time: passed in by whoever drives it (the steady and the wall clock in kcoLoop, a
// fake clock in tests); the core never reads a clock itself.
#pragma once

#include <algorithm>
#include <chrono>
#include <optional>

namespace canopen32 {

using Duration = std::chrono::microseconds;

// Time passed into the core: steady time for all deadlines, wall time (since the Unix epoch)
// only for the TIME message.
struct Now {
  Duration steady{0};
  Duration wall{0};
};

// The earlier of two optional deadlines (steady time).
inline std::optional<Duration> earliest(std::optional<Duration> a, std::optional<Duration> b) {
  if (!a) return b;
  if (!b) return a;
  return std::min(*a, *b);
}

}  // namespace canopen32
