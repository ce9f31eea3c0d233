// The simulator on the in-process loopback bus, seen from a second endpoint of the same bus.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "canbus/loopback_bus.h"
#include "rq730sim/channel_adapter.h"
#include "support/candump_frames.h"

namespace {

using namespace std::chrono_literals;

class LoopbackTest : public ::testing::Test {
 protected:
  LoopbackTest()
      : peer_(canbus::openLoopback("rq730sim-loopback-test")),
        sim_(canbus::openLoopback("rq730sim-loopback-test"), [] {
          rq730sim::Options options;
          options.nodeId = 5;
          options.warmup = 0ms;
          options.loadKg = 12.5;
          return options;
        }()) {}

  std::vector<std::string> exchange(std::vector<std::string> frames) {
    for (const auto& text : frames) EXPECT_FALSE(peer_->send(test_kit::frame(text)));
    sim_.poll(now_);
    std::vector<std::string> received;
    while (auto frame = peer_->receive()) received.push_back(canbus::toCandump(*frame));
    return received;
  }

  std::unique_ptr<canbus::LoopbackChannel> peer_;
  rq730sim::ChannelAdapter sim_;
  rq730sim::Clock::time_point now_{};
};

TEST_F(LoopbackTest, BootsAnswersSdoAndSendsPdosOverTheBus) {
  EXPECT_EQ(exchange({}), std::vector<std::string>{"705#00"});
  EXPECT_EQ(exchange({"605#4018100400000000"}), std::vector<std::string>{"585#4318100479145A04"});
  EXPECT_EQ(exchange({"705#R"}), std::vector<std::string>{"705#7F"});
  EXPECT_EQ(exchange({"000#0105"}),
            (std::vector<std::string>{"185#0D006776", "285#00BB5E", "385#00004841"}));
}

}  // namespace
