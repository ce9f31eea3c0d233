// The engine's next deadline: when its loop next has work, so that a driver may sleep until then
// (or until the next frame) instead of polling.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "drivers/canopen.h"
#include "engine_harness.h"

namespace canopen32 {
namespace {

using std::chrono::milliseconds;
using testing::Harness;

constexpr Duration kTick{1};  // the finest step of the core's clock

TEST(NextDeadline, NothingWhileIdleAndAtOnceWhileReportsWait) {
  Harness h;
  EXPECT_EQ(h.engine.nextDeadline(), std::nullopt);
  // Switching supervision on queues its first report for the next loop: run at once.
  ASSERT_EQ(h.engine.heartbeat(h.now, 5, KCO_HEARTBEAT_ON, 100), KCO_HEARTBEAT_OK);
  EXPECT_EQ(h.engine.nextDeadline(), Duration{0});
  h.run({"+0", "! heartbeat 5 6200 6300"});
  // Waiting for the first beat never times out.
  EXPECT_EQ(h.engine.nextDeadline(), std::nullopt);
}

struct TimerCase {
  const char* name;
  // Sets one service up at h.now; the loop runs once right after.
  std::function<void(Harness& h)> setUp;
  Duration after;      // the deadline, from the set-up
  const char* action;  // what the loop does first at the deadline (its beginning)
};

void PrintTo(const TimerCase& c, std::ostream* out) { *out << c.name; }

class NextDeadlineOf : public ::testing::TestWithParam<TimerCase> {};

// Before the deadline a loop does nothing; at the deadline it does what was due.
TEST_P(NextDeadlineOf, IsTheFirstMomentTheLoopHasWork) {
  const TimerCase& c = GetParam();
  Harness h;
  c.setUp(h);
  h.engine.tick(h.now);
  h.sent.clear();
  h.events.clear();
  const Duration start = h.now.steady;
  ASSERT_EQ(h.engine.nextDeadline(), start + c.after);
  h.now.steady = start + c.after - kTick;
  h.engine.tick(h.now);
  EXPECT_TRUE(h.sent.empty() && h.events.empty()) << "work before the deadline";
  h.now.steady = start + c.after;
  h.engine.tick(h.now);
  std::vector<std::string> done(h.sent.begin(), h.sent.end());
  done.insert(done.end(), h.events.begin(), h.events.end());
  ASSERT_FALSE(done.empty()) << "nothing done at the deadline";
  EXPECT_EQ(done.front().rfind(c.action, 0), 0u) << done.front();
}

INSTANTIATE_TEST_SUITE_P(
    Timers, NextDeadlineOf,
    ::testing::Values(
        TimerCase{"SdoStepTimeout",
                  [](Harness& h) {
                    static uint32_t value = 0;
                    h.engine.sdo(h.now, 5, 0x1018, 4, KCO_SDO_UPLOAD, KCO_TYPE_U32, &value);
                  },
                  milliseconds(1000), "605#8018100400000405"},
        TimerCase{"HeartbeatMissing",
                  [](Harness& h) {
                    h.engine.heartbeat(h.now, 5, KCO_HEARTBEAT_ON, 200);
                    h.receive("705#05");
                  },
                  milliseconds(200) + kTick, "heartbeat 5 6202 6300"},
        TimerCase{"GuardingRequest",
                  [](Harness& h) { h.engine.nodeGuard(h.now, 5, KCO_NODEGUARD_ON, 100, 3); },
                  milliseconds(100), "705#R"},
        TimerCase{"TransmitPdo",
                  [](Harness& h) {
                    static uint32_t variable = 0;
                    static const kcoPdoEntry table[] = {{4, &variable}, {0, nullptr}};
                    h.engine.pdo(h.now, 5, 1, KCO_PDO_INSTALL, KCO_PDO_TRANSMIT, table, 250u << 16);
                  },
                  milliseconds(250), "205#00000000"},
        TimerCase{"Sync", [](Harness& h) { h.engine.sync(h.now, KCO_SYNC_ON, 40); },
                  milliseconds(40), "080#"},
        TimerCase{"Time", [](Harness& h) { h.engine.timestamp(h.now, KCO_TIMESTAMP_ON, 70); },
                  milliseconds(70), "100#"}),
    [](const auto& param) { return std::string(param.param.name); });

// A record of what the engine did, with the time it was seen.
using Timeline = std::vector<std::pair<Duration, std::string>>;

// What may befall a run: the wall clock set to another time from one moment on (the steady clock
// runs on), and a pause in which the loop does not run at all (the caller's thread blocked).
// Times count from the start of the run.
struct Disturbance {
  Duration wallJumpAt = Duration::max();
  Duration wallJumpBy{};
  Duration pauseFrom = Duration::max();
  Duration pauseTo{};
};

// Every timer at once, a node that beats twice and then falls silent, another that never answers
// guarding, an SDO upload nobody answers; run for 2 s either by a loop every millisecond or by a
// loop only at each next deadline (and at each frame).
Timeline runNetwork(bool sleepUntilDeadline, const Disturbance& disturbance = {}) {
  Harness h;
  uint32_t value = 0x04030201;
  const kcoPdoEntry table[] = {{4, &value}, {0, nullptr}};
  EXPECT_EQ(h.engine.heartbeat(h.now, 5, KCO_HEARTBEAT_ON, 200), KCO_HEARTBEAT_OK);
  EXPECT_EQ(h.engine.nodeGuard(h.now, 6, KCO_NODEGUARD_ON, 150, 2), KCO_NODEGUARD_OK);
  EXPECT_EQ(h.engine.pdo(h.now, 7, 1, KCO_PDO_INSTALL, KCO_PDO_TRANSMIT, table, 90u << 16),
            KCO_PDO_OK);
  EXPECT_EQ(h.engine.sync(h.now, KCO_SYNC_ON, 330), KCO_SYNC_OK);
  EXPECT_EQ(h.engine.timestamp(h.now, KCO_TIMESTAMP_ON, 700), KCO_TIMESTAMP_OK);
  uint32_t upload = 0;
  EXPECT_EQ(h.engine.sdo(h.now, 8, 0x1018, 4, KCO_SDO_UPLOAD, KCO_TYPE_U32, &upload),
            KCO_SDO_ACCEPTED);

  const Duration start = h.now.steady;
  const std::vector<std::pair<Duration, const char*>> frames = {
      {start + milliseconds(120), "705#05"}, {start + milliseconds(260), "705#7F"}};
  const Duration end = start + milliseconds(2000);
  Timeline seen;
  const auto record = [&] {
    for (const std::string& frame : h.sent) seen.emplace_back(h.now.steady - start, "> " + frame);
    for (const std::string& event : h.events) {
      seen.emplace_back(h.now.steady - start, "! " + event);
    }
    h.sent.clear();
    h.events.clear();
  };
  size_t nextFrame = 0;
  h.engine.tick(h.now);
  record();
  for (int loops = 0; h.now.steady < end; ++loops) {
    if (loops > 100000) {
      ADD_FAILURE() << "the loop never gets past " << (h.now.steady - start).count() << " us";
      break;
    }
    Duration wake = end;
    if (nextFrame < frames.size()) wake = std::min(wake, frames[nextFrame].first);
    if (sleepUntilDeadline) {
      if (const auto deadline = h.engine.nextDeadline()) wake = std::min(wake, *deadline);
    } else {
      wake = std::min(wake, h.now.steady + milliseconds(1));
    }
    if (wake - start >= disturbance.pauseFrom && wake - start < disturbance.pauseTo) {
      wake = start + disturbance.pauseTo;
    }
    h.now.steady = std::max(wake, h.now.steady);
    // The wall clock runs with the steady one from 2024-01-01 00:00, unless it is set.
    h.now.wall = std::chrono::seconds(1704067200) + (h.now.steady - start);
    if (h.now.steady - start >= disturbance.wallJumpAt) h.now.wall += disturbance.wallJumpBy;
    if (nextFrame < frames.size() && h.now.steady >= frames[nextFrame].first) {
      h.receive(frames[nextFrame++].second);
    }
    h.engine.tick(h.now);
    record();
  }
  return seen;
}

TEST(NextDeadline, SleepingUntilItDoesWhatPollingDoes) {
  const Timeline polled = runNetwork(false);
  const Timeline slept = runNetwork(true);
  ASSERT_GT(polled.size(), 30u);
  ASSERT_EQ(slept.size(), polled.size());
  for (size_t i = 0; i < polled.size(); ++i) {
    SCOPED_TRACE(polled[i].second);
    EXPECT_EQ(slept[i].second, polled[i].second);
    // Never later than polling, and earlier by less than one polling step.
    EXPECT_LE(slept[i].first, polled[i].first);
    EXPECT_LT(polled[i].first - slept[i].first, milliseconds(1));
  }
}

struct WallJumpCase {
  const char* name;
  Duration at;
  Duration by;
};

void PrintTo(const WallJumpCase& c, std::ostream* out) { *out << c.name; }

class WallClockJump : public ::testing::TestWithParam<WallJumpCase> {};

// A wall clock set back or forward moves no deadline: the same frames and reports at the same
// steady times, whether the loop polls or sleeps; only the TIME frames carry the new time.
TEST_P(WallClockJump, ChangesNothingButTheTimeFramesContents) {
  const WallJumpCase& c = GetParam();
  for (const bool sleeping : {false, true}) {
    SCOPED_TRACE(sleeping ? "sleeping until the next deadline" : "polling every millisecond");
    const Timeline steady = runNetwork(sleeping);
    const Timeline jumped =
        runNetwork(sleeping, Disturbance{.wallJumpAt = c.at, .wallJumpBy = c.by});
    ASSERT_EQ(jumped.size(), steady.size());
    int timeFramesChanged = 0;
    for (size_t i = 0; i < steady.size(); ++i) {
      SCOPED_TRACE(steady[i].second);
      EXPECT_EQ(jumped[i].first, steady[i].first);
      if (steady[i].second.rfind("> 100#", 0) == 0) {
        EXPECT_EQ(jumped[i].second.rfind("> 100#", 0), 0u) << jumped[i].second;
        if (jumped[i].second != steady[i].second) ++timeFramesChanged;
      } else {
        EXPECT_EQ(jumped[i].second, steady[i].second);
      }
    }
    EXPECT_GT(timeFramesChanged, 0) << "the jump never reached a TIME frame";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Jumps, WallClockJump,
    ::testing::Values(WallJumpCase{"SetBackAnHour", milliseconds(500), -std::chrono::hours(1)},
                      WallJumpCase{"SetForwardADay", milliseconds(500), std::chrono::hours(24)},
                      WallJumpCase{"SetBackTenSecondsAtOnce", milliseconds(0),
                                   -std::chrono::seconds(10)},
                      WallJumpCase{"SetForwardAMinuteBeforeTheSdoTimeout", milliseconds(990),
                                   std::chrono::minutes(1)}),
    [](const auto& param) { return std::string(param.param.name); });

struct PauseCase {
  const char* name;
  Duration from;
  Duration to;
};

void PrintTo(const PauseCase& c, std::ostream* out) { *out << c.name; }

class LoopPause : public ::testing::TestWithParam<PauseCase> {};

// A loop that sleeps until the next deadline and then does not run for a while (its thread was
// blocked; the pauses begin after the nodes' last frame) misses nothing: every report that became
// due during the pause (heartbeat, guarding, SDO time-out) comes at the first loop after it; before
// the pause nothing changes.
TEST_P(LoopPause, ReportsWhatFellDueAtTheFirstLoopAfterIt) {
  const PauseCase& c = GetParam();
  const Timeline undisturbed = runNetwork(true);
  const Timeline paused = runNetwork(true, Disturbance{.pauseFrom = c.from, .pauseTo = c.to});
  const auto firstReport = [](const Timeline& timeline, const std::string& text) {
    for (const auto& [at, what] : timeline) {
      if (what == text) return std::optional<Duration>(at);
    }
    return std::optional<Duration>();
  };
  int dueInPause = 0;
  for (const auto& [at, what] : undisturbed) {
    if (what.rfind("! ", 0) != 0 || at >= c.to) continue;
    SCOPED_TRACE(what);
    const std::optional<Duration> first = firstReport(undisturbed, what);
    if (*first != at) continue;  // a repetition; its first report counts
    const std::optional<Duration> seen = firstReport(paused, what);
    ASSERT_TRUE(seen.has_value()) << "lost in the pause";
    if (at < c.from) {
      EXPECT_EQ(*seen, at) << "before the pause";
    } else {
      EXPECT_EQ(*seen, c.to) << "not at the first loop after the pause";
      ++dueInPause;
    }
  }
  EXPECT_GT(dueInPause, 0) << "nothing fell due in the pause";
  for (const auto& [at, what] : paused) {
    EXPECT_FALSE(at > c.from && at < c.to) << what << " inside the pause";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Pauses, LoopPause,
    ::testing::Values(PauseCase{"OverTheHeartbeatAndGuardingTimeouts", milliseconds(300),
                                milliseconds(900)},
                      PauseCase{"OverTheSdoTimeout", milliseconds(700), milliseconds(1400)},
                      PauseCase{"FromTheLastFrameToTheEnd", milliseconds(261), milliseconds(1990)}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace canopen32
