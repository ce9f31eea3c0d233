// The socketcand text codec fed arbitrary byte streams, cut into pieces where the input says.
//
// Input: byte 0 = n, then n chunk lengths (one byte each, used in turn), then the stream.
// Promises checked:
//  - the splitter yields the same pieces however the stream is cut (runs of garbage count as
//    one: garbage is reported as soon as it is seen, so a cut inside it splits the report);
//  - it never holds more than the message limit for an unfinished message, and no piece is
//    longer than the limit;
//  - parsed frames are valid (id fits its format, length <= 8) and remote exactly for rtr;
//  - what is formatted from a parsed frame parses back to the same frame, and each formatted
//    message is one whole message for the splitter;
//  - error texts of malformed commands hold no '<' or '>' (they are echoed inside "< error >");
//  - the server session (the same stream as a client's) takes the same steps however the
//    stream is cut (stray text aside, as above); all it has written is whole, well-formed
//    server messages (ok, echo, error); it transmits valid frames only once a bus is open
//    (remote ones only after rtrmode) and nothing after it hung up.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "canbus/frame.h"
#include "canbus/socketcand_protocol.h"
#include "canbus/socketcand_server_session.h"
#include "fuzz_check.h"

namespace {

namespace sc = canbus::socketcand;
using Piece = sc::MessageSplitter::Piece;

// A piece as compared between cuttings: kind and, for messages, the text.
struct Seen {
  Piece::Kind kind;
  std::string text;
  bool operator==(const Seen&) const = default;
};

void take(sc::MessageSplitter& splitter, std::vector<Seen>& seen) {
  while (std::optional<Piece> piece = splitter.next()) {
    FUZZ_CHECK(piece->text.size() <= sc::kMaxMessageLength, "a piece longer than the limit");
    if (piece->kind == Piece::Kind::garbage) {
      FUZZ_CHECK(!piece->text.empty(), "empty garbage");
      if (!seen.empty() && seen.back().kind == Piece::Kind::garbage) continue;
      seen.push_back({piece->kind, {}});
    } else {
      seen.push_back({piece->kind, piece->kind == Piece::Kind::message ? piece->text : ""});
    }
  }
  FUZZ_CHECK(splitter.buffered() <= sc::kMaxMessageLength, "unbounded buffering");
}

std::vector<Seen> split(std::string_view stream, const std::vector<std::size_t>& cuts) {
  sc::MessageSplitter splitter;
  std::vector<Seen> seen;
  std::size_t at = 0;
  for (std::size_t i = 0; at < stream.size(); ++i) {
    const std::size_t length = cuts.empty() ? stream.size() : cuts[i % cuts.size()];
    const std::string_view chunk = stream.substr(at, length);
    splitter.feed(chunk);
    at += chunk.size();
    take(splitter, seen);
  }
  return seen;
}

// The body of a formatted "< ... >" message, checked to be exactly one whole message.
std::string bodyOf(const std::string& formatted) {
  sc::MessageSplitter splitter;
  splitter.feed(formatted);
  const std::optional<Piece> piece = splitter.next();
  FUZZ_CHECK(piece && piece->kind == Piece::Kind::message, "a formatted message does not split");
  FUZZ_CHECK(!splitter.next() && splitter.buffered() == 0, "a formatted message leaves bytes");
  return piece->text;
}

void checkServerSide(const sc::ServerMessage& message) {
  using K = sc::ServerMessage::Kind;
  if (message.kind != K::frame && message.kind != K::rtr) return;
  const canbus::Frame& frame = message.frame;
  FUZZ_CHECK(canbus::isValid(frame), "a server message decoded to an invalid frame");
  FUZZ_CHECK(frame.remote == (message.kind == K::rtr), "remote flag does not match the kind");
  const sc::Timestamp time{1700000000, 123456};
  const std::string again =
      frame.remote ? sc::formatRtr(frame, time) : sc::formatFrame(frame, time);
  const sc::ServerMessage back = sc::parseServerMessage(bodyOf(again));
  FUZZ_CHECK(back.kind == message.kind && back.frame == frame, "frame/rtr does not round-trip");
}

void checkClientSide(const sc::ClientCommand& command) {
  using K = sc::ClientCommand::Kind;
  if (command.kind == K::malformed) {
    FUZZ_CHECK(!command.text.empty(), "a malformed command without a reason");
    FUZZ_CHECK(command.text.find_first_of("<>") == std::string::npos, "'<' or '>' in a reason");
  }
  if (command.kind == K::open) {
    FUZZ_CHECK(!command.text.empty() && command.text.size() <= 64, "bus name length");
    FUZZ_CHECK(command.text.find_first_of("<> \t\r\n") == std::string::npos, "bus name chars");
  }
  if (command.kind != K::send && command.kind != K::sendRtr) return;
  const canbus::Frame& frame = command.frame;
  FUZZ_CHECK(canbus::isValid(frame), "a client command decoded to an invalid frame");
  FUZZ_CHECK(frame.remote == (command.kind == K::sendRtr), "remote flag does not match the kind");
  const std::string again = frame.remote ? sc::formatSendRtr(frame) : sc::formatSend(frame);
  const sc::ClientCommand back = sc::parseClientCommand(bodyOf(again));
  FUZZ_CHECK(back.kind == command.kind && back.frame == frame, "send/sendrtr does not round-trip");
}

// A valid frame made from input bytes goes through all four formats and back.
void checkEncoders(std::string_view bytes) {
  if (bytes.size() < 14) return;
  canbus::Frame frame;
  const auto byte = [&](std::size_t i) { return static_cast<uint8_t>(bytes[i]); };
  frame.extended = byte(0) & 1;
  frame.remote = byte(0) & 2;
  const uint32_t id = byte(1) | byte(2) << 8 | byte(3) << 16 | static_cast<uint32_t>(byte(4)) << 24;
  frame.id = id & (frame.extended ? canbus::kExtendedIdMask : canbus::kStandardIdMask);
  frame.length = byte(5) % (canbus::kMaxDataLength + 1);
  for (std::size_t i = 0; i < frame.length && !frame.remote; ++i) frame.data[i] = byte(6 + i);
  FUZZ_CHECK(canbus::isValid(frame), "the harness made an invalid frame");
  const sc::Timestamp time{static_cast<int64_t>(id & 0x7FFFFFFF), byte(13) * 3907u};
  if (frame.remote) {
    checkClientSide(sc::parseClientCommand(bodyOf(sc::formatSendRtr(frame))));
    const sc::ServerMessage relayed = sc::parseServerMessage(bodyOf(sc::formatRtr(frame, time)));
    FUZZ_CHECK(relayed.kind == sc::ServerMessage::Kind::rtr && relayed.frame == frame, "rtr");
  } else {
    const sc::ClientCommand sent = sc::parseClientCommand(bodyOf(sc::formatSend(frame)));
    FUZZ_CHECK(sent.kind == sc::ClientCommand::Kind::send && sent.frame == frame, "send");
    const sc::ServerMessage relayed = sc::parseServerMessage(bodyOf(sc::formatFrame(frame, time)));
    FUZZ_CHECK(relayed.kind == sc::ServerMessage::Kind::frame && relayed.frame == frame, "frame");
  }
}

// The steps a server session takes for the stream fed in the given cuts, as text.
std::vector<std::string> serve(std::string_view stream, const std::vector<std::size_t>& cuts) {
  using Step = sc::ServerSession::Step;
  sc::ServerSession session;
  std::vector<std::string> steps;
  bool hungUp = false;
  std::size_t at = 0;
  for (std::size_t i = 0; at < stream.size(); ++i) {
    const std::size_t length = cuts.empty() ? stream.size() : cuts[i % cuts.size()];
    const std::string_view chunk = stream.substr(at, length);
    at += chunk.size();
    session.feed(chunk);
    while (std::optional<Step> step = session.next()) {
      FUZZ_CHECK(!hungUp, "the session went on after it hung up");
      if (step->kind == Step::Kind::transmit) {
        FUZZ_CHECK(!session.bus().empty(), "a frame transmitted before a bus was open");
        FUZZ_CHECK(canbus::isValid(step->frame), "the session transmits an invalid frame");
        FUZZ_CHECK(!step->frame.remote || session.rtrMode(), "a remote frame without rtrmode");
        steps.push_back("transmit " + canbus::toCandump(step->frame));
        continue;
      }
      const sc::ServerMessage message = sc::parseServerMessage(bodyOf(step->text));
      FUZZ_CHECK(message.kind == sc::ServerMessage::Kind::ok ||
                     message.kind == sc::ServerMessage::Kind::echo ||
                     message.kind == sc::ServerMessage::Kind::error,
                 "the session answers something else than ok, echo or error");
      if (step->kind == Step::Kind::opened) {
        FUZZ_CHECK(!session.bus().empty(), "opened without a bus");
      }
      if (step->kind == Step::Kind::rawMode) FUZZ_CHECK(session.rawMode(), "raw mode not kept");
      if (step->kind == Step::Kind::hangUp) {
        hungUp = true;
        FUZZ_CHECK(session.over(), "hung up but not over");
      }
      // Stray text is answered as soon as it is seen: a run of it counts once.
      if (step->text == sc::formatError("text outside a message") && !steps.empty() &&
          steps.back() == step->text) {
        continue;
      }
      steps.push_back(step->text);
    }
    FUZZ_CHECK(session.over() || session.buffered() <= sc::kMaxMessageLength,
               "the session buffers too much");
  }
  return steps;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t cutCount = std::min<std::size_t>(static_cast<uint8_t>(input[0]), size - 1);
  std::vector<std::size_t> cuts;
  for (std::size_t i = 1; i <= cutCount; ++i) cuts.push_back(static_cast<uint8_t>(input[i]));
  const std::string_view stream = input.substr(1 + cutCount);

  const std::vector<Seen> whole = split(stream, {});
  std::vector<std::size_t> chunks;
  for (const std::size_t cut : cuts) chunks.push_back(cut);  // a 0 is an empty read
  bool anyData = false;
  for (const std::size_t cut : chunks) anyData = anyData || cut > 0;
  if (anyData)
    FUZZ_CHECK(split(stream, chunks) == whole, "pieces depend on where the stream is cut");
  FUZZ_CHECK(split(stream, {1}) == whole, "pieces differ when fed byte by byte");

  for (const Seen& seen : whole) {
    if (seen.kind != Piece::Kind::message) continue;
    FUZZ_CHECK(seen.text.find_first_of("<>") == std::string::npos, "'<' or '>' in a message");
    FUZZ_CHECK(seen.text.size() < sc::kMaxMessageLength, "a message past the limit");
    checkServerSide(sc::parseServerMessage(seen.text));
    checkClientSide(sc::parseClientCommand(seen.text));
  }
  checkEncoders(stream);

  const std::vector<std::string> served = serve(stream, {});
  if (anyData) FUZZ_CHECK(serve(stream, chunks) == served, "session steps depend on the cuts");
  FUZZ_CHECK(serve(stream, {1}) == served, "session steps differ when fed byte by byte");
  return 0;
}
