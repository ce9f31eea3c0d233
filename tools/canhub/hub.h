// The virtual CAN bus: a socketcand server on one TCP port. Clients open named buses; every
// frame that one client sends goes to every other raw-mode client of the same bus, never back
// to its sender. Remote frames go only to clients that opted in with "< rtrmode >".
// Single-threaded: one poll loop serves all clients; no client can block another.
#pragma once

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

namespace canhub {

struct HubOptions {
  std::string host = "127.0.0.1";
  uint16_t port = 29536;  // 0: any free port
  uint32_t bitrate = 0;   // 0: unpaced; else each frame takes its wire time at this rate
  std::size_t clientOutputLimit = 4 * 1024 * 1024;  // bytes queued for one client
  std::chrono::milliseconds rawModeHold{20};        // quiet time after raw mode's "< ok >"
  std::size_t pacedQueueLimit = 8192;               // frames waiting for the wire, per bus
  std::size_t maxClients = 256;
};

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

 private:
  struct PacedFrame {
    canbus::Frame frame;
    uint64_t sender;
    Clock::time_point queuedAt;
  };
  struct Bus {
    std::vector<uint64_t> members;
    std::deque<PacedFrame> paced;
    Clock::time_point busyUntil{};
  };

  void accept();
  void readFrom(ClientConnection& client);
  void handle(ClientConnection& client, const std::string& body);
  void reply(ClientConnection& client, std::string message);
  void transmit(ClientConnection& sender, const canbus::Frame& frame);
  void deliver(const std::string& busName, uint64_t sender, const canbus::Frame& frame);
  // Delivers paced frames whose wire time is over; returns the next completion, if any.
  std::optional<Clock::time_point> releasePaced(Clock::time_point now);
  void close(ClientConnection& client, const std::string& reason);
  void sweep();

  HubOptions options_;
  canbus::UniqueFd listener_;
  std::string address_;
  uint64_t nextId_ = 1;
  std::map<uint64_t, std::unique_ptr<ClientConnection>> clients_;
  std::map<std::string, Bus, std::less<>> buses_;
};

}  // namespace canhub
