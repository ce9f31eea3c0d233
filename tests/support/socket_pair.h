// Connected pairs of stream sockets for code that talks over a stream (the stream transport,
// the hub's clients): `ours` goes to the code under test, the test plays the other side on
// `peer`. SocketPair: both ends non-blocking, with whole writes and reads of what is there,
// never waiting. TcpPair: over TCP on the loopback interface, for what only TCP has.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "canbus/unique_fd.h"

namespace test_kit {

// Writes the bytes in one send(); the test fails when the socket takes fewer.
inline void sendAll(int fd, std::string_view bytes) {
  EXPECT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(bytes.size()));
}

// Everything the socket has now, without waiting. `closed`, when given, is set once the other
// side closed the connection (and stays as it was otherwise).
inline std::string readAvailable(int fd, bool* closed = nullptr) {
  std::string bytes;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n == 0 && closed != nullptr) *closed = true;
    if (n <= 0) return bytes;
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
}

struct SocketPair {
  SocketPair() {
    int fds[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds), 0);
    ours = canbus::UniqueFd(fds[0]);
    peer = canbus::UniqueFd(fds[1]);
  }
  void peerSays(std::string_view bytes) const { sendAll(peer.get(), bytes); }
  std::string peerReads(bool* closed = nullptr) const { return readAvailable(peer.get(), closed); }

  canbus::UniqueFd ours;
  canbus::UniqueFd peer;
};

// A TCP connection on the loopback interface (a socket pair carries no receive time stamps):
// the accepted end is non-blocking, the connecting end blocking.
struct TcpPair {
  TcpPair() {
    canbus::UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    EXPECT_EQ(::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), length), 0);
    EXPECT_EQ(::listen(listener.get(), 1), 0);
    ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &length);
    peer.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    EXPECT_EQ(::connect(peer.get(), reinterpret_cast<sockaddr*>(&address), length), 0);
    ours.reset(::accept4(listener.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
  }
  canbus::UniqueFd ours;
  canbus::UniqueFd peer;
};

}  // namespace test_kit
