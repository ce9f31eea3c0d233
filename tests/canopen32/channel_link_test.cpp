// Losing and reopening the channel: pending transfers end, sends fail with a code, the channel is
// reopened by itself and everything installed keeps working.
#include "channel_link.h"

#include <gtest/gtest.h>

#include <deque>
#include <memory>

#include "drivers/canopen.h"
#include "engine.h"
#include "engine_harness.h"
#include "error_text.h"
#include "support/fake_channel.h"
#include "support/fake_clock.h"

namespace canopen32 {
namespace {

struct Recorder : EventSink {
  std::deque<std::string> events;
  void deliver(const Event& event) override { events.push_back(testing::describe(event)); }
};

class Reopen : public ::testing::Test {
 protected:
  Reopen()
      : link(
            "loopback://x", {}, std::make_unique<test_kit::FakeChannel>(wire_),
            [this](std::string_view url, const canbus::OpenOptions&) -> canbus::OpenResult {
              EXPECT_EQ(url, "loopback://x");
              ++opens;
              if (refuseOpen) {
                return canbus::Error{canbus::ErrorKind::noSuchInterface,
                                     "hub " + std::to_string(opens) + " not there."};
              }
              wire.down = false;
              return std::unique_ptr<canbus::Channel>(
                  std::make_unique<test_kit::FakeChannel>(wire_));
            },
            nullptr),
        engine(link, recorder, false) {}

  // One kcoLoop at time t (ms).
  void loop(int ms) {
    clock.setElapsed(std::chrono::milliseconds(ms));
    const Now now{clock.steadyMicros(), clock.wallMicros()};
    if (const Code ended = link.service(now.steady); ended != kSent) engine.channelLost(ended);
    while (auto frame = link.receive()) engine.onFrame(now, *frame);
    engine.tick(now);
  }
  void nodeSends(const char* candump) { wire.arrive(candump); }

  // Time counts from 0, as the engine's calls at `Now{}` in the tests do.
  test_kit::FakeClock clock{test_kit::FakeClock::Start{}};
  std::shared_ptr<test_kit::FakeWire> wire_ = std::make_shared<test_kit::FakeWire>();
  test_kit::FakeWire& wire = *wire_;
  int opens = 0;
  bool refuseOpen = true;
  Recorder recorder;
  ChannelLink link;
  Engine engine;
};

TEST_F(Reopen, LostChannelEndsTransfersAndComesBack) {
  uint16_t weight = 0;
  const kcoPdoEntry table[] = {{2, &weight}, {0, nullptr}};
  const Now start{};
  ASSERT_EQ(engine.pdo(start, 1, 1, KCO_PDO_INSTALL, KCO_PDO_RECEIVE, table, 0), KCO_PDO_OK);
  ASSERT_EQ(engine.heartbeat(start, 1, KCO_HEARTBEAT_ON, 1000), KCO_HEARTBEAT_OK);
  uint32_t serial = 0;
  ASSERT_EQ(engine.sdo(start, 1, 0x1018, 4, KCO_SDO_UPLOAD, KCO_TYPE_U32, &serial),
            KCO_SDO_ACCEPTED);
  loop(0);
  recorder.events.clear();

  wire.down = true;  // the hub stops
  loop(10);
  ASSERT_EQ(recorder.events.size(), 1u);
  EXPECT_EQ(recorder.events.front(), "upload 1 3302");
  recorder.events.clear();
  EXPECT_EQ(engine.nmt(0, KCO_NMT_START), kChannelUnavailable);
  EXPECT_EQ(engine.sdo(start, 1, 0x1018, 4, KCO_SDO_UPLOAD, KCO_TYPE_U32, &serial),
            kChannelUnavailable);

  loop(400);
  EXPECT_EQ(opens, 0) << "reopened too early";
  loop(510);
  EXPECT_EQ(opens, 1);
  loop(600);
  EXPECT_EQ(opens, 1) << "retried too often";
  refuseOpen = false;  // the hub is back
  loop(1010);
  EXPECT_EQ(opens, 2);
  EXPECT_TRUE(link.available());

  // The PDO installed before still lands in the variable; new requests go out.
  nodeSends("181#3412");
  loop(1020);
  EXPECT_EQ(weight, 0x1234);
  ASSERT_FALSE(recorder.events.empty());
  EXPECT_EQ(recorder.events.back(), "pdorx 1 1");
  EXPECT_EQ(engine.nmt(0, KCO_NMT_START), KCO_NMT_OK);
  EXPECT_EQ(wire.sent.back(), "000#0100");
}

TEST_F(Reopen, AFailedReopenKeepsItsReasonForTheLossCode) {
  wire.down = true;
  loop(0);
  EXPECT_NE(std::string(textFor(kChannelUnavailable)).find("fake0"), std::string::npos)
      << textFor(kChannelUnavailable);
  loop(500);
  loop(1000);
  EXPECT_EQ(opens, 2);
  EXPECT_EQ(link.unavailableReason(), "hub 2 not there.");
  EXPECT_EQ(engine.nmt(0, KCO_NMT_START), kChannelUnavailable);
  EXPECT_EQ(std::string(textFor(kChannelUnavailable)),
            "CAN channel not available: hub 2 not there. The library tries again every 500 ms.");
  refuseOpen = false;
  loop(1500);
  EXPECT_TRUE(link.available());
  EXPECT_EQ(link.unavailableReason(), "");
}

TEST_F(Reopen, BusOffEndsRunningTransfersWithItsCodeAndFailsSends) {
  uint32_t serial = 0;
  const Now start{};
  ASSERT_EQ(engine.sdo(start, 1, 0x1018, 4, KCO_SDO_UPLOAD, KCO_TYPE_U32, &serial),
            KCO_SDO_ACCEPTED);
  loop(0);
  wire.busOff = true;
  ++wire.busOffs;
  loop(10);
  ASSERT_EQ(recorder.events.size(), 1u);
  EXPECT_EQ(recorder.events.front(), "upload 1 1013");
  EXPECT_NE(std::string(textFor(kBusOff)).find("fix: restart it"), std::string::npos)
      << textFor(kBusOff);
  recorder.events.clear();
  EXPECT_EQ(engine.nmt(0, KCO_NMT_START), kBusOff);
  EXPECT_EQ(engine.sdo(start, 1, 0x1018, 4, KCO_SDO_UPLOAD, KCO_TYPE_U32, &serial), kBusOff);
  EXPECT_TRUE(link.available()) << "bus-off is no lost channel";

  // Restarted (by the library or by hand) before anyone looked: transfers still end.
  wire.busOff = false;
  loop(20);
  ASSERT_EQ(engine.sdo(start, 1, 0x1018, 4, KCO_SDO_UPLOAD, KCO_TYPE_U32, &serial),
            KCO_SDO_ACCEPTED);
  ++wire.busOffs;
  loop(30);
  ASSERT_EQ(recorder.events.size(), 1u);
  EXPECT_EQ(recorder.events.front(), "upload 1 1013");
  EXPECT_NE(std::string(textFor(kBusOff)).find("was restarted"), std::string::npos)
      << textFor(kBusOff);
  EXPECT_EQ(engine.nmt(0, KCO_NMT_START), KCO_NMT_OK);
}

TEST_F(Reopen, FailedSendMarksTheChannelLost) {
  wire.down = true;
  // The state is not looked at before the send; the send itself finds the channel gone.
  EXPECT_EQ(engine.nmt(0, KCO_NMT_START), kChannelUnavailable);
  EXPECT_FALSE(link.available());
  refuseOpen = false;
  loop(0);
  loop(500);
  EXPECT_TRUE(link.available());
}

TEST(InitFailureText, SaysWhatFailedAndHowToFixIt) {
  const auto mismatch = initFailureFor(
      8, "socketcan://can0",
      {canbus::ErrorKind::bitrateMismatch, "can0 runs at 250000 bit/s, not 500000 bit/s"}, 500000);
  EXPECT_EQ(mismatch.code, kInitBitrateMismatch);
  EXPECT_NE(mismatch.text.find("can0 runs at 250000"), std::string::npos) << mismatch.text;
  EXPECT_NE(mismatch.text.find("ip link set can0 type can bitrate 500000"), std::string::npos)
      << mismatch.text;
  const auto hub = initFailureFor(9, "socketcand://127.0.0.1:1/x",
                                  {canbus::ErrorKind::noSuchInterface, "connection refused"}, 0);
  EXPECT_EQ(hub.code, kInitNoInterface);
  EXPECT_NE(hub.text.find("hub"), std::string::npos) << hub.text;
  EXPECT_NE(hub.text.find("hardware code 9"), std::string::npos) << hub.text;
  EXPECT_EQ(initFailureFor(1, "u", {canbus::ErrorKind::notSupported, "x"}, 0).code,
            kInitNoKernelCan);
  EXPECT_EQ(initFailureFor(1, "u", {canbus::ErrorKind::permissionDenied, "x"}, 0).code,
            kInitPermission);
  EXPECT_EQ(initFailureFor(1, "u", {canbus::ErrorKind::badUrl, "x"}, 0).code, kInitBadUrl);
}

}  // namespace
}  // namespace canopen32
