// When a lost channel is tried again: a script of calls at given times (ms) per case, with what
// due() answers, when the next try is and which failure is kept.
#include "canbus/reconnect_policy.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace canbus {
namespace {

using Clock = ReconnectPolicy::Clock;
using FirstTry = ReconnectPolicy::FirstTry;
constexpr auto kInterval = std::chrono::milliseconds(500);

Clock::time_point at(int ms) { return Clock::time_point(std::chrono::milliseconds(ms)); }

struct Step {
  enum class Call { due, failed, succeeded, lost } call;
  int ms = 0;              // the time of due() and failed()
  bool expectDue = false;  // due(): its answer
  std::string reason;      // failed(), lost()
};

Step due(int ms, bool expected) { return {Step::Call::due, ms, expected, {}}; }
Step failed(int ms, std::string why) { return {Step::Call::failed, ms, false, std::move(why)}; }
Step succeeded() { return {Step::Call::succeeded, 0, false, {}}; }
Step lost(std::string why) { return {Step::Call::lost, 0, false, std::move(why)}; }

struct Case {
  const char* name;
  FirstTry firstTry;
  std::vector<Step> steps;
  // After the script:
  std::optional<int> nextTryMs;
  std::string lastFailure;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class ReconnectPolicyTest : public ::testing::TestWithParam<Case> {};

TEST_P(ReconnectPolicyTest, TriesWhenDueAndKeepsTheLastFailure) {
  const Case& c = GetParam();
  ReconnectPolicy policy(kInterval, c.firstTry);
  EXPECT_FALSE(policy.waiting());
  for (std::size_t i = 0; i < c.steps.size(); ++i) {
    const Step& step = c.steps[i];
    SCOPED_TRACE("step " + std::to_string(i) + " at " + std::to_string(step.ms) + " ms");
    switch (step.call) {
      case Step::Call::due:
        EXPECT_EQ(policy.due(at(step.ms)), step.expectDue);
        EXPECT_TRUE(policy.waiting());
        break;
      case Step::Call::failed: policy.failed(at(step.ms), step.reason); break;
      case Step::Call::succeeded:
        policy.succeeded();
        EXPECT_FALSE(policy.waiting());
        break;
      case Step::Call::lost: policy.lost(step.reason); break;
    }
  }
  EXPECT_EQ(policy.nextTry(), c.nextTryMs ? std::optional(at(*c.nextTryMs)) : std::nullopt);
  EXPECT_EQ(policy.lastFailure(), c.lastFailure);
  EXPECT_EQ(policy.interval(), kInterval);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReconnectPolicyTest,
    ::testing::Values(
        // The driver library: the first reopen one interval after the loss was noticed, then one
        // an interval after each failure.
        Case{"AfterIntervalWaitsBeforeTheFirstTry",
             FirstTry::afterInterval,
             {lost("hub closed"), due(10, false), due(400, false), due(509, false), due(510, true),
              failed(510, "hub not there"), due(600, false), due(1009, false), due(1010, true)},
             1010,
             "hub not there"},
        // A link that starts without a channel schedules its first try at its first look.
        Case{"AfterIntervalWithoutALoss",
             FirstTry::afterInterval,
             {due(0, false), due(500, true), succeeded()},
             std::nullopt,
             ""},
        // The rq730sim program: the first try as soon as the loss is noticed, then one an
        // interval after each failure.
        Case{"AtOnceTriesAtTheFirstLook",
             FirstTry::atOnce,
             {due(100, true), failed(100, "refused"), due(101, false), due(599, false),
              due(600, true), failed(600, "refused again")},
             1100,
             "refused again"},
        // A success clears what was kept; the next loss starts the schedule afresh, from its
        // own first look, not from an old failure.
        Case{"ASuccessEndsTheScheduleAndTheNextLossStartsAfresh",
             FirstTry::afterInterval,
             {due(0, false), due(500, true), failed(500, "no bit rate"), succeeded(),
              lost("unplugged"), due(2000, false), due(2499, false), due(2500, true)},
             2500,
             "unplugged"},
        // A loss while a try is scheduled puts the next try one interval after the next look.
        Case{"ALossReschedules",
             FirstTry::afterInterval,
             {due(0, false), lost("gone"), due(300, false), due(500, false), due(800, true)},
             800,
             "gone"},
        Case{"AtOnceAfterASuccess",
             FirstTry::atOnce,
             {due(0, true), succeeded(), due(50, true)},
             50,
             ""}),
    [](const ::testing::TestParamInfo<Case>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace canbus
