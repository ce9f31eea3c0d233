// Losing and reopening the channel: pending transfers end, sends fail with a code, the channel is
// reopened by itself and everything installed keeps working.
#include "channel_link.h"

#include <gtest/gtest.h>

#include <deque>
#include <memory>

#include "drivers/canopen.h"
#include "engine.h"
#include "engine_harness.h"

namespace canopen32 {
namespace {

struct Wire {
  std::deque<canbus::Frame> toMaster;
  std::deque<std::string> fromMaster;
  bool down = false;
};

class FakeChannel final : public canbus::Channel {
 public:
  explicit FakeChannel(Wire& wire) : wire_(wire) {}
  std::optional<canbus::Frame> receive() override {
    if (wire_.down || wire_.toMaster.empty()) return std::nullopt;
    auto frame = wire_.toMaster.front();
    wire_.toMaster.pop_front();
    return frame;
  }
  std::optional<canbus::Error> send(const canbus::Frame& frame) override {
    if (wire_.down) return canbus::Error{canbus::ErrorKind::connectionLost, "hub closed"};
    wire_.fromMaster.push_back(canbus::toCandump(frame));
    return std::nullopt;
  }
  canbus::ChannelState state() const override {
    return wire_.down ? canbus::ChannelState::down : canbus::ChannelState::active;
  }
  std::string name() const override { return "fake0"; }

 private:
  Wire& wire_;
};

struct Recorder : EventSink {
  std::deque<std::string> events;
  void deliver(const Event& event) override { events.push_back(testing::describe(event)); }
};

class Reopen : public ::testing::Test {
 protected:
  Reopen()
      : link(
            "loopback://x", {}, std::make_unique<FakeChannel>(wire),
            [this](std::string_view url, const canbus::OpenOptions&) -> canbus::OpenResult {
              EXPECT_EQ(url, "loopback://x");
              ++opens;
              if (refuseOpen) return canbus::Error{canbus::ErrorKind::noSuchInterface, "no hub"};
              wire.down = false;
              return std::unique_ptr<canbus::Channel>(std::make_unique<FakeChannel>(wire));
            },
            nullptr),
        engine(link, recorder, false) {}

  // One kcoLoop at time t (ms).
  void loop(int ms) {
    const Now now{std::chrono::milliseconds(ms), std::chrono::milliseconds(ms)};
    if (link.service(now.steady)) engine.channelLost();
    while (auto frame = link.receive()) engine.onFrame(now, *frame);
    engine.tick(now);
  }
  void nodeSends(const char* candump) { wire.toMaster.push_back(*canbus::parseCandump(candump)); }

  Wire wire;
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
  EXPECT_EQ(wire.fromMaster.back(), "000#0100");
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
