#include "canbus/socketcand_channel.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

namespace canbus {
namespace {

using Clock = std::chrono::steady_clock;
using socketcand::ServerMessage;

constexpr std::size_t kReadChunk = 16 * 1024;
constexpr int kMaxReadsPerPump = 8;
// Reads during the handshake are as small as its messages.
constexpr int kHandshakeReads = 1;

std::string hostPort(const SocketcandUrl& url) {
  const bool v6 = url.host.find(':') != std::string::npos;
  return (v6 ? "[" + url.host + "]" : url.host) + ":" + std::to_string(url.port);
}

// Connects a non-blocking socket to one address within the deadline; 0 or an errno value.
int connectOne(const addrinfo& address, Clock::time_point deadline, UniqueFd& out) {
  UniqueFd fd(::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                       address.ai_protocol));
  if (!fd) return errno;
  if (::connect(fd.get(), address.ai_addr, address.ai_addrlen) != 0) {
    if (errno != EINPROGRESS) return errno;
    if (!waitForSocket(fd.get(), POLLOUT, deadline)) return ETIMEDOUT;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
    if (error != 0) return error;
  }
  const int one = 1;
  ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  out = std::move(fd);
  return 0;
}

// The handshake: one side of the conversation at a time, all within one deadline.
class Handshake {
 public:
  Handshake(StreamTransport& transport, socketcand::MessageSplitter& splitter, std::string where,
            Clock::time_point deadline)
      : transport_(transport),
        splitter_(splitter),
        where_(std::move(where)),
        deadline_(deadline) {}

  std::optional<Error> say(const std::string& text) {
    transport_.queue(text);
    const int error = transport_.flushUntil(deadline_);
    if (error == ETIMEDOUT) return timeout();
    if (error != 0) return failed(error);
    return std::nullopt;
  }

  // The next message from the server.
  std::variant<ServerMessage, Error> hear() {
    for (;;) {
      while (std::optional<socketcand::MessageSplitter::Piece> piece = splitter_.next()) {
        if (piece->kind == socketcand::MessageSplitter::Piece::Kind::message) {
          return socketcand::parseServerMessage(piece->text);
        }
        if (piece->kind == socketcand::MessageSplitter::Piece::Kind::tooLong) {
          return Error{ErrorKind::protocolError,
                       where_ + " sent an over-long message; it does not speak socketcand."};
        }
      }
      if (!transport_.waitReadable(deadline_)) return timeout();
      const StreamTransport::ReadResult read = transport_.read(
          kHandshakeReads, [this](std::string_view bytes) { splitter_.feed(bytes); });
      if (read.status == StreamTransport::ReadStatus::closed) {
        return Error{ErrorKind::connectionLost,
                     where_ + " closed the connection during the handshake."};
      }
      if (read.status == StreamTransport::ReadStatus::failed) return failed(read.error);
    }
  }

 private:
  Error timeout() const {
    return Error{ErrorKind::noSuchInterface,
                 where_ + " did not complete the socketcand handshake in time."};
  }
  Error failed(int error) const {
    return Error{
        ErrorKind::connectionLost,
        "Connection to " + where_ + " failed during the handshake: " + errnoText(error) + "."};
  }

  StreamTransport& transport_;
  socketcand::MessageSplitter& splitter_;
  std::string where_;
  Clock::time_point deadline_;
};

}  // namespace

SocketcandChannel::SocketcandChannel(SocketcandUrl url, UniqueFd fd)
    : url_(std::move(url)),
      transport_(std::move(fd), {kSocketcandSendBufferLimit, OutputQueue::Framing::stream,
                                 kReadChunk}) {}

std::string SocketcandChannel::where() const {
  return "socketcand server " + hostPort(url_) + " (bus " + url_.bus + ")";
}

std::variant<std::unique_ptr<SocketcandChannel>, Error> SocketcandChannel::open(
    const SocketcandUrl& url, std::chrono::milliseconds timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  const std::string server = "socketcand server " + hostPort(url);

  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* addresses = nullptr;
  const std::string port = std::to_string(url.port);
  const int gai = ::getaddrinfo(url.host.c_str(), port.c_str(), &hints, &addresses);
  if (gai != 0) {
    return Error{
        ErrorKind::noSuchInterface,
        "Host " + url.host + " of " + server + " cannot be resolved: " + ::gai_strerror(gai) + "."};
  }
  UniqueFd fd;
  int error = ENOENT;
  for (const addrinfo* address = addresses; address != nullptr && !fd; address = address->ai_next) {
    error = connectOne(*address, deadline, fd);
  }
  ::freeaddrinfo(addresses);
  if (!fd) {
    std::string message = "Cannot connect to " + server + ": " + errnoText(error);
    if (error == ECONNREFUSED) message += " (is canhub or socketcand running?)";
    return Error{ErrorKind::noSuchInterface, message + "."};
  }

  std::unique_ptr<SocketcandChannel> channel(new SocketcandChannel(url, std::move(fd)));
  Handshake handshake(channel->transport_, channel->splitter_, server, deadline);
  auto expect = [&](ServerMessage::Kind kind,
                    const char* what) -> std::variant<ServerMessage, Error> {
    std::variant<ServerMessage, Error> heard = handshake.hear();
    if (auto* message = std::get_if<ServerMessage>(&heard)) {
      if (message->kind != kind && message->kind != ServerMessage::Kind::error) {
        return Error{ErrorKind::protocolError, server + " answered something else than " + what +
                                                   "; it does not speak "
                                                   "socketcand."};
      }
    }
    return heard;
  };
  // One command of the handshake and the server's answer to it.
  auto ask = [&](const std::string& command, ServerMessage::Kind kind,
                 const char* what) -> std::variant<ServerMessage, Error> {
    if (auto e = handshake.say(command)) return std::move(*e);
    return expect(kind, what);
  };

  std::variant<ServerMessage, Error> heard = expect(ServerMessage::Kind::hi, "< hi >");
  if (auto* e = std::get_if<Error>(&heard)) return std::move(*e);
  if (std::get<ServerMessage>(heard).kind != ServerMessage::Kind::hi) {
    return Error{ErrorKind::protocolError, server + " did not greet with < hi >."};
  }

  heard = ask(socketcand::formatOpen(url.bus), ServerMessage::Kind::ok, "< ok > to < open >");
  if (auto* e = std::get_if<Error>(&heard)) return std::move(*e);
  if (const auto& m = std::get<ServerMessage>(heard); m.kind == ServerMessage::Kind::error) {
    return Error{ErrorKind::noSuchInterface,
                 server + " cannot open bus " + url.bus + ": " + m.text + "."};
  }

  // Remote frames (our extension): asked for before raw mode, so that the answer comes before
  // any frame. A server without the extension says "< error ... >" and carries none.
  heard = ask(socketcand::formatRtrMode(), ServerMessage::Kind::ok,
              "< ok > or < error > to < rtrmode >");
  if (auto* e = std::get_if<Error>(&heard)) return std::move(*e);
  channel->rtrMode_ = std::get<ServerMessage>(heard).kind == ServerMessage::Kind::ok;

  heard = ask(socketcand::formatRawMode(), ServerMessage::Kind::ok, "< ok > to < rawmode >");
  if (auto* e = std::get_if<Error>(&heard)) return std::move(*e);
  if (const auto& m = std::get<ServerMessage>(heard); m.kind == ServerMessage::Kind::error) {
    return Error{ErrorKind::protocolError,
                 server + " refused raw mode on bus " + url.bus + ": " + m.text + "."};
  }
  // Frames that came in the same read as the last "< ok >".
  channel->drainSplitter();
  return channel;
}

std::optional<Frame> SocketcandChannel::receive() {
  if (!down_) {
    flush();
    if (received_.empty()) {
      // The read that brought the frames just taken found the socket empty: this call ends the
      // caller's round of receive() without a read of its own that would only find nothing; the
      // next call reads again. Nothing waits unseen meanwhile: bytes that arrived since keep
      // the descriptor readable.
      if (socketEmptied_) {
        socketEmptied_ = false;
      } else {
        pump();
      }
    }
  }
  if (received_.empty()) return std::nullopt;
  const Frame frame = received_.front();
  received_.pop_front();
  return frame;
}

std::optional<Error> SocketcandChannel::send(const Frame& frame) {
  if (down_) return Error{ErrorKind::connectionLost, lostReason_};
  if (!isValid(frame)) {
    return Error{
        ErrorKind::sendFailed,
        "Frame " + toCandump(frame) + " is not a valid CAN frame; " + where() + " did not get it."};
  }
  if (frame.remote && !rtrMode_) {
    return Error{ErrorKind::notSupported,
                 where() + " carries no remote frames (it did not accept < rtrmode >)."};
  }
  const std::string text =
      frame.remote ? socketcand::formatSendRtr(frame) : socketcand::formatSend(frame);
  if (!transport_.queue(text)) {
    flush();
    if (down_) return Error{ErrorKind::connectionLost, lostReason_};
    if (!transport_.queue(text)) {
      return Error{ErrorKind::sendFailed,
                   where() + " does not take frames fast enough; its send buffer is full."};
    }
  }
  flush();
  if (down_) return Error{ErrorKind::connectionLost, lostReason_};
  return std::nullopt;
}

bool SocketcandChannel::pump() {
  if (down_) return false;
  const StreamTransport::ReadResult read = transport_.read(
      kMaxReadsPerPump, [this](std::string_view bytes) { splitter_.feed(bytes); });
  // Frames that came before a close or failure are delivered.
  drainSplitter();
  socketEmptied_ = read.status == StreamTransport::ReadStatus::drained && !received_.empty();
  if (read.status == StreamTransport::ReadStatus::closed) {
    lose("the server closed the connection");
  } else if (read.status == StreamTransport::ReadStatus::failed) {
    lose(errnoText(read.error));
  }
  return !down_;
}

void SocketcandChannel::drainSplitter() {
  while (std::optional<socketcand::MessageSplitter::Piece> piece = splitter_.next()) {
    if (piece->kind == socketcand::MessageSplitter::Piece::Kind::message) {
      handle(socketcand::parseServerMessage(piece->text));
    } else {
      ++garbage_;
    }
  }
}

void SocketcandChannel::handle(const socketcand::ServerMessage& message) {
  switch (message.kind) {
    case ServerMessage::Kind::frame:
    case ServerMessage::Kind::rtr:
      if (received_.size() >= kSocketcandReceiveQueueLimit) {
        received_.pop_front();
        ++dropped_;
      }
      received_.push_back(message.frame);
      break;
    case ServerMessage::Kind::error:
      ++serverErrors_;
      break;
    case ServerMessage::Kind::hi:
    case ServerMessage::Kind::ok:
    case ServerMessage::Kind::echo:
      break;
    case ServerMessage::Kind::unknown:
    case ServerMessage::Kind::malformed:
      ++garbage_;
      break;
  }
}

void SocketcandChannel::flush() {
  if (down_) return;
  if (const int error = transport_.flush(); error != 0) lose(errnoText(error));
}

void SocketcandChannel::lose(const std::string& why) {
  if (down_) return;
  down_ = true;
  lostReason_ = "Connection to " + where() + " was lost: " + why + ".";
  transport_.close();
}

}  // namespace canbus
