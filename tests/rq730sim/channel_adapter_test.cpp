// The module's core on a channel: frames from the channel go in, the core's frames go out to it,
// and sends the channel refuses are counted without harm to the node.
#include "rq730sim/channel_adapter.h"

#include <gtest/gtest.h>

#include <deque>
#include <memory>

#include "sim_fixture.h"

namespace rq730sim_test {
namespace {

struct Wire {
  std::deque<canbus::Frame> toNode;
  std::vector<std::string> fromNode;
  bool refuseSends = false;
};

class FakeChannel : public canbus::Channel {
 public:
  explicit FakeChannel(std::shared_ptr<Wire> wire) : wire_(std::move(wire)) {}
  std::optional<canbus::Frame> receive() override {
    if (wire_->toNode.empty()) return std::nullopt;
    canbus::Frame frame = wire_->toNode.front();
    wire_->toNode.pop_front();
    return frame;
  }
  std::optional<canbus::Error> send(const canbus::Frame& frame) override {
    if (wire_->refuseSends) return canbus::Error{canbus::ErrorKind::sendFailed, "queue full"};
    wire_->fromNode.push_back(format(frame));
    return std::nullopt;
  }
  canbus::ChannelState state() const override { return canbus::ChannelState::active; }
  std::string name() const override { return "fake"; }

 private:
  std::shared_ptr<Wire> wire_;
};

class ChannelAdapterTest : public ::testing::Test {
 protected:
  std::vector<std::string> poll(std::initializer_list<std::string_view> frames) {
    for (auto text : frames) wire_->toNode.push_back(parse(text));
    module_.poll(now_);
    return std::exchange(wire_->fromNode, {});
  }

  std::shared_ptr<Wire> wire_ = std::make_shared<Wire>();
  rq730sim::ChannelAdapter module_{std::make_unique<FakeChannel>(wire_), rq730sim::Options{}};
  rq730sim::Clock::time_point now_{std::chrono::seconds(1000)};
};

TEST_F(ChannelAdapterTest, EveryWaitingFrameIsHandledThenWhatIsDue) {
  using Frames = std::vector<std::string>;
  EXPECT_EQ(poll({}), Frames{"701#00"});
  // Heartbeat on, a guarding request and a state change in one poll: answered in order, and
  // the heartbeat period starts with the state change.
  EXPECT_EQ(poll({"601#2B17100064000000", "701#R", "000#0201"}),
            (Frames{"581#6017100000000000", "701#7F", "701#04"}));
  now_ += std::chrono::milliseconds(100);
  EXPECT_EQ(poll({}), Frames{"701#04"});
}

TEST_F(ChannelAdapterTest, RefusedSendsAreCountedNotFatal) {
  poll({});
  wire_->refuseSends = true;
  poll({"701#R"});
  EXPECT_EQ(module_.sendErrors(), 1u);
  ASSERT_TRUE(module_.lastSendError());
  EXPECT_EQ(module_.lastSendError()->kind, canbus::ErrorKind::sendFailed);
  wire_->refuseSends = false;
  EXPECT_EQ(poll({"701#R"}), std::vector<std::string>{"701#FF"});
}

TEST_F(ChannelAdapterTest, AReplacedChannelServesTheSameNode) {
  poll({"000#0201"});
  auto fresh = std::make_shared<Wire>();
  module_.setChannel(std::make_unique<FakeChannel>(fresh));
  wire_ = fresh;
  EXPECT_EQ(poll({"701#R"}), std::vector<std::string>{"701#04"});  // still stopped
}

}  // namespace
}  // namespace rq730sim_test
