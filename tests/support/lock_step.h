// Two protocol cores on one bus and one fake clock, run in lock step: what one core sends goes to
// the other's onFrame (in order, through a queue, so that no core is re-entered from inside its
// own work), and the clock jumps straight to the earliest of the two next deadlines. Nothing
// sleeps and nothing depends on the machine: a run is the same every time.
//
// A core is run only at its own deadline (or when a frame reaches it), never because the other
// core had something to do: a deadline reported late shows as work done late. At the end of a
// run both cores run once more, so that work done before it is due shows as well. A core that is
// due again at the very instant it has just run, with no frame in between, has a deadline in the
// past it never clears (it would spin a real loop); the run fails and says so.
//
// Everything on the bus is kept in a log, one line per frame with the time since the start
// ("120.5 > 601#4018100400000000", with the tag of the side that sent it), and the cores'
// adapters may add lines of their own (reports) through note().
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "canbus/frame.h"
#include "fake_clock.h"

namespace test_kit {

class LockStep {
 public:
  using TimePoint = FakeClock::Steady::time_point;
  using Duration = FakeClock::Steady::duration;

  // One side: a protocol core behind frames and time in, its next deadline out.
  class Core {
   public:
    virtual ~Core() = default;
    virtual void onFrame(const canbus::Frame& frame, TimePoint now) = 0;
    // Runs what is due at `now`.
    virtual void run(TimePoint now) = 0;
    // When run() next has something to do; a time at or before now means at once.
    virtual std::optional<TimePoint> nextDeadline() const = 0;
  };

  static constexpr std::size_t kSides = 2;

  // `tags` name the two sides in the log (e.g. ">" and "<", as scripts write the frames a
  // master sends and receives).
  explicit LockStep(std::array<std::string, kSides> tags) : tags_(std::move(tags)) {}
  LockStep(const LockStep&) = delete;
  LockStep& operator=(const LockStep&) = delete;

  // Each side's core; until attached, the side is neither run nor given frames.
  void attach(std::size_t side, Core& core) { cores_[side] = &core; }

  // What a core sends: logged now, delivered to the other side once the sender's work is done.
  void transmit(std::size_t from, const canbus::Frame& frame) {
    if (halted_[from]) return;
    note(tags_[from] + " " + canbus::toCandump(frame));
    queue_.emplace_back(from, frame);
  }
  // A line of the log at the current time.
  void note(std::string text) { log_.push_back({clock_.elapsed(), std::move(text)}); }

  // The side falls silent, as a module that is switched off: it is no longer run, frames no
  // longer reach it, and what it still sends is lost.
  void halt(std::size_t side) { halted_[side] = true; }

  const FakeClock& clock() const { return clock_; }
  TimePoint now() const { return clock_.now(); }
  Duration elapsed() const { return clock_.elapsed(); }

  // Delivers the frames on the bus and runs each core that is due, until nothing is left to do
  // at the current instant.
  void settle() {
    std::array<bool, kSides> ranWithoutInput{};
    for (;;) {
      while (!queue_.empty()) {
        const auto [from, frame] = queue_.front();
        queue_.pop_front();
        const std::size_t to = 1 - from;
        if (!running(to)) continue;
        ranWithoutInput[to] = false;
        cores_[to]->onFrame(frame, clock_.now());
      }
      bool ranAny = false;
      for (std::size_t side = 0; side < kSides; ++side) {
        if (!due(side)) continue;
        if (ranWithoutInput[side]) {
          ADD_FAILURE() << "the core tagged \"" << tags_[side] << "\" is due again at "
                        << formatTime(clock_.elapsed())
                        << " right after it ran: a deadline in the past is never cleared";
          failed_ = true;
          return;
        }
        cores_[side]->run(clock_.now());
        ranWithoutInput[side] = true;
        ranAny = true;
        break;  // its frames reach the other side before that runs
      }
      if (!ranAny && queue_.empty()) return;
    }
  }

  // Runs until `done()` holds (the clock stays at that instant: true) or until `limit` from now
  // has passed (false; both cores have run at that instant).
  bool runUntil(const std::function<bool()>& done, Duration limit) {
    const TimePoint end = clock_.now() + limit;
    for (;;) {
      settle();
      if (done()) return true;
      if (failed_) return false;
      const std::optional<TimePoint> next = nextDeadline();
      if (!next || *next > end) {
        jumpTo(end);
        // Both run once more, as a loop woken for some other reason would: whatever is not due
        // yet must not happen.
        for (std::size_t side = 0; side < kSides; ++side) {
          if (running(side)) cores_[side]->run(clock_.now());
        }
        settle();
        return done();
      }
      jumpTo(*next);
    }
  }
  // Runs up to `step` from now, every deadline on the way at its time.
  void runFor(Duration step) {
    runUntil([] { return false; }, step);
  }

  // A pause of the whole system (a suspended process): the clock moves on by `step` without any
  // core running; then everything that is due runs at once.
  void pause(Duration step) {
    clock_.advance(step);
    settle();
  }

  struct Line {
    Duration at;  // since the start
    std::string text;
  };
  // The log since the last take, oldest first, one "<time> <text>" each.
  std::vector<std::string> takeLog() {
    std::vector<std::string> lines;
    for (const Line& line : std::exchange(log_, {})) {
      lines.push_back(formatTime(line.at) + " " + line.text);
    }
    return lines;
  }
  const std::vector<Line>& log() const { return log_; }

  // Milliseconds as the log writes them: "120", "100.001", "60.000001".
  static std::string formatTime(Duration since) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(since).count();
    std::string text = std::to_string(ns / 1000000);
    if (const long long fraction = ns % 1000000; fraction != 0) {
      char digits[8];
      std::snprintf(digits, sizeof digits, "%06lld", fraction);
      std::string part(digits);
      part.erase(part.find_last_not_of('0') + 1);
      text += "." + part;
    }
    return text;
  }

 private:
  bool running(std::size_t side) const { return cores_[side] != nullptr && !halted_[side]; }
  bool due(std::size_t side) const {
    if (!running(side)) return false;
    const std::optional<TimePoint> next = cores_[side]->nextDeadline();
    return next && *next <= clock_.now();
  }
  std::optional<TimePoint> nextDeadline() const {
    std::optional<TimePoint> next;
    for (std::size_t side = 0; side < kSides; ++side) {
      if (!running(side)) continue;
      if (const auto due = cores_[side]->nextDeadline(); due && (!next || *due < *next)) {
        next = due;
      }
    }
    return next;
  }
  void jumpTo(TimePoint when) {
    if (when > clock_.now()) clock_.setElapsed(when - clock_.start());
  }

  std::array<std::string, kSides> tags_;
  std::array<Core*, kSides> cores_{};
  std::array<bool, kSides> halted_{};
  std::deque<std::pair<std::size_t, canbus::Frame>> queue_;
  std::vector<Line> log_;
  FakeClock clock_;
  bool failed_ = false;
};

}  // namespace test_kit
