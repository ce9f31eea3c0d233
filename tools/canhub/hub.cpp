#include "hub.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>

#include "canbus/wire_timing.h"

namespace canhub {
namespace {

namespace sc = canbus::socketcand;

constexpr std::size_t kKernelSendBuffer = 128 * 1024;
// The replay's frames come from no client: a sender id that no client has (they count from 1).
constexpr uint64_t kReplaySender = 0;
// Frames a replay plays in one round at most, so that clients are served between its bursts.
constexpr std::size_t kReplayBurst = 1024;
// How long before the end of a paced frame the hub stops sleeping and polls without sleeping.
// A timer sleep wakes some 10 to 50 us late (median 30 us on a small VM, timer slack at 1 ns),
// twice per request and answer, which costs a paced SDO round trip (472 us of wire time at
// 500 kbit/s) about 15 % of its rate. The price is CPU while paced frames are on the wire: at
// most this long per frame (a fifth of a core at most for a bus full of 8-byte frames at
// 500 kbit/s, a tenth at 250 kbit/s). The hub never spins without a paced frame due, so an
// idle or unpaced hub sleeps as before.
constexpr Clock::duration kPacedSpin = std::chrono::microseconds(50);
// How long an unpaced hub goes on polling without sleeping after a client sent a frame. The
// answer to a frame (an SDO response, the next request) usually follows within some 20 us;
// caught while the hub still polls, it is relayed without the wake-up of a sleeping process on
// an idle core (some 10 us on a small VM, a sixth of an SDO round trip through the hub). The
// price is CPU while frames flow: at most this long per frame received, nothing when the bus is
// quiet.
constexpr Clock::duration kUnpacedLinger = std::chrono::microseconds(30);

sc::Timestamp wallClock() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return sc::Timestamp{static_cast<int64_t>(now.tv_sec), static_cast<uint32_t>(now.tv_nsec / 1000)};
}

std::string describe(const sockaddr* address, socklen_t length) {
  char host[NI_MAXHOST];
  char port[NI_MAXSERV];
  if (::getnameinfo(address, length, host, sizeof host, port, sizeof port,
                    NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
    return "?";
  }
  const bool v6 = std::string_view(host).find(':') != std::string_view::npos;
  return (v6 ? "[" + std::string(host) + "]" : std::string(host)) + ":" + port;
}

timespec toTimespec(std::chrono::nanoseconds span) {
  if (span.count() < 0) span = std::chrono::nanoseconds(0);
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(span.count() / 1'000'000'000);
  ts.tv_nsec = static_cast<long>(span.count() % 1'000'000'000);
  return ts;
}

}  // namespace

Clock::time_point arrivalTime(std::optional<std::chrono::system_clock::time_point> arrived,
                              std::chrono::system_clock::time_point wallNow,
                              Clock::time_point steadyNow) {
  if (!arrived) return steadyNow;
  const auto age = wallNow - *arrived;
  if (age < std::chrono::system_clock::duration::zero() || age > kMaxArrivalAge) return steadyNow;
  return steadyNow - std::chrono::duration_cast<Clock::duration>(age);
}

Hub::Hub(HubOptions options) : options_(std::move(options)) {}

Hub::~Hub() = default;

std::optional<std::string> Hub::listen() {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* addresses = nullptr;
  const std::string port = std::to_string(options_.port);
  const int gai = ::getaddrinfo(options_.host.c_str(), port.c_str(), &hints, &addresses);
  if (gai != 0) return "cannot resolve " + options_.host + ": " + ::gai_strerror(gai);
  std::string error = "no address to listen on";
  for (const addrinfo* a = addresses; a != nullptr; a = a->ai_next) {
    canbus::UniqueFd fd(
        ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol));
    if (!fd) {
      error = canbus::errnoText(errno);
      continue;
    }
    const int one = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd.get(), a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd.get(), 64) != 0) {
      error = canbus::errnoText(errno);
      continue;
    }
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&bound), &length);
    address_ = describe(reinterpret_cast<sockaddr*>(&bound), length);
    listener_ = std::move(fd);
    break;
  }
  ::freeaddrinfo(addresses);
  if (!listener_) return "cannot listen on " + options_.host + ":" + port + ": " + error;
  return std::nullopt;
}

void Hub::run(int stopFd) {
  while (serveOnce(stopFd, std::nullopt)) {
  }
  flushRecording();
}

void Hub::record(std::unique_ptr<Recorder> recorder) { recorder_ = std::move(recorder); }

void Hub::replay(std::string bus, std::string name, std::unique_ptr<ReplayPlayer> player) {
  replay_ = Replay{std::move(bus), std::move(name), std::move(player)};
}

void Hub::flushRecording() {
  if (!recorder_) return;
  if (const std::optional<std::string> error = recorder_->flush()) {
    std::fprintf(stderr, "canhub: %s\n", error->c_str());
  }
}

std::optional<Clock::time_point> Hub::playReplay(Clock::time_point now) {
  if (!replay_ || !replay_->player->started()) return std::nullopt;
  ReplayPlayer& player = *replay_->player;
  for (std::size_t i = 0; i < kReplayBurst; ++i) {
    const std::optional<Clock::time_point> due = player.nextDue();
    if (!due || *due > now) break;
    if (options_.bitrate != 0) {
      // The wire is busy: the frame waits in the log until releasePaced() makes room.
      const auto bus = buses_.find(replay_->bus);
      if (bus != buses_.end() && bus->second.paced.size() >= options_.pacedQueueLimit) {
        return std::nullopt;
      }
    }
    enqueue(replay_->bus, kReplaySender, *player.takeDue(now), now);
  }
  if (player.finished()) {
    std::fprintf(stderr, "canhub: %s: replay done, %zu frames played into %s\n",
                 replay_->name.c_str(), player.played(), replay_->bus.c_str());
    replay_.reset();
    return std::nullopt;
  }
  return player.nextDue();
}

bool Hub::serveOnce(int stopFd, std::optional<Clock::duration> limit) {
  const Clock::time_point now = Clock::now();
  // The replay first: what it puts on a paced wire counts in releasePaced()'s next wake.
  const std::optional<Clock::time_point> replayDue = playReplay(now);
  std::optional<Clock::time_point> wake = releasePaced(now);
  const std::optional<Clock::time_point> pacedDue = wake;
  const auto wakeBy = [&wake](Clock::time_point when) {
    wake = wake ? std::min(*wake, when) : when;
  };
  if (replayDue) wakeBy(*replayDue);
  if (const std::optional<Clock::time_point> stalled = closeStalled(now)) wakeBy(*stalled);
  for (auto& [id, client] : clients_) {
    if (client->closing) continue;
    if (!client->flush(now)) close(*client, "write failed: " + client->closeReason);
    if (client->hasOutput() && client->held(now)) wakeBy(client->heldUntil());
  }
  sweep();
  // Whole lines reach the file before the loop waits: a stop finds nothing unwritten.
  flushRecording();
  if (limit) wakeBy(now + *limit);

  std::vector<pollfd>& fds = pollFds_;
  std::vector<uint64_t>& ids = pollIds_;
  fds.clear();
  ids.clear();
  fds.push_back(pollfd{stopFd, POLLIN, 0});
  fds.push_back(pollfd{listener_.get(), POLLIN, 0});
  for (const auto& [id, client] : clients_) {
    short events = POLLIN;
    if (client->hasOutput() && !client->held(now)) events |= POLLOUT;
    fds.push_back(pollfd{client->fd(), events, 0});
    ids.push_back(id);
  }
  // How long ppoll() may sleep: until the next timer, not at all while the hub lingers after a
  // frame, without end when there is neither.
  std::optional<Clock::duration> sleep;
  if (wake) {
    sleep = *wake - Clock::now();
    // The end of a paced frame is what the hub waits for: it sleeps until kPacedSpin before it
    // and then polls without sleeping (each round of this loop one ppoll() that returns at once)
    // until the frame is due, so that its timer's wake-up latency does not lengthen the frame.
    if (pacedDue && *wake == *pacedDue) {
      sleep = *sleep > kPacedSpin ? *sleep - kPacedSpin : Clock::duration::zero();
    }
  }
  if (now < lingerUntil_) sleep = Clock::duration::zero();
  timespec timeout{};
  if (sleep) timeout = toTimespec(*sleep);
  const int n = ::ppoll(fds.data(), fds.size(), sleep ? &timeout : nullptr, nullptr);
  if (n < 0) {
    if (errno == EINTR) return true;
    std::fprintf(stderr, "canhub: poll failed: %s\n", canbus::errnoText(errno).c_str());
    return false;
  }
  if (fds[0].revents != 0) return false;
  if (fds[1].revents & POLLIN) accept();
  for (std::size_t i = 2; i < fds.size(); ++i) {
    if (fds[i].revents == 0) continue;
    const auto it = clients_.find(ids[i - 2]);
    if (it == clients_.end() || it->second->closing) continue;
    ClientConnection& client = *it->second;
    if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) readFrom(client);
  }
  sweep();
  flushRecording();
  return true;
}

void Hub::accept() {
  for (;;) {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    canbus::UniqueFd fd(::accept4(listener_.get(), reinterpret_cast<sockaddr*>(&peer), &length,
                                  SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!fd) {
      if (errno == EINTR) continue;
      return;  // EAGAIN: no more waiting; other errors: try again on the next readiness
    }
    addClient(std::move(fd), describe(reinterpret_cast<sockaddr*>(&peer), length));
  }
}

bool Hub::addClient(canbus::UniqueFd fd, std::string peer) {
  if (clients_.size() >= options_.maxClients) return false;  // closes it: too many clients
  const int one = 1;
  ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  // A paced hub starts a frame's wire time when the kernel received it (see readFrom()).
  if (options_.bitrate != 0) ::setsockopt(fd.get(), SOL_SOCKET, SO_TIMESTAMPNS, &one, sizeof one);
  // Bound what the kernel buffers for a client, so that a client that stops reading meets
  // the hub's own output limit instead of megabytes of kernel buffer.
  const int sendBuffer = static_cast<int>(kKernelSendBuffer);
  ::setsockopt(fd.get(), SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
  const uint64_t id = nextId_++;
  auto client = std::make_unique<ClientConnection>(std::move(fd), id, std::move(peer),
                                                   options_.clientOutputLimit);
  const Clock::time_point now = Clock::now();
  client->openDeadline = now + options_.handshakeTimeout;
  // The greeting is a write of its own with nothing after it.
  client->queue(sc::ServerSession::greeting());
  client->flush(now);
  clients_.emplace(id, std::move(client));
  return true;
}

std::size_t Hub::largestClientFootprint() const {
  std::size_t largest = 0;
  for (const auto& [id, client] : clients_) largest = std::max(largest, client->footprint());
  return largest;
}

std::optional<Clock::time_point> Hub::closeStalled(Clock::time_point now) {
  std::optional<Clock::time_point> next;
  for (auto& [id, client] : clients_) {
    if (!client->session().bus().empty() || client->closing) continue;
    if (now >= client->openDeadline) {
      close(*client,
            "opened no bus within " + std::to_string(options_.handshakeTimeout.count()) + " ms");
    } else {
      next = next ? std::min(*next, client->openDeadline) : client->openDeadline;
    }
  }
  return next;
}

void Hub::readFrom(ClientConnection& client) {
  const canbus::StreamTransport::ReadResult read = client.read();
  // A paced frame's wire time starts when the frame reached the hub's socket, not when the
  // loop came round to read it (a wake-up later); for all frames of this read, the time of its
  // last bytes.
  const Clock::time_point arrived =
      arrivalTime(read.arrived, std::chrono::system_clock::now(), Clock::now());
  if (read.status == canbus::StreamTransport::ReadStatus::closed) {
    close(client, {});
    return;
  }
  if (read.status == canbus::StreamTransport::ReadStatus::failed) {
    close(client, "read failed: " + canbus::errnoText(read.error));
    return;
  }
  sc::ServerSession& session = client.session();
  while (!client.closing) {
    std::optional<sc::ServerSession::Step> step = session.next();
    if (!step) break;
    using Kind = sc::ServerSession::Step::Kind;
    switch (step->kind) {
      case Kind::answer: reply(client, std::move(step->text)); break;
      case Kind::opened:
        buses_[session.bus()].members.push_back(client.id());
        reply(client, std::move(step->text));
        break;
      case Kind::rawMode:
        reply(client, std::move(step->text));
        // python-can 4.1 reads this ok with one recv() and fails if a frame sticks to it: write
        // the ok now, then hold the traffic for this client a moment (queued, not dropped), or
        // until it sends.
        client.flush(Clock::now());
        client.holdUntil(Clock::now() + options_.rawModeHold);
        if (replay_ && session.bus() == replay_->bus) replay_->player->start(Clock::now());
        break;
      case Kind::transmit:
        // A client that sends has read the ok of its raw mode: the hold has done its work, and
        // what the bus carries reaches the client at once (a module's answer to this frame).
        client.holdUntil(Clock::time_point{});
        transmit(client, step->frame, arrived);
        break;
      case Kind::hangUp:
        client.sayLast(step->text);
        close(client, step->reason);
        break;
    }
  }
}

void Hub::reply(ClientConnection& client, std::string message) {
  if (!client.queue(std::move(message))) close(client, "output buffer overflow (client too slow)");
}

void Hub::transmit(ClientConnection& sender, const canbus::Frame& frame,
                   Clock::time_point arrived) {
  if (options_.bitrate == 0) lingerUntil_ = Clock::now() + kUnpacedLinger;
  if (!enqueue(sender.session().bus(), sender.id(), frame, arrived)) {
    reply(sender, sc::ServerSession::transmitRefused());
  }
}

bool Hub::enqueue(const std::string& busName, uint64_t sender, const canbus::Frame& frame,
                  Clock::time_point arrived) {
  if (options_.bitrate == 0) {
    deliver(busName, sender, frame);
    return true;
  }
  Bus& bus = buses_[busName];
  if (bus.paced.size() >= options_.pacedQueueLimit) return false;
  bus.paced.push_back(
      PacedFrame{frame, sender, arrived, canbus::wireTime(frame, options_.bitrate)});
  return true;
}

void Hub::deliver(const std::string& busName, uint64_t sender, const canbus::Frame& frame) {
  const sc::Timestamp time = wallClock();
  // Recorded whether or not anyone else listens: the frame was on the bus.
  if (recorder_) {
    recorder_->add(busName, frame,
                   std::chrono::microseconds(time.seconds * 1'000'000 + time.microseconds));
  }
  const auto bus = buses_.find(busName);
  if (bus == buses_.end()) return;
  std::string dataMessage;
  for (const uint64_t id : bus->second.members) {
    if (id == sender) continue;
    const auto it = clients_.find(id);
    if (it == clients_.end()) continue;
    ClientConnection& client = *it->second;
    // Standard clients never see remote frames.
    if (!client.session().receives(frame) || client.closing) continue;
    if (dataMessage.empty()) {
      // A separator before and after each frame message (python-can 4.1 skips one byte after
      // the last message it parsed).
      dataMessage =
          " " + (frame.remote ? sc::formatRtr(frame, time) : sc::formatFrame(frame, time)) + " ";
    }
    if (!client.queue(dataMessage)) close(client, "output buffer overflow (client too slow)");
  }
}

std::optional<Clock::time_point> Hub::releasePaced(Clock::time_point now) {
  std::optional<Clock::time_point> next;
  for (auto& [name, bus] : buses_) {
    while (!bus.paced.empty()) {
      const PacedFrame& front = bus.paced.front();
      const Clock::time_point start = std::max(bus.busyUntil, front.queuedAt);
      const Clock::time_point done = start + front.wireTime;
      if (done > now) {
        next = next ? std::min(*next, done) : done;
        break;
      }
      bus.busyUntil = done;
      const PacedFrame frame = front;
      bus.paced.pop_front();
      deliver(name, frame.sender, frame.frame);
    }
  }
  return next;
}

void Hub::close(ClientConnection& client, const std::string& reason) {
  if (client.closing) return;
  client.closing = true;
  client.closeReason = reason;
}

void Hub::sweep() {
  for (auto it = clients_.begin(); it != clients_.end();) {
    ClientConnection& client = *it->second;
    if (!client.closing) {
      ++it;
      continue;
    }
    if (!client.closeReason.empty()) {
      std::fprintf(stderr, "canhub: closed %s: %s\n", client.peer().c_str(),
                   client.closeReason.c_str());
    }
    if (const std::string& busName = client.session().bus(); !busName.empty()) {
      const auto bus = buses_.find(busName);
      if (bus != buses_.end()) std::erase(bus->second.members, client.id());
    }
    it = clients_.erase(it);
  }
  // Forget buses that nobody holds and that have nothing on the wire.
  std::erase_if(buses_, [](const auto& entry) {
    return entry.second.members.empty() && entry.second.paced.empty();
  });
}

}  // namespace canhub
