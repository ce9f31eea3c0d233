// The replay's schedule on a made-up clock: which frame is due when, exactly.
#include "replay_player.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "support/candump_frames.h"

namespace canhub {
namespace {

using namespace std::chrono_literals;
using canbus::CandumpLogEntry;
using canbus::toCandump;

// A log read one entry at a time; counts how many were read.
struct Log {
  std::vector<CandumpLogEntry> entries;
  std::size_t read = 0;
  ReplayPlayer::Source source() {
    return [this]() -> std::optional<CandumpLogEntry> {
      if (read == entries.size()) return std::nullopt;
      return entries[read++];
    };
  }
};

CandumpLogEntry at(int64_t us, const char* frame) {
  return CandumpLogEntry{std::chrono::microseconds(us), "can0", test_kit::frame(frame)};
}

// Plays everything, asking exactly at each due time (and just before it): each frame with its
// due time after the start.
std::vector<std::pair<Clock::duration, std::string>> playAll(ReplayPlayer& player,
                                                             Clock::time_point start) {
  std::vector<std::pair<Clock::duration, std::string>> played;
  player.start(start);
  while (!player.finished()) {
    const std::optional<Clock::time_point> due = player.nextDue();
    if (!due) {
      ADD_FAILURE() << "no due time before the end";
      break;
    }
    EXPECT_FALSE(player.takeDue(*due - 1ns).has_value()) << "early at " << played.size();
    const std::optional<canbus::Frame> frame = player.takeDue(*due);
    if (!frame) {
      ADD_FAILURE() << "not due at its due time";
      break;
    }
    played.emplace_back(*due - start, toCandump(*frame));
  }
  EXPECT_FALSE(player.nextDue().has_value());
  return played;
}

// Stamps 10 ms, 0, 15 ms apart, then back by 1 s (costs nothing), then 5 ms on.
const std::vector<CandumpLogEntry> kLog = {
    at(1000'000000, "181#01"), at(1000'010000, "182#02"), at(1000'010000, "183#03"),
    at(1000'025000, "184#04"), at(999'025000, "185#05"),  at(999'030000, "12345678#R2"),
};

TEST(ReplayPlayerTest, FramesAreDueAsTheStampsSayScaledBySpeed) {
  struct Case {
    double speed;
    std::vector<Clock::duration> due;
  };
  const std::vector<Case> cases = {
      {1.0, {0ms, 10ms, 10ms, 25ms, 25ms, 30ms}},
      {2.0, {0ms, 5ms, 5ms, 12500us, 12500us, 15ms}},
      {0.5, {0ms, 20ms, 20ms, 50ms, 50ms, 60ms}},
      {1000.0, {0ms, 10us, 10us, 25us, 25us, 30us}},
  };
  const Clock::time_point start = Clock::time_point() + 1h;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.speed);
    Log log{kLog};
    ReplayPlayer player(log.source(), c.speed);
    std::vector<std::pair<Clock::duration, std::string>> expected;
    for (std::size_t i = 0; i < kLog.size(); ++i) {
      expected.emplace_back(c.due[i], toCandump(kLog[i].frame));
    }
    EXPECT_EQ(playAll(player, start), expected);
    EXPECT_EQ(player.played(), kLog.size());
  }
}

TEST(ReplayPlayerTest, NothingIsDueBeforeTheStart) {
  Log log{kLog};
  ReplayPlayer player(log.source(), 1.0);
  EXPECT_FALSE(player.empty());
  EXPECT_FALSE(player.nextDue().has_value());
  EXPECT_FALSE(player.takeDue(Clock::time_point::max()).has_value());
  // Starting again later does not move the schedule.
  const Clock::time_point start = Clock::time_point() + 1h;
  player.start(start);
  player.start(start + 1s);
  EXPECT_EQ(player.nextDue(), start);
}

TEST(ReplayPlayerTest, ALateCallerGetsTheOverdueFramesInOrderOneByOne) {
  Log log{kLog};
  ReplayPlayer player(log.source(), 1.0);
  const Clock::time_point start = Clock::time_point() + 1h;
  player.start(start);
  std::vector<std::string> frames;
  while (std::optional<canbus::Frame> frame = player.takeDue(start + 26ms)) {
    frames.push_back(toCandump(*frame));
  }
  EXPECT_EQ(frames, (std::vector<std::string>{"181#01", "182#02", "183#03", "184#04", "185#05"}));
  EXPECT_EQ(player.nextDue(), start + 30ms);
}

TEST(ReplayPlayerTest, ReadsTheLogOnlyAsFramesFallDue) {
  Log log{kLog};
  ReplayPlayer player(log.source(), 1.0);
  EXPECT_EQ(log.read, 1U);  // the first entry: its frame is due at the start
  const Clock::time_point start = Clock::time_point() + 1h;
  player.start(start);
  ASSERT_TRUE(player.takeDue(start).has_value());
  EXPECT_EQ(log.read, 2U);
  EXPECT_FALSE(player.takeDue(start + 9ms).has_value());
  EXPECT_EQ(log.read, 2U);
}

TEST(ReplayPlayerTest, AnEmptyLogIsFinishedAtOnce) {
  Log log;
  ReplayPlayer player(log.source(), 1.0);
  EXPECT_TRUE(player.empty());
  EXPECT_TRUE(player.finished());
  player.start(Clock::time_point() + 1h);
  EXPECT_FALSE(player.nextDue().has_value());
}

TEST(ReplayPlayerTest, HugeGapsAreCappedNotOverflowed) {
  Log log{{at(0, "181#01"), at(canbus::kMaxCandumpLogSeconds * 1'000'000, "182#02"),
           at(0, "183#03"), at(canbus::kMaxCandumpLogSeconds * 1'000'000, "184#04")}};
  ReplayPlayer player(log.source(), 1e-9);
  const Clock::time_point start = Clock::time_point() + 1h;
  player.start(start);
  ASSERT_TRUE(player.takeDue(start).has_value());
  const std::optional<Clock::time_point> due = player.nextDue();
  ASSERT_TRUE(due.has_value());
  EXPECT_GT(*due, start + std::chrono::hours(24 * 365 * 50));
  ASSERT_TRUE(player.takeDue(*due).has_value());
  ASSERT_TRUE(player.takeDue(*due).has_value());  // back in time: due at once
  EXPECT_EQ(player.nextDue(), due);               // the cap holds the rest
}

}  // namespace
}  // namespace canhub
