// The in-process loopback bus: named buses, any number of endpoints per name. Every frame that
// one endpoint sends is queued for every other endpoint of the same bus, never for the sender.
// Endpoints may be used from different threads. A bus lives as long as one of its endpoints.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

#include "canbus/channel.h"

namespace canbus {

class LoopbackBus;

// Frames an endpoint holds before it drops its oldest ones (and counts them).
inline constexpr std::size_t kLoopbackQueueCapacity = 100000;

class LoopbackChannel final : public Channel {
 public:
  LoopbackChannel(std::shared_ptr<LoopbackBus> bus, std::size_t capacity);
  ~LoopbackChannel() override;

  std::optional<Frame> receive() override;
  std::optional<Error> send(const Frame& frame) override;
  ChannelState state() const override { return ChannelState::active; }
  std::string name() const override;
  // An eventfd that is readable while frames are waiting.
  int pollFd() const override { return eventFd_; }

  // Frames received by this endpoint that were dropped because its queue was full.
  std::size_t droppedFrames() const;
  // Frames waiting in this endpoint's queue.
  std::size_t pendingFrames() const;

 private:
  friend class LoopbackBus;
  struct Queue;

  std::shared_ptr<LoopbackBus> bus_;
  std::unique_ptr<Queue> queue_;
  int eventFd_ = -1;
};

// Opens a new endpoint on the bus NAME (what openChannel("loopback://NAME") does). The capacity
// is the endpoint's queue bound.
std::unique_ptr<LoopbackChannel> openLoopback(std::string_view name,
                                              std::size_t capacity = kLoopbackQueueCapacity);

}  // namespace canbus
