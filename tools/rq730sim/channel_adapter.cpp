#include "rq730sim/channel_adapter.h"

#include <utility>

namespace rq730sim {

ChannelAdapter::ChannelAdapter(std::unique_ptr<canbus::Channel> channel, Options options)
    : channel_(std::move(channel)),
      simulator_(std::move(options), [this](const canbus::Frame& frame) { send(frame); }) {}

void ChannelAdapter::poll(Clock::time_point now) {
  if (channel_) {
    while (auto frame = channel_->receive()) simulator_.onFrame(*frame, now);
  }
  simulator_.advance(now);
}

void ChannelAdapter::send(const canbus::Frame& frame) {
  if (!channel_) return;
  if (auto error = channel_->send(frame)) {
    ++sendErrors_;
    lastSendError_ = std::move(error);
  }
}

}  // namespace rq730sim
