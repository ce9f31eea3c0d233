// The socketcand text protocol, without sockets: splitting a TCP byte stream into "< ... >"
// messages, parsing what a server and what a client says, and formatting both sides' messages.
// Used by the socketcand client channel and by tools/canhub.
//
// Our own extension for remote frames (the protocol has none): a client opts in with
// "< rtrmode >" (answer "< ok >"), may then send "< sendrtr ID DLC >" and receives
// "< rtr ID SECS.USECS DLC >". Clients that did not opt in never see remote frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "canbus/frame.h"

namespace canbus::socketcand {

// No message of either side is longer; a longer one without '>' is rejected.
inline constexpr std::size_t kMaxMessageLength = 300;

// Splits a byte stream into messages. Bytes arrive in pieces of any size (TCP may split or join
// messages); whitespace between messages is ignored, anything else outside "< >" is reported as
// garbage, and a '<' inside an unfinished message starts a new one (the unfinished part is
// garbage). A message that grows past the limit is reported once as tooLong and the rest of it,
// up to its '>' or a new '<', is dropped. However the stream is cut, the same messages come out.
class MessageSplitter {
 public:
  struct Piece {
    enum class Kind {
      message,  // text is the message without its brackets, e.g. " frame 123 0.000000 AB "
      garbage,  // text is what was skipped (at most kMaxMessageLength bytes of it)
      tooLong   // a message grew past the limit without '>'; it was dropped
    };
    Kind kind;
    std::string text;
  };

  explicit MessageSplitter(std::size_t maxMessageLength = kMaxMessageLength)
      : maxLength_(maxMessageLength) {}

  void feed(std::string_view bytes);
  // The next complete piece, or nullopt when more bytes are needed.
  std::optional<Piece> next();
  // Bytes held for an unfinished message.
  std::size_t buffered() const { return buffer_.size() - consumed_; }

 private:
  std::size_t maxLength_;
  std::string buffer_;
  std::size_t consumed_ = 0;  // bytes of buffer_ already handed out
  bool inMessage_ = false;    // buffer_[consumed_] is the '<' of an unfinished message
  std::size_t scanned_ = 0;   // how far the unfinished message was searched for '>'
  bool discarding_ = false;   // dropping the rest of a too long message up to its end
};

// The whitespace-separated words of a message body.
std::vector<std::string_view> splitWords(std::string_view body);

struct Timestamp {
  int64_t seconds = 0;
  uint32_t microseconds = 0;
};

// What a server says to a client.
struct ServerMessage {
  enum class Kind { hi, ok, echo, error, frame, rtr, unknown, malformed };
  Kind kind = Kind::unknown;
  Frame frame;       // frame, rtr
  std::string text;  // error: the words after "error"; malformed: why; unknown: the body
};
ServerMessage parseServerMessage(std::string_view body);

// What a client says to a server.
struct ClientCommand {
  enum class Kind { open, rawmode, rtrmode, echo, send, sendRtr, unknown, malformed };
  Kind kind = Kind::unknown;
  Frame frame;       // send, sendRtr
  std::string text;  // open: the bus name; malformed: why (no '<' or '>' in it)
};
ClientCommand parseClientCommand(std::string_view body);

// Client side: "< open BUS >", "< rtrmode >", "< rawmode >".
std::string formatOpen(std::string_view bus);
std::string formatRtrMode();
std::string formatRawMode();
// Server side: "< hi >", "< ok >", "< echo >", "< error WHY >".
std::string formatHi();
std::string formatOk();
std::string formatEcho();
std::string formatError(std::string_view why);

// Client side: "< send 123 2 D2 04 >" (id 3 hex digits, extended 8) and "< sendrtr 123 0 >".
std::string formatSend(const Frame& frame);
std::string formatSendRtr(const Frame& frame);
// Server side: "< frame 123 12.000034 D204 >" (DLC 0: two spaces before '>') and
// "< rtr 123 12.000034 0 >".
std::string formatFrame(const Frame& frame, Timestamp time);
std::string formatRtr(const Frame& frame, Timestamp time);

}  // namespace canbus::socketcand
