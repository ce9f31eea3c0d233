// A simulated module on a fake channel with a fake clock. Frames are written in candump
// notation ("601#4008100000000000", "701#R") so that tests read like bus traces.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "rq730sim/simulator.h"

namespace rq730sim_test {

using namespace std::chrono_literals;

struct Wire {
  std::deque<canbus::Frame> toNode;
  std::vector<canbus::Frame> fromNode;
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
    wire_->fromNode.push_back(frame);
    return std::nullopt;
  }
  canbus::ChannelState state() const override { return canbus::ChannelState::active; }
  std::string name() const override { return "fake"; }

 private:
  std::shared_ptr<Wire> wire_;
};

// candump notation, as a test writes it: "ID#HEX" or "ID#R".
inline canbus::Frame parse(std::string_view text) {
  canbus::Frame frame;
  const auto hash = text.find('#');
  frame.id = static_cast<uint32_t>(std::stoul(std::string(text.substr(0, hash)), nullptr, 16));
  frame.extended = hash > 3;
  std::string_view data = text.substr(hash + 1);
  if (data == "R") {
    frame.remote = true;
    return frame;
  }
  frame.length = static_cast<uint8_t>(data.size() / 2);
  for (std::size_t i = 0; i < frame.length; ++i) {
    frame.data[i] =
        static_cast<uint8_t>(std::stoul(std::string(data.substr(2 * i, 2)), nullptr, 16));
  }
  return frame;
}

inline std::string format(const canbus::Frame& frame) {
  char buffer[32];
  std::string text;
  std::snprintf(buffer, sizeof buffer, frame.extended ? "%08X#" : "%03X#", frame.id);
  text = buffer;
  if (frame.remote) return text + "R";
  for (std::size_t i = 0; i < frame.length; ++i) {
    std::snprintf(buffer, sizeof buffer, "%02X", frame.data[i]);
    text += buffer;
  }
  return text;
}

class SimFixture : public ::testing::Test {
 protected:
  using Frames = std::vector<std::string>;

  // Default for most tests: no warm-up, a known load, node 1.
  static rq730sim::Options defaultOptions() {
    rq730sim::Options options;
    options.warmup = 0ms;
    return options;
  }

  // Creates the module and powers it on; returns what it sent at power-on.
  Frames start(rq730sim::Options options = defaultOptions()) {
    wire_ = std::make_shared<Wire>();
    sim_ = std::make_unique<rq730sim::Simulator>(std::make_unique<FakeChannel>(wire_), options);
    return advance(0ms);
  }

  // Moves the fake clock on and polls once; returns the frames sent.
  Frames advance(std::chrono::milliseconds step) {
    now_ += step;
    sim_->poll(now_);
    return take();
  }

  // Delivers frames to the node and polls at the same instant; returns the frames sent.
  Frames exchange(std::initializer_list<std::string_view> frames) {
    for (auto text : frames) wire_->toNode.push_back(parse(text));
    return advance(0ms);
  }

  Frames take() {
    Frames sent;
    for (const auto& frame : wire_->fromNode) sent.push_back(format(frame));
    wire_->fromNode.clear();
    return sent;
  }

  // Advances in 1 ms steps for `duration`; returns each sent frame with the time it went out.
  std::vector<std::pair<long, std::string>> run(std::chrono::milliseconds duration) {
    std::vector<std::pair<long, std::string>> sent;
    const auto begin = now_;
    while (now_ - begin < duration) {
      for (auto& frame : advance(1ms)) {
        sent.emplace_back(
            std::chrono::duration_cast<std::chrono::milliseconds>(now_ - begin).count(), frame);
      }
    }
    return sent;
  }

  // One expedited SDO request; the single response frame.
  std::string sdo(std::string_view request) {
    Frames sent = exchange({request});
    EXPECT_EQ(sent.size(), 1u) << "request " << request;
    return sent.empty() ? std::string() : sent.front();
  }

  std::shared_ptr<Wire> wire_;
  std::unique_ptr<rq730sim::Simulator> sim_;
  rq730sim::Clock::time_point now_{std::chrono::seconds(1000)};
};

}  // namespace rq730sim_test
