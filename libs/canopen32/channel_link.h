// The engine's way onto the bus: sends and receives through one canbus::Channel, writes the
// trace, notices when the channel is lost and reopens it (same URL, same options) at most every
// kReopenInterval, so a restarted hub or a replugged adapter is used again without a restart.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "canbus/channel.h"
#include "channel_map.h"
#include "frame_trace.h"
#include "service_context.h"

namespace canopen32 {

inline constexpr Duration kReopenInterval = std::chrono::milliseconds(500);

using ChannelOpener =
    std::function<canbus::OpenResult(std::string_view url, const canbus::OpenOptions& options)>;

// Maps a failed open to a kcoInit code with a text that names the hardware code and the URL.
InitFailure initFailureFor(uint8_t hardware, const std::string& url, const canbus::Error& error,
                           uint32_t bitrate);

class ChannelLink final : public FrameSink {
 public:
  ChannelLink(std::string url, canbus::OpenOptions options, std::unique_ptr<canbus::Channel> open,
              ChannelOpener opener, FrameTrace* trace);

  Code send(const canbus::Frame& frame) override;
  // Next received frame, if any (nothing while the channel is lost).
  std::optional<canbus::Frame> receive();
  // Call once per loop first: true exactly when the channel was found lost since the last call
  // (by its state or by a failed send); while it is lost, tries to reopen it when due.
  bool service(Duration steady);

  bool available() const { return channel_ != nullptr; }

 private:
  void markLost();

  std::string url_;
  canbus::OpenOptions options_;
  std::unique_ptr<canbus::Channel> channel_;
  ChannelOpener opener_;
  FrameTrace* trace_;
  std::string name_;
  bool lostUnreported_ = false;
  std::optional<Duration> nextReopen_;
};

}  // namespace canopen32
