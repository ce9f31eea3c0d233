// Heartbeat consumer and node guarding: state sequences on a fake clock.
#include <gtest/gtest.h>

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
