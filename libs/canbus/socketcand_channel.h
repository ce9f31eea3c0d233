// A channel to a socketcand server (tools/canhub, or a real socketcand) over TCP.
#pragma once

#include <chrono>
#include <deque>
#include <string>
#include <variant>

#include "canbus/channel.h"
#include "canbus/channel_url.h"
#include "canbus/socketcand_protocol.h"
#include "canbus/stream_transport.h"
#include "canbus/unique_fd.h"

namespace canbus {

// Bytes of outgoing messages held while the socket is full; beyond that send() fails.
inline constexpr std::size_t kSocketcandSendBufferLimit = 256 * 1024;
// Received frames held until receive() takes them; beyond that the oldest are dropped.
inline constexpr std::size_t kSocketcandReceiveQueueLimit = 100000;

class SocketcandChannel final : public Channel {
 public:
  // Connects (non-blocking, within timeout), greets, opens the bus, asks for remote frames
  // ("< rtrmode >", our extension; a server that says no simply carries none) and switches to
  // raw mode; the timeout bounds the whole handshake too.
  static std::variant<std::unique_ptr<SocketcandChannel>, Error> open(
      const SocketcandUrl& url, std::chrono::milliseconds timeout);

  // Once the frames of a read that emptied the socket are taken, the next call returns nullopt
  // without reading again (that round of calls is over; what arrived since keeps pollFd()
  // readable), and the call after it reads.
  std::optional<Frame> receive() override;
  std::optional<Error> send(const Frame& frame) override;
  ChannelState state() const override { return down_ ? ChannelState::down : ChannelState::active; }
  std::string name() const override { return url_.bus; }
  int pollFd() const override { return transport_.fd(); }

  // Whether the server accepted "< rtrmode >".
  bool remoteFramesSupported() const { return rtrMode_; }
  // Counters for diagnostics: bytes or messages from the server that were not understood,
  // "< error ... >" messages received, received frames dropped because receive() lagged.
  std::size_t garbageCount() const { return garbage_; }
  std::size_t serverErrorCount() const { return serverErrors_; }
  std::size_t droppedFrames() const { return dropped_; }

 private:
  SocketcandChannel(SocketcandUrl url, UniqueFd fd);

  std::string where() const;
  // Reads what the socket has and queues its frames; false once the connection is gone.
  bool pump();
  // Handles every complete message the splitter holds.
  void drainSplitter();
  // Handles one server message after the handshake.
  void handle(const socketcand::ServerMessage& message);
  // Writes as much of the send queue as the socket takes.
  void flush();
  void lose(const std::string& why);

  SocketcandUrl url_;
  StreamTransport transport_;
  socketcand::MessageSplitter splitter_;
  std::deque<Frame> received_;
  bool down_ = false;
  bool rtrMode_ = false;
  // The latest read emptied the socket and brought the frames received_ holds.
  bool socketEmptied_ = false;
  std::string lostReason_;
  std::size_t garbage_ = 0;
  std::size_t serverErrors_ = 0;
  std::size_t dropped_ = 0;
};

}  // namespace canbus
