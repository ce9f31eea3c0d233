// The module's core on a channel: frames from the channel go in, the core's frames go out to it,
// and sends the channel refuses are counted without harm to the node.
#include "rq730sim/channel_adapter.h"

#include <gtest/gtest.h>

#include <deque>
#include <memory>

#include "sim_fixture.h"
#include "support/fake_channel.h"
#include "support/fake_clock.h"

namespace rq730sim_test {
namespace {

class ChannelAdapterTest : public ::testing::Test {
 protected:
  std::vector<std::string> poll(std::initializer_list<std::string_view> frames) {
    for (auto text : frames) wire_->arrive(text);
    module_.poll(clock_.now());
    return wire_->takeSent();
  }

  std::shared_ptr<test_kit::FakeWire> wire_ = std::make_shared<test_kit::FakeWire>();
  rq730sim::ChannelAdapter module_{std::make_unique<test_kit::FakeChannel>(wire_),
                                   rq730sim::Options{}};
  test_kit::FakeClock clock_;
};

TEST_F(ChannelAdapterTest, EveryWaitingFrameIsHandledThenWhatIsDue) {
  using Frames = std::vector<std::string>;
  EXPECT_EQ(poll({}), Frames{"701#00"});
  // Heartbeat on, a guarding request and a state change in one poll: answered in order, and
  // the heartbeat period starts with the state change.
  EXPECT_EQ(poll({"601#2B17100064000000", "701#R", "000#0201"}),
            (Frames{"581#6017100000000000", "701#7F", "701#04"}));
  clock_.advance(std::chrono::milliseconds(100));
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
  auto fresh = std::make_shared<test_kit::FakeWire>();
  module_.setChannel(std::make_unique<test_kit::FakeChannel>(fresh));
  wire_ = fresh;
  EXPECT_EQ(poll({"701#R"}), std::vector<std::string>{"701#04"});  // still stopped
}

}  // namespace
}  // namespace rq730sim_test
