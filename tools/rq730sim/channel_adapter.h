// Connects the simulated module's core to one canbus::Channel: poll(now) hands every frame the
// channel holds to the core, then lets the core run what is due at `now`; the core's frames go
// to the channel. Sends the channel refuses are counted, never fatal. Tests and tools run the
// module in-process through it; the rq730sim program adds sleeping until the core's next
// deadline and reopening a lost channel (main.cpp).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "canbus/channel.h"
#include "rq730sim/simulator.h"

namespace rq730sim {

class ChannelAdapter {
 public:
  ChannelAdapter(std::unique_ptr<canbus::Channel> channel, Options options);
  ChannelAdapter(const ChannelAdapter&) = delete;
  ChannelAdapter& operator=(const ChannelAdapter&) = delete;

  // Delivers the waiting frames at `now`, then runs what is due at `now`.
  void poll(Clock::time_point now);

  Simulator& simulator() { return simulator_; }
  const Simulator& simulator() const { return simulator_; }

  // Replaces the channel (e.g. after the bus came back); the node keeps its state.
  void setChannel(std::unique_ptr<canbus::Channel> channel) { channel_ = std::move(channel); }
  const canbus::Channel* channel() const { return channel_.get(); }

  uint64_t sendErrors() const { return sendErrors_; }  // frames the channel refused
  const std::optional<canbus::Error>& lastSendError() const { return lastSendError_; }

 private:
  void send(const canbus::Frame& frame);

  std::unique_ptr<canbus::Channel> channel_;
  uint64_t sendErrors_ = 0;
  std::optional<canbus::Error> lastSendError_;
  Simulator simulator_;  // last: its sink uses the members above
};

}  // namespace rq730sim
