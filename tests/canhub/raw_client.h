// A bare TCP client for hub tests: what a socketcand client sends and receives, byte for byte.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>

namespace canhub::testing {

class RawClient {
 public:
  // Connects to 127.0.0.1:port; receiveBuffer > 0 shrinks SO_RCVBUF first (a slow client).
  explicit RawClient(uint16_t port, int receiveBuffer = 0) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receiveBuffer > 0) {
      ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~RawClient() {
    if (fd_ >= 0) ::close(fd_);
  }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool connected() const { return connected_; }

  bool send(const std::string& text) {
    return ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
  }

  // What one recv() returns within the time (empty on time-out or close; closed() tells).
  std::string readOnce(std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    pollfd entry{fd_, POLLIN, 0};
    if (::poll(&entry, 1, static_cast<int>(limit.count())) <= 0) return {};
    char buffer[4096];
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n <= 0) {
      closed_ = true;
      return {};
    }
    return std::string(buffer, static_cast<std::size_t>(n));
  }

  // Reads until `text` appeared (returns everything read) or the time is up or the peer closed.
  std::string readUntil(const std::string& text,
                        std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    std::string seen;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (seen.find(text) == std::string::npos && !closed_) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      seen += readOnce(left);
    }
    return seen;
  }

  // True once the hub closed the connection (reads until EOF within the time).
  bool closedWithin(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!closed_) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      readOnce(left);
    }
    return true;
  }

  // The standard socketcand opening: greeting, open BUS, raw mode.
  bool join(const std::string& bus) {
    return readOnce() == "< hi >" && send("< open " + bus + " >") && readOnce() == "< ok >" &&
           send("< rawmode >") && readOnce() == "< ok >";
  }

 private:
  int fd_ = -1;
  bool connected_ = false;
  bool closed_ = false;
};

}  // namespace canhub::testing
