// One client of the hub: its connection (socket and output queue), its protocol session (what
// it has said so far, what it has opened) and the hub's bookkeeping for it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "canbus/socketcand_server_session.h"
#include "canbus/stream_transport.h"
#include "canbus/unique_fd.h"

namespace canhub {

using Clock = std::chrono::steady_clock;

class ClientConnection {
 public:
  ClientConnection(canbus::UniqueFd fd, uint64_t id, std::string peer, std::size_t outputLimit);

  int fd() const { return transport_.fd(); }
  uint64_t id() const { return id_; }
  const std::string& peer() const { return peer_; }

  // Queues one message; it goes out in one write of its own. False when the output buffer
  // would pass its limit (the client does not read fast enough); nothing is queued then.
  bool queue(std::string_view message) { return transport_.queue(message); }
  // Writes queued messages, one send() per message, as far as the socket takes them, unless
  // output is held. Returns false when the connection failed.
  bool flush(Clock::time_point now);
  // Reads what the client sent (one read) into its session.
  canbus::StreamTransport::ReadResult read();
  // Last words before hanging up: writes what is queued and then the message at once,
  // despite a hold, then reads and drops what the client still sent (so that closing does not
  // reset the connection before it has read the message).
  void sayLast(const std::string& message);
  // Holds all output until `until` (python-can's client needs a pause after raw mode's ok).
  void holdUntil(Clock::time_point until) { heldUntil_ = until; }
  bool held(Clock::time_point now) const { return now < heldUntil_; }
  Clock::time_point heldUntil() const { return heldUntil_; }
  bool hasOutput() const { return transport_.hasOutput(); }
  // Bytes the hub holds for this client's output and unfinished input.
  std::size_t footprint() const { return transport_.queueFootprint() + session_.buffered(); }

  canbus::socketcand::ServerSession& session() { return session_; }
  const canbus::socketcand::ServerSession& session() const { return session_; }

  Clock::time_point openDeadline{};  // closed when no bus is open by then
  bool closing = false;              // to be closed by the hub's loop
  std::string closeReason;

 private:
  canbus::StreamTransport transport_;
  uint64_t id_;
  std::string peer_;
  Clock::time_point heldUntil_{};
  canbus::socketcand::ServerSession session_;
};

}  // namespace canhub
