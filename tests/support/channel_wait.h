// Waiting for a channel without sleeping: poll() on its descriptor until a deadline.
#pragma once

#include <poll.h>

#include <chrono>
#include <optional>

#include "canbus/channel.h"

namespace test_kit {

inline std::optional<canbus::Frame> receiveWithin(canbus::Channel& channel,
                                                  std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (std::optional<canbus::Frame> frame = channel.receive()) return frame;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || channel.state() == canbus::ChannelState::down) return std::nullopt;
    pollfd entry{channel.pollFd(), POLLIN, 0};
    ::poll(&entry, 1, static_cast<int>(left.count()));
  }
}

// Calls receive() until the channel reports down (true) or the time is up (false).
inline bool waitUntilDown(canbus::Channel& channel, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    channel.receive();
    if (channel.state() == canbus::ChannelState::down) return true;
    pollfd entry{channel.pollFd(), POLLIN, 0};
    ::poll(&entry, 1, 50);
  }
  return false;
}

}  // namespace test_kit
