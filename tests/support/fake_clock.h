// Time for a protocol core under test, moved on by the test alone: steady time for deadlines and
// wall time for what carries the date, both advancing together. Nothing ever sleeps.
#pragma once

#include <chrono>

namespace test_kit {

class FakeClock {
 public:
  using Steady = std::chrono::steady_clock;

  struct Start {
    Steady::duration steady{0};         // since the steady clock's epoch
    std::chrono::microseconds wall{0};  // since the Unix epoch
  };
  // 1000 s of steady time (far from zero, so that "a moment ago" is a valid time) and
  // 2024-01-01 00:00:00 UTC.
  static constexpr Start kDefaultStart{std::chrono::seconds(1000),
                                       std::chrono::seconds(1704067200)};

  explicit FakeClock(Start start = kDefaultStart) : start_(start) {}

  Steady::time_point now() const { return Steady::time_point(start_.steady + elapsed_); }
  Steady::time_point start() const { return Steady::time_point(start_.steady); }
  // Steady time since the steady clock's epoch, in whole microseconds.
  std::chrono::microseconds steadyMicros() const {
    return std::chrono::duration_cast<std::chrono::microseconds>(start_.steady + elapsed_);
  }
  // Wall time since the Unix epoch, in whole microseconds.
  std::chrono::microseconds wallMicros() const {
    return start_.wall + std::chrono::duration_cast<std::chrono::microseconds>(elapsed_);
  }
  Steady::duration elapsed() const { return elapsed_; }

  void advance(Steady::duration step) { elapsed_ += step; }
  // Sets the time to `since` after the start (also back, for tests that replay a scenario).
  void setElapsed(Steady::duration since) { elapsed_ = since; }

 private:
  Start start_;
  Steady::duration elapsed_{0};
};

}  // namespace test_kit
