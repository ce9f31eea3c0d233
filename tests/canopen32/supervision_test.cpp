// Heartbeat consumer and node guarding: state sequences on a fake clock.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "drivers/canopen.h"
#include "engine_harness.h"

namespace canopen32 {
namespace {

using testing::Harness;

TEST(Heartbeat, ReportsChangesOnlyAndAMissingBeatOnce) {
  Harness h;
  ASSERT_EQ(h.engine.heartbeat(h.now, 5, KCO_HEARTBEAT_ON, 100), KCO_HEARTBEAT_OK);
  EXPECT_TRUE(h.events.empty()) << "reported outside the loop";
  h.run({"+0", "! heartbeat 5 6200 6300",
         "+1000",  // no first beat yet: still waiting, nothing new
         "< 705#7F", "! heartbeat 5 6201 6303", "+50", "< 705#7F",  // same state: quiet
         "+50", "< 705#05", "! heartbeat 5 6201 6301",
         "+100",  // exactly the time: not yet missing
         "+1", "! heartbeat 5 6202 6300",
         "+500",                                               // stopped is reported once
         "< 705#04", "! heartbeat 5 6201 6302", "< 706#05"});  // another node is not supervised
  ASSERT_EQ(h.engine.heartbeat(h.now, 5, KCO_HEARTBEAT_OFF, 0), KCO_HEARTBEAT_OK);
  h.run({"< 705#05", "+1000"});
}

TEST(Heartbeat, BootUpIsAStateChangeAndUnknownStatesAreUnknown) {
  Harness h;
  ASSERT_EQ(h.engine.heartbeat(h.now, 5, KCO_HEARTBEAT_ON, 100), KCO_HEARTBEAT_OK);
  h.run({"< 705#05", "! heartbeat 5 6200 6300", "! heartbeat 5 6201 6301", "< 705#00", "! boot 5",
         "! heartbeat 5 6201 6300", "< 705#7F", "! heartbeat 5 6201 6303", "< 705#22",
         "! heartbeat 5 6201 6300"});
}

TEST(Heartbeat, RequestsAndRefusals) {
  Harness h;
  EXPECT_EQ(h.engine.heartbeat(h.now, 0, KCO_HEARTBEAT_ON, 100), kBadNode);
  EXPECT_EQ(h.engine.heartbeat(h.now, 128, KCO_HEARTBEAT_ON, 100), kBadNode);
  EXPECT_EQ(h.engine.heartbeat(h.now, 5, 0x6002, 100), kHeartbeatBadFunction);
  // Time 0 switches supervision off; node 0 with off means all nodes.
  EXPECT_EQ(h.engine.heartbeat(h.now, 5, KCO_HEARTBEAT_ON, 0), KCO_HEARTBEAT_OK);
  EXPECT_EQ(h.engine.heartbeat(h.now, 0, KCO_HEARTBEAT_OFF, 0), KCO_HEARTBEAT_OK);
  for (int node = 1; node <= 127; ++node) {
    EXPECT_EQ(h.engine.heartbeat(h.now, static_cast<uint8_t>(node), KCO_HEARTBEAT_OFF, 0),
              KCO_HEARTBEAT_OK);
  }
  h.run({"< 705#05", "+1000"});
}

TEST(NodeGuarding, StateSequence) {
  Harness h;
  ASSERT_EQ(h.engine.nodeGuard(h.now, 5, KCO_NODEGUARD_ON, 100, 3), KCO_NODEGUARD_OK);
  EXPECT_TRUE(h.sent.empty() && h.events.empty()) << "acted outside the loop";
  h.run({"+0",
         "! guard 5 5201 5300",
         "> 705#R",
         "< 705#7F",
         "! guard 5 5205 5303",  // first reply, toggle 0: pre-operational
         "+100",
         "> 705#R",
         "< 705#FF",  // toggle 1, same state: quiet
         "+100",
         "> 705#R",
         "< 705#05",
         "! guard 5 5205 5301",  // toggle 0, operational
         "+100",
         "> 705#R",  // t=300: no reply
         "+100",
         "! guard 5 5202 5300",
         "> 705#R",  // t=400: missed
         "+100",
         "> 705#R",  // t=500: missed again, reported once
         "+100",
         "! guard 5 5203 5300",
         "> 705#R",  // t=600: 400 ms > 300 ms life time
         "< 705#85",
         "! guard 5 5205 5301",  // the reply comes back (toggle 1)
         "+100",
         "> 705#R",
         "< 705#85",
         "! guard 5 5204 5301",  // toggle 1 again: error
         "+100",
         "> 705#R",
         "< 705#05"});  // the toggle follows the node: good, quiet
}

TEST(NodeGuarding, BootUpRestartsTheToggleAndUnrequestedRepliesAreIgnored) {
  Harness h;
  ASSERT_EQ(h.engine.nodeGuard(h.now, 5, KCO_NODEGUARD_ON, 100, 3), KCO_NODEGUARD_OK);
  h.run({"< 705#85",  // no request out yet
         "+0", "! guard 5 5201 5300", "> 705#R", "< 705#7F", "! guard 5 5205 5303", "< 705#00",
         "! boot 5", "+100", "> 705#R", "< 705#7F"});  // toggle 0 again after the boot-up: good
}

// The node's toggle runs on from boot-up to boot-up (or an NMT reset the master sends); the
// master's guarding being switched off and on again does not restart it.
struct ToggleCase {
  const char* name;
  std::function<void(Harness&)> between;  // after one good reply with toggle 0
  std::vector<std::string> after;
};

void PrintTo(const ToggleCase& c, std::ostream* out) { *out << c.name; }

class GuardingToggle : public ::testing::TestWithParam<ToggleCase> {};

TEST_P(GuardingToggle, FollowsTheNodeAcrossSwitching) {
  const ToggleCase& c = GetParam();
  Harness h;
  ASSERT_EQ(h.engine.nodeGuard(h.now, 5, KCO_NODEGUARD_ON, 100, 3), KCO_NODEGUARD_OK);
  h.run({"+0", "! guard 5 5201 5300", "> 705#R", "< 705#7F", "! guard 5 5205 5303"});
  c.between(h);
  h.run(c.after);
}

void guardOn(Harness& h, uint16_t guardTime, uint8_t factor) {
  ASSERT_EQ(h.engine.nodeGuard(h.now, 5, KCO_NODEGUARD_ON, guardTime, factor), KCO_NODEGUARD_OK);
}
void guardOff(Harness& h, uint8_t node) {
  ASSERT_EQ(h.engine.nodeGuard(h.now, node, KCO_NODEGUARD_OFF, 0, 0), KCO_NODEGUARD_OK);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GuardingToggle,
    ::testing::Values(
        // Factor 1 after switching on again: a reply taken for a toggle error would also run
        // out the life time.
        ToggleCase{"OffAndOnAgain",
                   [](Harness& h) {
                     guardOff(h, 5);
                     guardOn(h, 100, 1);
                   },
                   {"+0", "! guard 5 5201 5300", "> 705#R", "< 705#FF", "! guard 5 5205 5303",
                    "+100", "> 705#R", "< 705#7F", "+100", "> 705#R", "< 705#FF"}},
        ToggleCase{"AllNodesOffAndOnAgain",
                   [](Harness& h) {
                     guardOff(h, 0);
                     guardOn(h, 100, 1);
                   },
                   {"+0", "! guard 5 5201 5300", "> 705#R", "< 705#FF", "! guard 5 5205 5303",
                    "+100", "> 705#R", "< 705#7F"}},
        ToggleCase{"OnAgainWithANewGuardTime",
                   [](Harness& h) { guardOn(h, 200, 2); },
                   {"+0", "! guard 5 5201 5300", "> 705#R", "< 705#FF", "! guard 5 5205 5303",
                    "+200", "> 705#R", "< 705#7F"}},
        ToggleCase{"AReplyInFlightWhileOffStillToggles",
                   [](Harness& h) {
                     h.run({"+100", "> 705#R"});
                     guardOff(h, 5);
                     h.run({"< 705#FF"});  // the node answered the request sent before off
                     guardOn(h, 100, 3);
                   },
                   {"+0", "! guard 5 5201 5300", "> 705#R", "< 705#7F", "! guard 5 5205 5303"}},
        ToggleCase{
            "TheMastersResetCommunicationRestartsIt",
            [](Harness& h) { EXPECT_EQ(h.engine.nmt(5, KCO_NMT_RESET_COMMUNICATION), KCO_NMT_OK); },
            {"> 000#8205", "+100", "> 705#R", "< 705#7F"}},
        ToggleCase{"TheMastersResetOfAllNodesRestartsIt",
                   [](Harness& h) { EXPECT_EQ(h.engine.nmt(0, KCO_NMT_RESET_NODE), KCO_NMT_OK); },
                   {"> 000#8100", "+100", "> 705#R", "< 705#7F"}},
        ToggleCase{"AResetOfAnotherNodeDoesNot",
                   [](Harness& h) { EXPECT_EQ(h.engine.nmt(6, KCO_NMT_RESET_NODE), KCO_NMT_OK); },
                   {"> 000#8106", "+100", "> 705#R", "< 705#FF"}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(NodeGuarding, RequestsAndRefusals) {
  Harness h;
  EXPECT_EQ(h.engine.nodeGuard(h.now, 0, KCO_NODEGUARD_ON, 100, 3), kBadNode);
  EXPECT_EQ(h.engine.nodeGuard(h.now, 200, KCO_NODEGUARD_ON, 100, 3), kBadNode);
  EXPECT_EQ(h.engine.nodeGuard(h.now, 5, 0x5002, 100, 3), kNodeguardBadFunction);
  EXPECT_EQ(h.engine.nodeGuard(h.now, 5, KCO_NODEGUARD_ON, 0, 3), KCO_NODEGUARD_OK);
  EXPECT_EQ(h.engine.nodeGuard(h.now, 6, KCO_NODEGUARD_ON, 100, 0), KCO_NODEGUARD_OK);
  EXPECT_EQ(h.engine.nodeGuard(h.now, 0, KCO_NODEGUARD_OFF, 0, 0), KCO_NODEGUARD_OK);
  h.run({"+1000"});  // guard time or factor 0: not guarded
  ASSERT_EQ(h.engine.nodeGuard(h.now, 7, KCO_NODEGUARD_ON, 100, 3), KCO_NODEGUARD_OK);
  ASSERT_EQ(h.engine.nodeGuard(h.now, 7, KCO_NODEGUARD_OFF, 0, 0), KCO_NODEGUARD_OK);
  h.run({"+1000"});
}

}  // namespace
}  // namespace canopen32
