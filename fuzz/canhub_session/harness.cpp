// The hub's session handling fed arbitrary byte streams from up to four clients, over socket
// pairs instead of TCP (Hub::addClient, Hub::serveOnce), in chunks the input chooses.
//
// Input: byte 0 picks the number of clients (1..4); then operations of two bytes, OP LEN,
// each followed by LEN bytes that client OP % clients sends, or, when (OP & 0x3C) == 0x3C,
// that client hangs up. A model of the protocol (what each client has opened and switched on,
// fed the same chunks) says what every client must receive after each operation:
//  - the sender gets exactly the answers to its commands, never a frame of its own;
//  - every other client gets exactly the frames sent, if it is in raw mode on the same bus
//    (remote frames only after rtrmode), and nothing else;
//  - all output is whole, well-formed socketcand messages, starting with "< hi >";
//  - a message past the length limit gets "< error message too long >" and the connection
//    closed; no other connection is closed by the hub;
//  - the hub holds no more than the output limit (plus one message) for any client.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "canbus/frame.h"
#include "canbus/socketcand_protocol.h"
#include "canbus/unique_fd.h"
#include "fuzz_check.h"
#include "hub.h"

namespace {

namespace sc = canbus::socketcand;
using Piece = sc::MessageSplitter::Piece;

constexpr std::size_t kOutputLimit = 64 * 1024;

// One client as the harness sees it: its end of the socket pair, what it received, and the
// model's view of its session.
struct Client {
  canbus::UniqueFd fd;
  sc::MessageSplitter received;  // what the hub wrote to it
  sc::MessageSplitter sent;      // what it wrote, split as the hub splits it
  std::string bus;
  bool rawMode = false;
  bool rtrMode = false;
  bool hungUp = false;                // the harness closed it
  bool mustClose = false;             // the hub has to close it (it sent a message past the limit)
  bool sawEnd = false;                // end of file came
  std::vector<std::string> expected;  // messages due in this round, as describe() gives them
};

std::string describe(const sc::ServerMessage& message) {
  using K = sc::ServerMessage::Kind;
  switch (message.kind) {
    case K::hi: return "hi";
    case K::ok: return "ok";
    case K::echo: return "echo";
    case K::error: return "error " + message.text;
    case K::frame: return "frame " + canbus::toCandump(message.frame);
    case K::rtr: return "rtr " + canbus::toCandump(message.frame);
    case K::unknown: return "unknown";
    case K::malformed: return "malformed";
  }
  return "?";
}

// Reads everything the hub wrote to the client and checks it against what was expected.
void collect(Client& client) {
  std::vector<std::string> got;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::recv(client.fd.get(), buffer, sizeof buffer, MSG_DONTWAIT);
    if (n == 0) client.sawEnd = true;
    if (n <= 0) break;
    client.received.feed(std::string_view(buffer, static_cast<std::size_t>(n)));
    while (std::optional<Piece> piece = client.received.next()) {
      FUZZ_CHECK(piece->kind == Piece::Kind::message, "the hub wrote something not a message");
      const sc::ServerMessage message = sc::parseServerMessage(piece->text);
      FUZZ_CHECK(message.kind != sc::ServerMessage::Kind::unknown &&
                     message.kind != sc::ServerMessage::Kind::malformed,
                 "the hub wrote a message a client cannot parse");
      if (message.kind == sc::ServerMessage::Kind::frame ||
          message.kind == sc::ServerMessage::Kind::rtr) {
        FUZZ_CHECK(canbus::isValid(message.frame), "the hub relayed an invalid frame");
      }
      got.push_back(describe(message));
    }
  }
  FUZZ_CHECK(client.received.buffered() == 0 || !client.sawEnd, "a message cut off at the end");
  FUZZ_CHECK(got.size() == client.expected.size(), "a client got more or fewer messages");
  for (std::size_t i = 0; i < got.size(); ++i) {
    const std::string& want = client.expected[i];
    // Error texts are the hub's; only that an error came is the model's.
    const bool same = want == "error" ? got[i].rfind("error", 0) == 0 : got[i] == want;
    if (!same) std::fprintf(stderr, "expected '%s', got '%s'\n", want.c_str(), got[i].c_str());
    FUZZ_CHECK(same, "a client got another message than the protocol says");
  }
  client.expected.clear();
}

// What the hub must do with one chunk that `sender` wrote: the answers it gets and the frames
// the others get.
void model(std::vector<Client>& clients, std::size_t sender, std::string_view chunk) {
  Client& from = clients[sender];
  from.sent.feed(chunk);
  using K = sc::ClientCommand::Kind;
  while (std::optional<Piece> piece = from.sent.next()) {
    if (piece->kind == Piece::Kind::tooLong) {
      from.expected.push_back("error message too long");
      from.mustClose = true;
      return;
    }
    if (piece->kind == Piece::Kind::garbage) {
      from.expected.push_back("error");
      continue;
    }
    const sc::ClientCommand command = sc::parseClientCommand(piece->text);
    switch (command.kind) {
      case K::open:
        if (!from.bus.empty()) {
          from.expected.push_back("error");
        } else {
          from.bus = command.text;
          from.expected.push_back("ok");
        }
        break;
      case K::rawmode:
        from.rawMode = from.rawMode || !from.bus.empty();
        from.expected.push_back(from.bus.empty() ? "error" : "ok");
        break;
      case K::rtrmode:
        from.rtrMode = true;
        from.expected.push_back("ok");
        break;
      case K::echo: from.expected.push_back("echo"); break;
      case K::send:
      case K::sendRtr:
        if (from.bus.empty() || (command.kind == K::sendRtr && !from.rtrMode)) {
          from.expected.push_back("error");
          break;
        }
        for (std::size_t i = 0; i < clients.size(); ++i) {
          Client& to = clients[i];
          if (i == sender || to.hungUp || to.mustClose || !to.rawMode || to.bus != from.bus)
            continue;
          if (command.frame.remote && !to.rtrMode) continue;
          to.expected.push_back((command.frame.remote ? "rtr " : "frame ") +
                                canbus::toCandump(command.frame));
        }
        break;
      case K::unknown:
      case K::malformed: from.expected.push_back("error"); break;
    }
  }
}

// Lets the hub read and write until it has nothing more to do, then checks every client.
void settle(canhub::Hub& hub, std::vector<Client>& clients) {
  for (int round = 0; round < 3; ++round) hub.serveOnce(-1, std::chrono::milliseconds(0));
  for (Client& client : clients) {
    if (!client.hungUp) collect(client);
  }
  FUZZ_CHECK(hub.largestClientFootprint() <= kOutputLimit + sc::kMaxMessageLength,
             "the hub holds more than the limit for a client");
  for (const Client& client : clients) {
    if (client.hungUp) continue;
    FUZZ_CHECK(client.sawEnd == client.mustClose, "a connection closed or kept against the rules");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  canhub::HubOptions options;
  options.port = 0;
  options.clientOutputLimit = kOutputLimit;
  options.rawModeHold = std::chrono::milliseconds(0);
  options.handshakeTimeout = std::chrono::hours(1);
  canhub::Hub hub(options);

  std::vector<Client> clients(1 + data[0] % 4);
  for (std::size_t i = 0; i < clients.size(); ++i) {
    int pair[2];
    FUZZ_CHECK(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) == 0,
               "socketpair");
    clients[i].fd = canbus::UniqueFd(pair[0]);
    FUZZ_CHECK(hub.addClient(canbus::UniqueFd(pair[1]), "client " + std::to_string(i)),
               "the hub refused a client below its limit");
    clients[i].expected.push_back("hi");
  }
  settle(hub, clients);

  std::size_t at = 1;
  while (at + 2 <= size) {
    const uint8_t op = data[at];
    const std::size_t length = std::min<std::size_t>(data[at + 1], size - at - 2);
    const std::string_view chunk(reinterpret_cast<const char*>(data) + at + 2, length);
    at += 2 + length;
    const std::size_t index = op % clients.size();
    Client& client = clients[index];
    if (client.hungUp || client.mustClose) continue;
    if ((op & 0x3C) == 0x3C) {
      client.fd.reset();
      client.hungUp = true;
    } else {
      FUZZ_CHECK(::send(client.fd.get(), chunk.data(), chunk.size(), MSG_NOSIGNAL) ==
                     static_cast<ssize_t>(chunk.size()),
                 "writing to the hub");
      model(clients, index, chunk);
    }
    settle(hub, clients);
  }
  return 0;
}
