#include "canbus/socketcand_server_session.h"

namespace canbus::socketcand {
namespace {

using Step = ServerSession::Step;

Step answer(std::string text) { return Step{Step::Kind::answer, std::move(text), {}, {}}; }
Step refuse(std::string_view why) { return answer(formatError(why)); }

}  // namespace

void ServerSession::feed(std::string_view bytes) {
  if (!over_) splitter_.feed(bytes);
}

std::optional<ServerSession::Step> ServerSession::next() {
  if (over_) return std::nullopt;
  std::optional<MessageSplitter::Piece> piece = splitter_.next();
  if (!piece) return std::nullopt;
  switch (piece->kind) {
    case MessageSplitter::Piece::Kind::message:
      return command(parseClientCommand(piece->text));
    case MessageSplitter::Piece::Kind::garbage:
      return refuse("text outside a message");
    case MessageSplitter::Piece::Kind::tooLong:
      // Answer once, then hang up: this is no socketcand client.
      over_ = true;
      return Step{Step::Kind::hangUp, formatError("message too long"), {},
                  "sent a message longer than " + std::to_string(kMaxMessageLength) + " bytes"};
  }
  return std::nullopt;
}

Step ServerSession::command(const ClientCommand& command) {
  using Kind = ClientCommand::Kind;
  switch (command.kind) {
    case Kind::open:
      if (!bus_.empty()) return refuse("bus already open");
      bus_ = command.text;
      return Step{Step::Kind::opened, formatOk(), {}, {}};
    case Kind::rawmode:
      if (bus_.empty()) return refuse("no bus open");
      rawMode_ = true;
      return Step{Step::Kind::rawMode, formatOk(), {}, {}};
    case Kind::rtrmode:
      rtrMode_ = true;
      return answer(formatOk());
    case Kind::echo:
      return answer(formatEcho());
    case Kind::send:
      if (bus_.empty()) return refuse("no bus open");
      return Step{Step::Kind::transmit, {}, command.frame, {}};
    case Kind::sendRtr:
      if (bus_.empty()) return refuse("no bus open");
      if (!rtrMode_) return refuse("sendrtr needs rtrmode");
      return Step{Step::Kind::transmit, {}, command.frame, {}};
    case Kind::unknown:
      return refuse("unknown command");
    case Kind::malformed:
      return refuse(command.text);
  }
  return refuse("unknown command");
}

}  // namespace canbus::socketcand
