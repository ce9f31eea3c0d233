// A simulated module's core on the test kit's fake clock: frames go in through onFrame, what it
// sends is collected from its sink. Frames are written in candump notation
// ("601#4008100000000000", "701#R") so that tests read like bus traces.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "rq730sim/simulator.h"
#include "support/candump_frames.h"
#include "support/fake_clock.h"

namespace rq730sim_test {

using namespace std::chrono_literals;

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
    clock_.advance(step);
    sim_->advance(clock_.now());
    return take();
  }

  // Delivers frames to the node and runs what is due at the same instant; returns the frames
  // sent.
  Frames exchange(std::initializer_list<std::string_view> frames) {
    for (auto text : frames) sim_->onFrame(test_kit::frame(text), clock_.now());
    return advance(0ms);
  }

  Frames take() { return test_kit::candump(std::exchange(sent_, {})); }

  // Advances in 1 ms steps for `duration`; returns each sent frame with the time it went out.
  std::vector<std::pair<long, std::string>> run(std::chrono::milliseconds duration) {
    std::vector<std::pair<long, std::string>> sent;
    const auto begin = clock_.now();
    while (clock_.now() - begin < duration) {
      for (auto& frame : advance(1ms)) {
        sent.emplace_back(
            std::chrono::duration_cast<std::chrono::milliseconds>(clock_.now() - begin).count(),
            frame);
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
  test_kit::FakeClock clock_;
};

}  // namespace rq730sim_test
