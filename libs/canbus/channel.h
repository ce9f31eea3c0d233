// One CAN channel: a non-blocking endpoint on a bus (SocketCAN, socketcand over TCP, or the
// in-process loopback bus). Channels are opened from URLs:
//   socketcan://can0
//   socketcand://127.0.0.1:29536/sim0
//   loopback://NAME
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "canbus/frame.h"

namespace canbus {

enum class ErrorKind {
  badUrl,            // the URL is not one of the forms above
  noSuchInterface,   // interface, host or bus does not exist / cannot be reached
  notSupported,      // e.g. the kernel has no CAN support
  permissionDenied,  // e.g. setting the bit rate needs CAP_NET_ADMIN
  bitrateMismatch,   // interface runs at another rate and it may not be changed
  sendFailed,        // transmit queue full or write failed
  busOff,            // controller went bus-off
  connectionLost,    // interface went down, TCP connection closed
  protocolError      // peer spoke something we do not understand
};

struct Error {
  ErrorKind kind;
  std::string message;  // complete sentence for the user, names the interface
};

// What a channel reports besides frames.
enum class ChannelState {
  active,        // frames flow
  errorPassive,  // controller error passive (still usable)
  busOff,        // controller bus-off
  down           // interface down or connection lost; sends fail until reopened
};

class Channel {
 public:
  virtual ~Channel() = default;
  Channel() = default;
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;

  // Next received frame, or nullopt when none is waiting. Never blocks.
  virtual std::optional<Frame> receive() = 0;
  // Queues one frame for sending. Never blocks; an error when the frame cannot be queued.
  virtual std::optional<Error> send(const Frame& frame) = 0;
  virtual ChannelState state() const = 0;
  // Short name for traces, e.g. "can0", "sim0".
  virtual std::string name() const = 0;
  // A file descriptor that becomes readable when receive() may have something (for tools that
  // want to sleep in poll()); -1 when the channel has none.
  virtual int pollFd() const { return -1; }
  // How often the controller went bus-off since the channel was opened (also when it was
  // restarted before anyone looked at the state).
  virtual uint64_t busOffCount() const { return 0; }
  // What the user should know about the channel now, e.g. why it stays bus-off and how to end
  // that, or that the adapter's driver refused restart-ms; empty when there is nothing.
  virtual std::string notice() const { return {}; }
};

struct OpenOptions {
  uint32_t bitrate = 500000;  // bit/s; SocketCAN checks or sets it, others ignore it
  // socketcand: the TCP connect and the handshake each finish within this, or the open fails.
  std::chrono::milliseconds timeout{2000};
};

using OpenResult = std::variant<std::unique_ptr<Channel>, Error>;

// Opens the channel that the URL names. Opening the same URL again after a failure or after the
// channel went down is the way to reconnect; a refused connection fails at once.
OpenResult openChannel(std::string_view url, const OpenOptions& options = {});

// Opens the first SocketCAN interface whose kernel driver is `driver` (e.g. "peak_usb"), looked
// up anew at every call, so that a re-plugged adapter is found under its new name and another
// adapter that took its old name is never opened.
OpenResult openChannelByDriver(std::string_view driver, const OpenOptions& options = {});

// "badUrl", "noSuchInterface", ... for traces and tests.
const char* toString(ErrorKind kind);
const char* toString(ChannelState state);

}  // namespace canbus
