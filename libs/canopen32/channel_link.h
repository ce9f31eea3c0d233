// The engine's way onto the bus: sends and receives through one canbus::Channel, writes the
// trace, notices when the channel is lost or its controller went bus-off, and reopens a lost
// channel (same URL, same options) at most every kReopenInterval, so a restarted hub or a
// replugged adapter is used again without a restart. Why a channel is not available (lost, or
// its reopen failed: interface absent, down, without bit rate, no permission) is the text of
// kChannelUnavailable.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "canbus/channel.h"
#include "canbus/reconnect_policy.h"
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
  // Call once per loop first. Returns what running transfers end with, or kSent when nothing
  // happened: kSdoChannelLost when the channel was found lost since the last call (by its state
  // or by a failed send), kBusOff when its controller went bus-off meanwhile (also when it was
  // restarted since). While the channel is lost, tries to reopen it when due.
  Code service(Duration steady);

  bool available() const { return channel_ != nullptr; }
  // Why the channel is not available now (the loss, or the latest failed reopen); empty while
  // it is.
  const std::string& unavailableReason() const { return reopen_.lastFailure(); }

 private:
  void markLost(const std::string& reason);
  // Sets kChannelUnavailable's text to why the channel is not there.
  void reportUnavailable();

  std::string url_;
  canbus::OpenOptions options_;
  std::unique_ptr<canbus::Channel> channel_;
  ChannelOpener opener_;
  FrameTrace* trace_;
  std::string name_;
  bool lostUnreported_ = false;
  uint64_t busOffsSeen_ = 0;
  // The first reopen comes one interval after the loss was noticed.
  canbus::ReconnectPolicy reopen_{kReopenInterval,
                                  canbus::ReconnectPolicy::FirstTry::afterInterval};
};

}  // namespace canopen32
