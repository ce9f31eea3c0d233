// Receive and transmit PDOs against their entry tables.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <variant>

#include "drivers/canopen.h"
#include "engine_harness.h"

namespace canopen32 {
namespace {

using testing::Harness;

TEST(ReceivePdo, CopiesInTableOrderBeforeTheCallback) {
  Harness h;
  uint16_t weight = 0;
  uint8_t status = 0;
  uint8_t untouched[2] = {0xAA, 0xAA};
  const kcoPdoEntry table[] = {{2, &weight}, {1, &status}, {0, nullptr}};
  ASSERT_EQ(h.engine.pdo(h.now, 5, 2, KCO_PDO_INSTALL, KCO_PDO_RECEIVE, table, 0), KCO_PDO_OK);
  uint16_t weightSeen = 0;
  h.onEvent = [&](const Event&) { weightSeen = weight; };
  // Longer frames are fine: the mapped bytes come first.
  h.run({"< 285#3412070000", "! pdorx 5 2"});
  EXPECT_EQ(weight, 0x1234);
  EXPECT_EQ(weightSeen, 0x1234);
  EXPECT_EQ(status, 0x07);
  EXPECT_EQ(untouched[0], 0xAA);
  // Too short: nothing copied, nothing reported, counted.
  h.run({"< 285#5678"});
  EXPECT_EQ(weight, 0x1234);
  EXPECT_EQ(h.engine.pdos().lengthMismatches(), 1u);
  // Other nodes' and other numbers' PDOs, and remote frames, are not this PDO.
  h.run({"< 286#3412070000", "< 185#3412070000", "< 285#R"});
  // Removed: no longer copied.
  ASSERT_EQ(h.engine.pdo(h.now, 5, 2, KCO_PDO_REMOVE, KCO_PDO_RECEIVE, nullptr, 0), KCO_PDO_OK);
  h.run({"< 285#FFFFFF"});
  EXPECT_EQ(weight, 0x1234);
}

TEST(ReceivePdo, EightEntriesWithoutEndEntryAndAnEmptyMapping) {
  Harness h;
  // Exactly eight entries on the heap: reading a ninth would be caught by the sanitizer.
  auto table = std::make_unique<kcoPdoEntry[]>(8);
  uint8_t bytes[8] = {};
  for (int i = 0; i < 8; ++i) table[i] = {1, &bytes[i]};
  ASSERT_EQ(h.engine.pdo(h.now, 9, 4, KCO_PDO_INSTALL, KCO_PDO_RECEIVE, table.get(), 0),
            KCO_PDO_OK);
  const kcoPdoEntry empty[] = {{0, nullptr}};
  ASSERT_EQ(h.engine.pdo(h.now, 9, 1, KCO_PDO_INSTALL, KCO_PDO_RECEIVE, empty, 0), KCO_PDO_OK);
  h.run({"< 489#0102030405060708", "! pdorx 9 4", "< 189#", "! pdorx 9 1"});
  EXPECT_EQ(bytes[0], 1);
  EXPECT_EQ(bytes[7], 8);
}

TEST(Pdo, RefusedInstallsAndAlwaysAcceptedRemoves) {
  Harness h;
  uint32_t a = 0, b = 0, c = 0;
  const kcoPdoEntry ok[] = {{4, &a}, {0, nullptr}};
  const kcoPdoEntry tooLong[] = {{4, &a}, {4, &b}, {1, &c}, {0, nullptr}};
  const kcoPdoEntry nullData[] = {{4, &a}, {2, nullptr}, {0, nullptr}};
  struct Case {
    uint8_t node, num;
    uint16_t function, direction;
    const kcoPdoEntry* table;
    Code expected;
  };
  for (const Case& t : {
           Case{5, 0, KCO_PDO_INSTALL, KCO_PDO_RECEIVE, ok, kPdoBadNumber},
           Case{5, 5, KCO_PDO_INSTALL, KCO_PDO_TRANSMIT, ok, kPdoBadNumber},
           Case{0, 1, KCO_PDO_INSTALL, KCO_PDO_RECEIVE, ok, kBadNode},
           Case{128, 1, KCO_PDO_INSTALL, KCO_PDO_RECEIVE, ok, kBadNode},
           Case{5, 1, KCO_PDO_INSTALL, KCO_PDO_RECEIVE, tooLong, kPdoTooLong},
           Case{5, 1, KCO_PDO_INSTALL, KCO_PDO_RECEIVE, nullData, kPdoNullData},
           Case{5, 1, KCO_PDO_INSTALL, KCO_PDO_RECEIVE, nullptr, kPdoNoTable},
           Case{5, 1, 0x4002, KCO_PDO_RECEIVE, ok, kPdoBadFunction},
           Case{5, 1, KCO_PDO_INSTALL, 0x4102, ok, kPdoBadDirection},
           Case{5, 1, KCO_PDO_REMOVE, KCO_PDO_RECEIVE, nullptr, KCO_PDO_OK},
           Case{0, 0, KCO_PDO_REMOVE, KCO_PDO_TRANSMIT, nullptr, KCO_PDO_OK},
           Case{200, 9, KCO_PDO_REMOVE, KCO_PDO_TRANSMIT, nullptr, KCO_PDO_OK},
       }) {
    EXPECT_EQ(h.engine.pdo(h.now, t.node, t.num, t.function, t.direction, t.table, 0), t.expected)
        << int(t.node) << "/" << int(t.num);
  }
  // Nothing refused got installed.
  h.run({"< 185#0102030405060708", "< 185#01020304050607", "+10000"});
}

TEST(TransmitPdo, SentEveryEventTimeFromTheVariables) {
  Harness h;
  uint8_t command = 1;
  uint16_t value = 0x0203;
  const kcoPdoEntry table[] = {{1, &command}, {2, &value}, {0, nullptr}};
  // Event time 100 ms, inhibit time 50 ms (500 x 100 us).
  ASSERT_EQ(h.engine.pdo(h.now, 5, 1, KCO_PDO_INSTALL, KCO_PDO_TRANSMIT, table, 100u << 16 | 500),
            KCO_PDO_OK);
  h.run({"+99", "+1", "> 205#010302", "! pdotx 5 1"});
  command = 9;
  h.run({"+100", "> 205#090302", "! pdotx 5 1"});
  // A failed send is not reported as sent.
  h.sendResult = kSendFailed;
  h.run({"+100"});
  h.sendResult = kSent;
  ASSERT_EQ(h.engine.pdo(h.now, 5, 1, KCO_PDO_REMOVE, KCO_PDO_TRANSMIT, nullptr, 0), KCO_PDO_OK);
  h.run({"+1000"});
}

TEST(TransmitPdo, NoEventTimeMeansNeverOnItsOwnAndInhibitTimeBoundsTheRate) {
  Harness h;
  uint8_t x = 7;
  const kcoPdoEntry table[] = {{1, &x}, {0, nullptr}};
  ASSERT_EQ(h.engine.pdo(h.now, 5, 2, KCO_PDO_INSTALL, KCO_PDO_TRANSMIT, table, 1000), KCO_PDO_OK);
  h.run({"+60000"});
  // Event time 10 ms but inhibit time 30 ms: every 30 ms.
  ASSERT_EQ(h.engine.pdo(h.now, 5, 3, KCO_PDO_INSTALL, KCO_PDO_TRANSMIT, table, 10u << 16 | 300),
            KCO_PDO_OK);
  h.run({"+10", "+10", "+10", "> 405#07", "! pdotx 5 3"});
}

// A callback that removes a PDO while other reports of the same loop are still to come: the
// removed PDO's report does not come after its removal.
TEST(PdoRemoval, InsideACallbackDropsTheReceivedReportStillToCome) {
  Harness h;
  uint32_t value = 0;
  const kcoPdoEntry table[] = {{4, &value}, {0, nullptr}};
  // The heartbeat's first report waits for the loop; the PDO's joins it there.
  ASSERT_EQ(h.engine.heartbeat(h.now, 5, KCO_HEARTBEAT_ON, 1000), KCO_HEARTBEAT_OK);
  ASSERT_EQ(h.engine.pdo(h.now, 5, 1, KCO_PDO_INSTALL, KCO_PDO_RECEIVE, table, 0), KCO_PDO_OK);
  h.onEvent = [&](const Event& event) {
    if (std::holds_alternative<HeartbeatReport>(event)) {
      EXPECT_EQ(h.engine.pdo(h.now, 5, 1, KCO_PDO_REMOVE, KCO_PDO_RECEIVE, nullptr, 0), KCO_PDO_OK);
    }
  };
  h.run({"< 185#01020304", "! heartbeat 5 6200 6300"});
  EXPECT_EQ(value, 0x04030201u);  // copied before the removal
}

TEST(PdoRemoval, InsideACallbackDropsTheTransmittedReportStillToCome) {
  Harness h;
  uint16_t first = 0x0201, second = 0x0403;
  const kcoPdoEntry firstTable[] = {{2, &first}, {0, nullptr}};
  const kcoPdoEntry secondTable[] = {{2, &second}, {0, nullptr}};
  ASSERT_EQ(h.engine.pdo(h.now, 5, 1, KCO_PDO_INSTALL, KCO_PDO_TRANSMIT, firstTable, 10u << 16),
            KCO_PDO_OK);
  ASSERT_EQ(h.engine.pdo(h.now, 5, 2, KCO_PDO_INSTALL, KCO_PDO_TRANSMIT, secondTable, 10u << 16),
            KCO_PDO_OK);
  h.onEvent = [&](const Event& event) {
    const auto* sent = std::get_if<PdoTransmitted>(&event);
    if (sent != nullptr && sent->num == 1) {
      EXPECT_EQ(h.engine.pdo(h.now, 5, 2, KCO_PDO_REMOVE, KCO_PDO_TRANSMIT, nullptr, 0),
                KCO_PDO_OK);
    }
  };
  h.run({"+10", "> 205#0102", "> 305#0304", "! pdotx 5 1", "+10", "> 205#0102", "! pdotx 5 1"});
}

}  // namespace
}  // namespace canopen32
