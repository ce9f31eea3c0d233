#include <variant>

#include "canbus/channel.h"
#include "canbus/channel_url.h"
#include "canbus/loopback_bus.h"
#include "canbus/socketcan_channel.h"
#include "canbus/socketcand_channel.h"

namespace canbus {
namespace {

// Moves either alternative of a transport's result into an OpenResult.
template <typename T>
OpenResult widen(std::variant<std::unique_ptr<T>, Error>&& result) {
  if (auto* channel = std::get_if<std::unique_ptr<T>>(&result)) {
    return std::unique_ptr<Channel>(std::move(*channel));
  }
  return std::get<Error>(std::move(result));
}

}  // namespace

OpenResult openChannel(std::string_view url, const OpenOptions& options) {
  std::variant<ChannelUrl, Error> parsed = parseChannelUrl(url);
  if (auto* error = std::get_if<Error>(&parsed)) return std::move(*error);
  const ChannelUrl& target = std::get<ChannelUrl>(parsed);
  if (const auto* can = std::get_if<SocketCanUrl>(&target)) {
    return widen(SocketCanChannel::open(can->interface, options.bitrate));
  }
  if (const auto* tcp = std::get_if<SocketcandUrl>(&target)) {
    return widen(SocketcandChannel::open(*tcp, options.timeout));
  }
  return std::unique_ptr<Channel>(openLoopback(std::get<LoopbackUrl>(target).name));
}

OpenResult openChannelByDriver(std::string_view driver, const OpenOptions& options) {
  return widen(SocketCanChannel::openByDriver(driver, options.bitrate));
}

const char* toString(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::badUrl: return "badUrl";
    case ErrorKind::noSuchInterface: return "noSuchInterface";
    case ErrorKind::notSupported: return "notSupported";
    case ErrorKind::permissionDenied: return "permissionDenied";
    case ErrorKind::bitrateMismatch: return "bitrateMismatch";
    case ErrorKind::sendFailed: return "sendFailed";
    case ErrorKind::busOff: return "busOff";
    case ErrorKind::connectionLost: return "connectionLost";
    case ErrorKind::protocolError: return "protocolError";
  }
  return "unknown";
}

const char* toString(ChannelState state) {
  switch (state) {
    case ChannelState::active: return "active";
    case ChannelState::errorPassive: return "errorPassive";
    case ChannelState::busOff: return "busOff";
    case ChannelState::down: return "down";
  }
  return "unknown";
}

}  // namespace canbus
