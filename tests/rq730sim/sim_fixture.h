// A simulated module's core with a fake clock: frames go in through onFrame, what it sends is
// collected from its sink. Frames are written in candump notation ("601#4008100000000000",
// "701#R") so that tests read like bus traces.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "rq730sim/simulator.h"

namespace rq730sim_test {

using namespace std::chrono_literals;

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

  // Creates the module, not yet powered on.
  void create(rq730sim::Options options = defaultOptions()) {
    sent_.clear();
    sim_ = std::make_unique<rq730sim::Simulator>(
        options, [this](const canbus::Frame& frame) { sent_.push_back(frame); });
  }

  // Creates the module and powers it on; returns what it sent at power-on.
  Frames start(rq730sim::Options options = defaultOptions()) {
    create(options);
    return advance(0ms);
  }

  // Moves the fake clock on and runs what is due then; returns the frames sent.
  Frames advance(std::chrono::milliseconds step) {
    now_ += step;
    sim_->advance(now_);
    return take();
  }

  // Delivers frames to the node and runs what is due at the same instant; returns the frames
  // sent.
  Frames exchange(std::initializer_list<std::string_view> frames) {
    for (auto text : frames) sim_->onFrame(parse(text), now_);
    return advance(0ms);
  }

  Frames take() {
    Frames sent;
    for (const auto& frame : sent_) sent.push_back(format(frame));
    sent_.clear();
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

  std::vector<canbus::Frame> sent_;
  std::unique_ptr<rq730sim::Simulator> sim_;
  rq730sim::Clock::time_point now_{std::chrono::seconds(1000)};
};

}  // namespace rq730sim_test
