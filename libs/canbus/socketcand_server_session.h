// The server's side of one socketcand connection, without sockets: bytes that the client sent
// go in, and what the server has to do comes out, one step per message. It keeps what the
// client has said so far (the bus it opened, raw mode, remote frames) and answers what needs
// an answer; the bus itself (who else is on it, pacing, delivery) is the server's business.
// tools/canhub runs one per client.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "canbus/frame.h"
#include "canbus/socketcand_protocol.h"

namespace canbus::socketcand {

class ServerSession {
 public:
  struct Step {
    enum class Kind {
      answer,    // write `text` to the client
      opened,    // the client opened bus(): the server adds it to that bus; write `text`
      rawMode,   // the client switched to raw mode and receives frames now; write `text`
      transmit,  // the client sent `frame` on its bus; nothing to write unless the bus refuses
                 // it (then transmitRefused())
      hangUp     // write `text` as last words and close the connection; `reason` says why
    };
    Kind kind = Kind::answer;
    std::string text;
    Frame frame;
    std::string reason;
  };

  // The greeting the server writes when a client connects.
  static std::string greeting() { return formatHi(); }
  // The answer when the bus cannot take a transmitted frame.
  static std::string transmitRefused() { return formatError("transmit queue full"); }

  // Bytes as they came from the client, in pieces of any size.
  void feed(std::string_view bytes);
  // The next thing to do, or nullopt when more bytes are needed (or after hangUp: the session
  // is over and takes nothing more).
  std::optional<Step> next();

  // Empty until the client opened a bus.
  const std::string& bus() const { return bus_; }
  bool rawMode() const { return rawMode_; }
  bool rtrMode() const { return rtrMode_; }
  bool over() const { return over_; }
  // Whether this client receives a frame of its bus: data frames in raw mode, remote frames
  // only when it also opted in with "< rtrmode >".
  bool receives(const Frame& frame) const { return rawMode_ && (!frame.remote || rtrMode_); }
  // Bytes held for an unfinished message.
  std::size_t buffered() const { return splitter_.buffered(); }

 private:
  Step command(const ClientCommand& command);

  MessageSplitter splitter_;
  std::string bus_;
  bool rawMode_ = false;
  bool rtrMode_ = false;
  bool over_ = false;
};

}  // namespace canbus::socketcand
