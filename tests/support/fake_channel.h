// A canbus::Channel that the test drives by hand through its wire: the frames waiting for
// receive(), the frames send() took (candump notation), and switches for a lost connection,
// bus-off and a full transmit queue. The wire is shared, so that the test keeps it while the
// code under test owns the channel, and a reopened channel can use the same wire.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "canbus/channel.h"
#include "candump_frames.h"

namespace test_kit {

struct FakeWire {
  std::deque<canbus::Frame> incoming;  // handed out by receive(), oldest first
  std::deque<std::string> sent;        // what send() took, candump notation, oldest first
  // Connection lost: receive() has nothing, send() fails with connectionLost, state down.
  bool down = false;
  // Controller bus-off: send() fails with busOff, state busOff, and notice() says how to end
  // it. busOffs is what busOffCount() reports.
  bool busOff = false;
  uint64_t busOffs = 0;
  // Transmit queue full: send() fails with sendFailed.
  bool refuseSends = false;

  // A frame from the bus, in candump notation, for receive() to hand out.
  void arrive(std::string_view candump) { incoming.push_back(frame(candump)); }
  // What send() took since the last call, oldest first.
  std::vector<std::string> takeSent() {
    std::vector<std::string> taken(sent.begin(), sent.end());
    sent.clear();
    return taken;
  }
};

class FakeChannel final : public canbus::Channel {
 public:
  explicit FakeChannel(std::shared_ptr<FakeWire> wire, std::string name = "fake0")
      : wire_(std::move(wire)), name_(std::move(name)) {}

  std::optional<canbus::Frame> receive() override {
    if (wire_->down || wire_->incoming.empty()) return std::nullopt;
    const canbus::Frame frame = wire_->incoming.front();
    wire_->incoming.pop_front();
    return frame;
  }
  std::optional<canbus::Error> send(const canbus::Frame& frame) override {
    if (wire_->down) return canbus::Error{canbus::ErrorKind::connectionLost, "hub closed"};
    if (wire_->busOff) return canbus::Error{canbus::ErrorKind::busOff, name_ + " is bus-off"};
    if (wire_->refuseSends) return canbus::Error{canbus::ErrorKind::sendFailed, "queue full"};
    wire_->sent.push_back(canbus::toCandump(frame));
    return std::nullopt;
  }
  canbus::ChannelState state() const override {
    if (wire_->down) return canbus::ChannelState::down;
    return wire_->busOff ? canbus::ChannelState::busOff : canbus::ChannelState::active;
  }
  uint64_t busOffCount() const override { return wire_->busOffs; }
  std::string notice() const override {
    return wire_->busOff ? name_ + " is bus-off; fix: restart it" : "";
  }
  std::string name() const override { return name_; }

 private:
  std::shared_ptr<FakeWire> wire_;
  std::string name_;
};

}  // namespace test_kit
