// The core's next deadline: when it next needs to run if no frame arrives. Whoever sleeps until
// then (the rq730sim program) must see every timer fire exactly as with a clock that ticks
// every millisecond.
#include <gtest/gtest.h>

#include <map>

#include "sim_fixture.h"

namespace rq730sim_test {
namespace {

using rq730sim::Clock;

class DeadlineTest : public SimFixture {
 protected:
  // What the core sends when run at `when`.
  Frames runAt(Clock::time_point when) {
    sim_->advance(when);
    return take();
  }
};

TEST_F(DeadlineTest, AtOnceBeforePowerOnAndAfterARebootNothingWhenNothingIsPending) {
  create();
  ASSERT_TRUE(sim_->nextDeadline());
  EXPECT_LE(*sim_->nextDeadline(), clock_.now());
  start();
  EXPECT_FALSE(sim_->nextDeadline());  // pre-operational, heartbeat off, not guarded
  sim_->reboot();
  ASSERT_TRUE(sim_->nextDeadline());
  EXPECT_EQ(*sim_->nextDeadline(), clock_.now());
  EXPECT_EQ(advance(0ms), Frames{"701#00"});
  EXPECT_FALSE(sim_->nextDeadline());
}

// Each case configures one timer now; the deadline is when it fires, and it fires no sooner.
TEST_F(DeadlineTest, EachTimerIsDueAtItsDeadlineAndNotBefore) {
  struct Case {
    const char* name;
    std::vector<std::string_view> setUp;  // frames now
    std::chrono::nanoseconds after;       // the deadline, from now
    Frames fires;
  };
  const Case cases[] = {
      {"heartbeat 100 ms", {"601#2B17100064000000"}, 100ms, {"701#7F"}},
      {"delayed SDO answer", {"601#4000100000000000"}, 50ms, {"581#4300100000000000"}},
      {"life guarding 40 ms x 3",
       {"601#2B0C100028000000", "601#2F0D100003000000", "701#R"},
       120ms + 1ns,  // lost once more than the life time has passed
       {"081#3081110000000000"}},
  };
  for (const auto& c : cases) {
    auto options = defaultOptions();
    if (std::string_view(c.name) == "delayed SDO answer") options.faults.sdoDelay = 50ms;
    start(options);
    for (auto text : c.setUp) sim_->onFrame(test_kit::frame(text), clock_.now());
    advance(0ms);
    const auto deadline = sim_->nextDeadline();
    ASSERT_TRUE(deadline) << c.name;
    EXPECT_EQ(*deadline - clock_.now(), c.after) << c.name;
    EXPECT_TRUE(runAt(*deadline - 1ns).empty()) << c.name;
    EXPECT_EQ(runAt(*deadline), c.fires) << c.name;
  }
}

TEST_F(DeadlineTest, OperationalWithEventDrivenPdosWakesForEachMeasurement) {
  start();
  exchange({"000#0101"});  // PDOs go out at once
  const auto deadline = sim_->nextDeadline();
  ASSERT_TRUE(deadline);
  EXPECT_GT(*deadline, clock_.now());
  EXPECT_LE(*deadline - clock_.now(), defaultOptions().sampleInterval);
  // Every PDO off: nothing left to wake for.
  for (auto frame : {"601#2300180181010080", "601#2301180181020080", "601#2302180181030080"}) {
    exchange({frame});
  }
  EXPECT_FALSE(sim_->nextDeadline());
}

// A master's frames at fixed times, against the module's timers: heartbeat, PDOs with inhibit
// time and event timer on a changing load, life guarding and slow SDO answers.
struct Scenario {
  std::multimap<long, std::string_view> input{
      {0, "601#2B17100046000000"},  // heartbeat 70 ms
      {0, "601#2300180181010080"},  // TPDO 1 not valid,
      {0, "601#2B03180164000000"},  // inhibit time 10 ms,
      {0, "601#2300180181010000"},  // valid again
      {0, "601#2B0C100032000000"},  // guard time 50 ms
      {0, "601#2F0D100003000000"},  // life time factor 3
      {5, "000#0101"},              // start
      {100, "701#R"},               // guarded once, then never again
      {400, "601#4000100000000000"},
      {1500, "000#8001"},  // pre-operational: PDOs stop
  };
  std::chrono::milliseconds length{2500};
};

rq730sim::Options scenarioOptions() {
  rq730sim::Options options;
  options.warmup = 200ms;
  options.faults.sdoDelay = 30ms;
  return options;
}

rq730sim::LoadProfile steps() {
  rq730sim::LoadProfile profile;
  profile.shape = rq730sim::LoadProfile::Shape::steps;
  profile.stepsKg = {0, 100, 250};
  profile.stepPeriod = 300ms;
  return profile;
}

using Timed = std::vector<std::pair<long, std::string>>;

TEST_F(DeadlineTest, SleepingFromDeadlineToDeadlineSendsWhatAMillisecondClockSends) {
  const Scenario scenario;
  const auto begin = clock_.now();
  // Time of a frame as a millisecond clock sees it: the first tick at or after it.
  auto tick = [&](Clock::time_point at) {
    return static_cast<long>(std::chrono::ceil<std::chrono::milliseconds>(at - begin).count());
  };

  // Every millisecond.
  Timed ticking;
  create(scenarioOptions());
  sim_->setProfile(steps());
  for (long ms = 0; ms <= scenario.length.count(); ++ms) {
    const auto at = begin + std::chrono::milliseconds(ms);
    auto [first, last] = scenario.input.equal_range(ms);
    for (auto it = first; it != last; ++it) sim_->onFrame(test_kit::frame(it->second), at);
    sim_->advance(at);
    for (auto& frame : take()) ticking.emplace_back(ms, frame);
  }

  // Only at the deadlines and when a frame comes.
  Timed sleeping;
  int runs = 0;
  create(scenarioOptions());
  sim_->setProfile(steps());
  auto next = scenario.input.begin();
  Clock::time_point at = begin;
  const auto end = begin + scenario.length;
  while (at <= end) {
    for (; next != scenario.input.end() && begin + std::chrono::milliseconds(next->first) == at;
         ++next) {
      sim_->onFrame(test_kit::frame(next->second), at);
    }
    sim_->advance(at);
    ++runs;
    for (auto& frame : take()) sleeping.emplace_back(tick(at), frame);
    Clock::time_point wake = end + 1ns;
    if (next != scenario.input.end()) wake = begin + std::chrono::milliseconds(next->first);
    if (auto deadline = sim_->nextDeadline(); deadline && *deadline < wake) wake = *deadline;
    ASSERT_GT(wake, at) << "the deadline does not move on";
    at = wake;
  }

  EXPECT_EQ(sleeping, ticking);
  // The scenario exercises what it names.
  auto sent = [&](std::string_view prefix) {
    return std::count_if(ticking.begin(), ticking.end(),
                         [&](const auto& f) { return f.second.starts_with(prefix); });
  };
  EXPECT_GE(sent("701#"), 30);  // heartbeats
  EXPECT_GE(sent("181#"), 4);   // PDO 1 on each step and by its event timer
  EXPECT_EQ(sent("081#"), 1);   // life guard lost
  EXPECT_EQ(sent("581#"), 7);   // every SDO answer, 30 ms late
  EXPECT_LT(runs, 400);         // and it slept most of the time
}

}  // namespace
}  // namespace rq730sim_test
