// The virtual CAN bus: a socketcand server on one TCP port. Clients open named buses; every
// frame that one client sends goes to every other raw-mode client of the same bus, never back
// to its sender. Remote frames go only to clients that opted in with "< rtrmode >".
// Single-threaded: one poll loop serves all clients; no client can block another.
#pragma once

#include <poll.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "canbus/frame.h"
#include "canbus/unique_fd.h"
#include "client_connection.h"
#include "recorder.h"
#include "replay_player.h"

namespace canhub {

struct HubOptions {
  std::string host = "127.0.0.1";
  uint16_t port = 29536;  // 0: any free port
  uint32_t bitrate = 0;   // 0: unpaced; else each frame takes its wire time at this rate
  std::size_t clientOutputLimit = 4 * 1024 * 1024;  // bytes queued for one client
  std::chrono::milliseconds rawModeHold{20};        // quiet time after raw mode's "< ok >"
  std::size_t pacedQueueLimit = 8192;               // frames waiting for the wire, per bus
  std::size_t maxClients = 256;
  // A client that has not opened a bus by then is closed, so that stalled handshakes cannot
  // hold the client places for good.
  std::chrono::milliseconds handshakeTimeout{5000};
};

// When bytes that the kernel received at `arrived` (wall clock, absent when the socket did not
// say) reached the hub, on the steady clock: the reading's age on the wall clock taken back from
// steadyNow. A stamp from the future or older than kMaxArrivalAge (the wall clock was set
// meanwhile, or the hub lagged that far) counts as arriving at steadyNow.
inline constexpr std::chrono::milliseconds kMaxArrivalAge{1};
Clock::time_point arrivalTime(std::optional<std::chrono::system_clock::time_point> arrived,
                              std::chrono::system_clock::time_point wallNow,
                              Clock::time_point steadyNow);

class Hub {
 public:
  explicit Hub(HubOptions options);
  ~Hub();
  Hub(const Hub&) = delete;
  Hub& operator=(const Hub&) = delete;

  // Binds and listens; an error text when that fails.
  std::optional<std::string> listen();
  // "HOST:PORT" with the port actually bound.
  const std::string& address() const { return address_; }
  // Serves clients until stopFd becomes readable (or fails).
  void run(int stopFd);

  // Records every frame put on a bus from now on (canhub --record).
  void record(std::unique_ptr<Recorder> recorder);
  // Plays a log into bus `bus`, as if a client had sent its frames, starting when a client of
  // that bus enters raw mode (so that the first frames find a listener). `name` (the file)
  // names the replay in the hub's messages.
  void replay(std::string bus, std::string name, std::unique_ptr<ReplayPlayer> player);

  // The pieces of run(), for driving the hub without a listening socket (tests, fuzzing):
  // takes a connected socket as a client (greeted at once); false when the hub is full.
  bool addClient(canbus::UniqueFd fd, std::string peer);
  // One round of the loop: writes what is due, waits for readiness at most `limit` (or until
  // the next timer when that is sooner; forever when both are absent), serves what is ready.
  // False when stopFd became readable or waiting failed. A negative stopFd is never ready.
  bool serveOnce(int stopFd, std::optional<Clock::duration> limit);
  std::size_t clientCount() const { return clients_.size(); }
  // The most bytes the hub holds for any one client.
  std::size_t largestClientFootprint() const;

 private:
  struct PacedFrame {
    canbus::Frame frame;
    uint64_t sender;
    Clock::time_point queuedAt;
    Clock::duration wireTime;  // reckoned once, when the frame is queued
  };
  struct Replay {
    std::string bus;
    std::string name;
    std::unique_ptr<ReplayPlayer> player;
  };
  struct Bus {
    std::vector<uint64_t> members;
    std::deque<PacedFrame> paced;
    Clock::time_point busyUntil{};
  };

  void accept();
  void readFrom(ClientConnection& client);
  void reply(ClientConnection& client, std::string message);
  // `arrived`: when the frame reached the hub (a paced frame's wire time starts then).
  void transmit(ClientConnection& sender, const canbus::Frame& frame, Clock::time_point arrived);
  // Puts a frame on a bus (paced or at once); false when the bus's wire queue is full.
  bool enqueue(const std::string& busName, uint64_t sender, const canbus::Frame& frame,
               Clock::time_point arrived);
  // Plays the replay's frames that are due; returns when it needs the loop again, if ever.
  std::optional<Clock::time_point> playReplay(Clock::time_point now);
  void flushRecording();
  void deliver(const std::string& busName, uint64_t sender, const canbus::Frame& frame);
  // Delivers paced frames whose wire time is over; returns the next completion, if any.
  std::optional<Clock::time_point> releasePaced(Clock::time_point now);
  void close(ClientConnection& client, const std::string& reason);
  void sweep();
  // Closes clients whose time to open a bus is over; returns the next such deadline, if any.
  std::optional<Clock::time_point> closeStalled(Clock::time_point now);

  HubOptions options_;
  canbus::UniqueFd listener_;
  std::string address_;
  uint64_t nextId_ = 1;
  std::map<uint64_t, std::unique_ptr<ClientConnection>> clients_;
  std::map<std::string, Bus, std::less<>> buses_;
  std::unique_ptr<Recorder> recorder_;
  std::optional<Replay> replay_;
  // An unpaced hub polls without sleeping until then (a client sent a frame just before).
  Clock::time_point lingerUntil_{};
  std::vector<pollfd> pollFds_;    // kept between rounds to spare allocations
  std::vector<uint64_t> pollIds_;  // pollIds_[i] is the client of pollFds_[i + 2]
};

}  // namespace canhub
