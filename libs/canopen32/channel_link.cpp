#include "channel_link.h"

#include "canbus/can_fixes.h"
#include "channel_map.h"
#include "error_text.h"

namespace canopen32 {

InitFailure initFailureFor(uint8_t hardware, const std::string& url, const canbus::Error& error,
                           uint32_t bitrate) {
  const std::string where =
      "kcoInit: hardware code " + std::to_string(hardware) + " (" + url + "): ";
  switch (error.kind) {
    case canbus::ErrorKind::badUrl: return {kInitBadUrl, where + error.message};
    case canbus::ErrorKind::noSuchInterface: {
      const bool hint =
          url.rfind("socketcand://", 0) == 0 && error.message.find("running") == std::string::npos;
      return {kInitNoInterface, where + error.message + (hint ? " (is the hub running?)" : "")};
    }
    case canbus::ErrorKind::notSupported: return {kInitNoKernelCan, where + error.message};
    case canbus::ErrorKind::permissionDenied: return {kInitPermission, where + error.message};
    case canbus::ErrorKind::bitrateMismatch: {
      std::string text = where + error.message;
      if (text.find("ip link") == std::string::npos && url.rfind("socketcan://", 0) == 0) {
        text += " " + canbus::canFixText(canbus::CanFix::bitrate, url.substr(12), bitrate);
      }
      return {kInitBitrateMismatch, text};
    }
    default: return {kInitFailed, where + error.message};
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
  if (channel_) {
    name_ = channel_->name();
    busOffsSeen_ = channel_->busOffCount();
  }
}

Code ChannelLink::send(const canbus::Frame& frame) {
  if (!channel_) return kChannelUnavailable;
  if (auto error = channel_->send(frame)) {
    switch (error->kind) {
      case canbus::ErrorKind::connectionLost: markLost(error->message); return kChannelUnavailable;
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

void ChannelLink::reportUnavailable() {
  std::string text = "CAN channel not available: " + reopen_.lastFailure();
  if (opener_) {
    text += " The library tries again every " +
            std::to_string(
                std::chrono::duration_cast<std::chrono::milliseconds>(kReopenInterval).count()) +
            " ms.";
  }
  setDetail(kChannelUnavailable, text);
}

void ChannelLink::markLost(const std::string& reason) {
  channel_.reset();
  lostUnreported_ = true;
  reopen_.lost(reason);
  reportUnavailable();
}

Code ChannelLink::service(Duration steady) {
  Code ended = kSent;
  if (channel_ && channel_->state() == canbus::ChannelState::down) {
    const std::string notice = channel_->notice();
    markLost(notice.empty() ? "CAN channel " + name_ + " went down." : notice);
  }
  if (channel_ && channel_->busOffCount() != busOffsSeen_) {
    busOffsSeen_ = channel_->busOffCount();
    const std::string notice = channel_->notice();
    setDetail(kBusOff, "CAN controller is bus-off: " +
                           (channel_->state() == canbus::ChannelState::busOff && !notice.empty()
                                ? notice
                                : "CAN interface " + name_ +
                                      " went bus-off and was restarted; transfers running "
                                      "then ended."));
    ended = kBusOff;
  }
  const canbus::ReconnectPolicy::Clock::time_point now(steady);
  if (!channel_ && opener_ && reopen_.due(now)) {
    auto result = opener_(url_, options_);
    if (auto* opened = std::get_if<std::unique_ptr<canbus::Channel>>(&result)) {
      channel_ = std::move(*opened);
      name_ = channel_->name();
      busOffsSeen_ = channel_->busOffCount();
      reopen_.succeeded();
    } else {
      reopen_.failed(now, std::get<canbus::Error>(result).message);
      reportUnavailable();
    }
  }
  if (lostUnreported_) {
    lostUnreported_ = false;
    return kSdoChannelLost;
  }
  return ended;
}

}  // namespace canopen32
