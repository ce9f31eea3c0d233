// NMT, SYNC and TIME producers, EMCY and boot-up consumers, identifier format.
#include <gtest/gtest.h>

#include "drivers/canopen.h"
#include "engine_harness.h"
#include "time_producer.h"

namespace canopen32 {
namespace {

using testing::Harness;

TEST(Nmt, CommandFramesAndRefusals) {
  struct Case {
    uint8_t node;
    uint16_t command;
    Code expected;
    const char* frame;  // nullptr: nothing sent
  };
  for (const Case& c : {Case{0, KCO_NMT_START, KCO_NMT_OK, "000#0100"},
                        Case{5, KCO_NMT_STOP, KCO_NMT_OK, "000#0205"},
                        Case{5, KCO_NMT_PREOPERATIONAL, KCO_NMT_OK, "000#8005"},
                        Case{127, KCO_NMT_RESET_NODE, KCO_NMT_OK, "000#817F"},
                        Case{0, KCO_NMT_RESET_COMMUNICATION, KCO_NMT_OK, "000#8200"},
                        Case{128, KCO_NMT_START, kBadNodeOrAll, nullptr},
                        Case{5, 0x2005, kNmtBadCommand, nullptr}}) {
    SCOPED_TRACE(c.node);
    Harness h;
    EXPECT_EQ(h.engine.nmt(c.node, c.command), c.expected);
    if (c.frame) {
      h.run({std::string("> ") + c.frame});
    } else {
      h.run({});
    }
  }
  Harness h;
  h.sendResult = kChannelUnavailable;
  EXPECT_EQ(h.engine.nmt(0, KCO_NMT_START), kChannelUnavailable);
}

TEST(Sync, PeriodicEmptyFrameOnCobId080) {
  Harness h;
  ASSERT_EQ(h.engine.sync(h.now, KCO_SYNC_ON, 10), KCO_SYNC_OK);
  h.run({"+0", "> 080#", "+9", "+1", "> 080#", "+25", "> 080#"});
  // After a stall it goes on from now instead of sending a burst.
  h.run({"+5", "+5", "> 080#", "+10", "> 080#"});
  ASSERT_EQ(h.engine.sync(h.now, KCO_SYNC_OFF, 0), KCO_SYNC_OK);
  h.run({"+100"});
  EXPECT_EQ(h.engine.sync(h.now, KCO_SYNC_ON, 0), KCO_SYNC_OK);  // period 0: off
  h.run({"+100"});
  EXPECT_EQ(h.engine.sync(h.now, 0x7002, 10), kSyncBadFunction);
}

TEST(Time, TimeOfDayFromTheWallClock) {
  using std::chrono::milliseconds;
  using std::chrono::seconds;
  // 2024-01-01 00:00:01.500 UTC: day 14610 (0x3912) since 1984-01-01, 1500 ms (0x5DC).
  Harness h;
  h.now.wall = seconds(1704067200) + milliseconds(1500);
  ASSERT_EQ(h.engine.timestamp(h.now, KCO_TIMESTAMP_ON, 5000), KCO_TIMESTAMP_OK);
  h.run({"+0", "> 100#DC0500001239", "+4999", "+1", "> 100#641900001239"});
}

TEST(Time, Encoding) {
  using std::chrono::hours;
  using std::chrono::milliseconds;
  using std::chrono::seconds;
  struct Case {
    Duration wall;
    std::array<uint8_t, 6> bytes;
  };
  for (const Case& c : {
           Case{seconds(441763200), {0, 0, 0, 0, 0, 0}},
           // day 1, 12:00: 43200000 ms = 0x02932E00
           Case{seconds(441763200 + 86400) + hours(12), {0x00, 0x2E, 0x93, 0x02, 0x01, 0x00}},
           // the last ms of a day
           Case{seconds(441763200 + 86400) - milliseconds(1), {0xFF, 0x5B, 0x26, 0x05, 0, 0}},
           // before 1984: clamped to the start of the epoch, never garbage
           Case{seconds(0), {0, 0, 0, 0, 0, 0}},
       }) {
    EXPECT_EQ(timeOfDay(c.wall), c.bytes) << c.wall.count();
  }
}

TEST(Emcy, ReportsTheErrorRegisterOfEightByteFrames) {
  Harness h;
  h.run({"< 085#1081110000000000", "! emcy 5 11", "< 0FF#0000000000000000", "! emcy 127 00",
         "< 085#108111", "< 085#R", "< 080#"});
}

TEST(BootUp, OneByteZeroOnHeartbeatCobId) {
  Harness h;
  h.run({"< 705#00", "! boot 5", "< 77F#00", "! boot 127", "< 705#0000", "< 705#7F", "< 705#R",
         "< 700#00", "< 780#00"});
}

TEST(IdentifierFormat, ExtendedOnlyTalksInExtendedFrames) {
  Harness h(true);
  ASSERT_EQ(h.engine.nmt(0, KCO_NMT_RESET_NODE), KCO_NMT_OK);
  h.run({"> 00000000#8100", "< 705#00", "< 00000705#00", "! boot 5"});
}

}  // namespace
}  // namespace canopen32
