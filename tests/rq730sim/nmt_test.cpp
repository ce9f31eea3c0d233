// NMT state machine, boot-up, heartbeat, node guarding and EMCY of the module.
#include <gtest/gtest.h>

#include <algorithm>

#include "sim_fixture.h"

namespace rq730sim_test {
namespace {

using rq730sim::NmtState;

class NmtTest : public SimFixture {
 protected:
  // Only the node's error control frames (boot-up, heartbeat, guarding replies).
  static Frames errorControl(const Frames& frames) {
    Frames result;
    std::copy_if(frames.begin(), frames.end(), std::back_inserter(result),
                 [](const std::string& f) { return f.starts_with("701#"); });
    return result;
  }
};

TEST_F(NmtTest, PowerOnSendsBootUpAndEntersPreOperational) {
  EXPECT_EQ(start(), Frames{"701#00"});
  EXPECT_EQ(sim_->nmtState(), NmtState::preOperational);
  EXPECT_TRUE(advance(5000ms).empty());  // heartbeat is off by default, no PDOs in pre-op
}

TEST_F(NmtTest, CommandsForThisNodeOrAllChangeStateAndHeartbeatFollowsAtOnce) {
  struct Case {
    const char* command;
    NmtState state;
    Frames sent;  // error control frames only
  };
  const Case cases[] = {
      {"000#0101", NmtState::operational, {"701#05"}},
      {"000#0101", NmtState::operational, {}},  // no change, no extra heartbeat
      {"000#0201", NmtState::stopped, {"701#04"}},
      {"000#8000", NmtState::preOperational, {"701#7F"}},  // 0 = all nodes
      {"000#0102", NmtState::preOperational, {}},          // another node
      {"000#01", NmtState::preOperational, {}},            // malformed: one byte
      {"000#0100", NmtState::operational, {"701#05"}},
      {"000#8201", NmtState::preOperational, {"701#00"}},  // reset communication
  };
  start();
  EXPECT_EQ(sdo("601#2B17100064000000"), "581#6017100000000000");  // heartbeat 100 ms
  for (const auto& c : cases) {
    EXPECT_EQ(errorControl(exchange({c.command})), c.sent) << c.command;
    EXPECT_EQ(sim_->nmtState(), c.state) << c.command;
  }
  // Reset communication restored the heartbeat time to off.
  EXPECT_EQ(sdo("601#4017100000000000"), "581#4B17100000000000");
}

TEST_F(NmtTest, HeartbeatRepeatsWithItsPeriod) {
  start();
  EXPECT_EQ(sdo("601#2B17100064000000"), "581#6017100000000000");
  using Sent = std::vector<std::pair<long, std::string>>;
  EXPECT_EQ(run(350ms), (Sent{{100, "701#7F"}, {200, "701#7F"}, {300, "701#7F"}}));
}

TEST_F(NmtTest, ResetNodeRebootsAndResetsCommunicationParameters) {
  start();
  EXPECT_EQ(sdo("601#2B0C100064000000"), "581#600C100000000000");  // guard time 100
  EXPECT_EQ(exchange({"000#8101"}), Frames{"701#00"});
  EXPECT_EQ(sdo("601#400C100000000000"), "581#4B0C100000000000");
  sim_->reboot();
  EXPECT_EQ(advance(1ms), Frames{"701#00"});
  EXPECT_EQ(sim_->nmtState(), NmtState::preOperational);
}

TEST_F(NmtTest, GuardingRepliesCarryStateAndAlternatingToggleFromZero) {
  start();
  EXPECT_EQ(exchange({"701#R"}), Frames{"701#7F"});
  EXPECT_EQ(exchange({"701#R"}), Frames{"701#FF"});
  EXPECT_EQ(exchange({"701#R"}), Frames{"701#7F"});
  exchange({"000#0201"});
  EXPECT_EQ(exchange({"701#R"}), Frames{"701#84"});
  EXPECT_TRUE(exchange({"702#R"}).empty());
  // Reset communication starts the toggle at 0 again.
  EXPECT_EQ(exchange({"000#8201"}), Frames{"701#00"});
  EXPECT_EQ(exchange({"701#R"}), Frames{"701#7F"});
}

TEST_F(NmtTest, StoppedNodeAnswersOnlyNmtAndGuarding) {
  start();
  exchange({"000#0201"});
  EXPECT_TRUE(exchange({"601#4000100000000000"}).empty());
  EXPECT_FALSE(sim_->emcy(0x8110, 0x11));
  EXPECT_TRUE(advance(3000ms).empty());  // no PDOs
  EXPECT_EQ(exchange({"701#R"}), Frames{"701#04"});
  exchange({"000#8001"});
  EXPECT_EQ(sdo("601#4000100000000000"), "581#4300100000000000");
}

TEST_F(NmtTest, EmcyCarriesCodeAndRegisterAndSetsErrorRegister) {
  start();
  EXPECT_TRUE(sim_->emcy(0x8110, 0x11));
  EXPECT_EQ(take(), Frames{"081#1081110000000000"});
  EXPECT_EQ(sdo("601#4001100000000000"), "581#4F01100011000000");
  EXPECT_TRUE(sim_->emcy(0x0000, 0x00));  // error reset
  EXPECT_EQ(take(), Frames{"081#0000000000000000"});
}

TEST_F(NmtTest, LostLifeGuardingIsReportedOnceByEmcy) {
  start();
  sdo("601#2B0C100064000000");           // guard time 100 ms
  sdo("601#2F0D100003000000");           // life time factor 3
  EXPECT_TRUE(advance(1000ms).empty());  // not guarded yet: nothing to lose
  EXPECT_EQ(exchange({"701#R"}), Frames{"701#7F"});
  using Sent = std::vector<std::pair<long, std::string>>;
  EXPECT_EQ(run(1000ms), (Sent{{301, "081#3081110000000000"}}));
}

class NmtFaultTest : public NmtTest {};

TEST_F(NmtFaultTest, NoBootupSwitchSuppressesTheBootUpMessageOnly) {
  auto options = defaultOptions();
  options.faults.noBootup = true;
  EXPECT_TRUE(start(options).empty());
  EXPECT_EQ(sim_->nmtState(), NmtState::preOperational);
  EXPECT_TRUE(exchange({"000#8101"}).empty());
  EXPECT_EQ(exchange({"701#R"}), Frames{"701#7F"});
}

TEST_F(NmtFaultTest, SlowSdoServerAnswersLateAndInOrder) {
  auto options = defaultOptions();
  options.faults.sdoDelay = 50ms;
  start(options);
  EXPECT_TRUE(exchange({"601#4000100000000000"}).empty());
  EXPECT_TRUE(advance(30ms).empty());
  EXPECT_TRUE(exchange({"601#4005310000000000"}).empty());
  EXPECT_EQ(advance(20ms), Frames{"581#4300100000000000"});
  EXPECT_EQ(advance(30ms), Frames{"581#4F05310001000000"});
}

TEST_F(NmtFaultTest, SilentSdoServerNeverAnswersAndCanBeSwitchedAtRunTime) {
  auto options = defaultOptions();
  options.faults.silentSdo = true;
  start(options);
  EXPECT_TRUE(exchange({"601#4000100000000000"}).empty());
  EXPECT_TRUE(advance(10000ms).empty());
  sim_->faults().silentSdo = false;
  EXPECT_EQ(sdo("601#4000100000000000"), "581#4300100000000000");
}

}  // namespace
}  // namespace rq730sim_test
