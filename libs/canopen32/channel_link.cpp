#include "channel_link.h"

#include "channel_map.h"
#include "error_text.h"

namespace canopen32 {

InitFailure initFailureFor(uint8_t hardware, const std::string& url, const canbus::Error& error,
                           uint32_t bitrate) {
  const std::string where =
      "kcoInit: hardware code " + std::to_string(hardware) + " (" + url + "): ";
  switch (error.kind) {
    case canbus::ErrorKind::badUrl:
      return {kInitBadUrl, where + error.message};
    case canbus::ErrorKind::noSuchInterface: {
      const bool hint =
          url.rfind("socketcand://", 0) == 0 && error.message.find("running") == std::string::npos;
      return {kInitNoInterface, where + error.message + (hint ? " (is the hub running?)" : "")};
    }
    case canbus::ErrorKind::notSupported:
      return {kInitNoKernelCan, where + error.message};
    case canbus::ErrorKind::permissionDenied:
      return {kInitPermission, where + error.message};
    case canbus::ErrorKind::bitrateMismatch: {
      std::string text = where + error.message;
      if (text.find("ip link") == std::string::npos && url.rfind("socketcan://", 0) == 0) {
        const std::string name = url.substr(12);
        text += "; fix: sudo ip link set " + name + " down && sudo ip link set " + name +
                " type can bitrate " + std::to_string(bitrate) + " && sudo ip link set " + name +
                " up";
      }
      return {kInitBitrateMismatch, text};
    }
    default:
      return {kInitFailed, where + error.message};
  }
}

ChannelLink::ChannelLink(std::string url, canbus::OpenOptions options,
                         std::unique_ptr<canbus::Channel> open, ChannelOpener opener,
                         FrameTrace* trace)
    : url_(std::move(url)),
      options_(options),
      channel_(std::move(open)),
      opener_(std::move(opener)),
      trace_(trace) {
  if (channel_) name_ = channel_->name();
}

Code ChannelLink::send(const canbus::Frame& frame) {
  if (!channel_) return kChannelUnavailable;
  if (auto error = channel_->send(frame)) {
    switch (error->kind) {
      case canbus::ErrorKind::connectionLost:
        markLost();
        return kChannelUnavailable;
      case canbus::ErrorKind::busOff:
        setDetail(kBusOff, "CAN controller is bus-off: " + error->message);
        return kBusOff;
      default:
        setDetail(kSendFailed, "CAN frame could not be sent: " + error->message);
        return kSendFailed;
    }
  }
  if (trace_) trace_->write(name_, frame);
  return kSent;
}

std::optional<canbus::Frame> ChannelLink::receive() {
  if (!channel_) return std::nullopt;
  auto frame = channel_->receive();
  if (frame && trace_) trace_->write(name_, *frame);
  return frame;
}

void ChannelLink::markLost() {
  channel_.reset();
  lostUnreported_ = true;
  nextReopen_.reset();
}

bool ChannelLink::service(Duration steady) {
  if (channel_ && channel_->state() == canbus::ChannelState::down) markLost();
  if (!channel_ && opener_) {
    if (!nextReopen_) nextReopen_ = steady + kReopenInterval;
    if (steady >= *nextReopen_) {
      auto result = opener_(url_, options_);
      if (auto* opened = std::get_if<std::unique_ptr<canbus::Channel>>(&result)) {
        channel_ = std::move(*opened);
        name_ = channel_->name();
        nextReopen_.reset();
      } else {
        nextReopen_ = steady + kReopenInterval;
      }
    }
  }
  const bool lost = lostUnreported_;
  lostUnreported_ = false;
  return lost;
}

}  // namespace canopen32
