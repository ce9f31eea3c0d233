#include "client_connection.h"

#include <sys/socket.h>
#include <sys/uio.h>

#include <cerrno>

namespace canhub {

ClientConnection::ClientConnection(canbus::UniqueFd fd, uint64_t id, std::string peer,
                                   std::size_t outputLimit)
    : fd_(std::move(fd)), id_(id), peer_(std::move(peer)), output_(outputLimit) {}

bool ClientConnection::flush(Clock::time_point now) {
  if (held(now)) return true;
  while (!output_.empty()) {
    // The rest of one message, in one call even where it wraps around the ring.
    const std::array<std::string_view, 2> rest = output_.front();
    iovec pieces[2] = {{const_cast<char*>(rest[0].data()), rest[0].size()},
                       {const_cast<char*>(rest[1].data()), rest[1].size()}};
    msghdr message{};
    message.msg_iov = pieces;
    message.msg_iovlen = rest[1].empty() ? 1 : 2;
    const ssize_t n = ::sendmsg(fd_.get(), &message, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return true;
      closeReason = canbus::errnoText(errno);
      return false;
    }
    output_.written(static_cast<std::size_t>(n));
    // The socket is full; the rest waits.
    if (static_cast<std::size_t>(n) < rest[0].size() + rest[1].size()) return true;
  }
  return true;
}

void ClientConnection::sayLast(const std::string& message) {
  // After what is queued (the answers to the client's earlier commands), despite a hold; what
  // the socket does not take now is lost with the connection.
  heldUntil_ = {};
  if (queue(message)) flush(Clock::now());
  char buffer[4096];
  for (int i = 0; i < 64 && ::recv(fd_.get(), buffer, sizeof buffer, MSG_DONTWAIT) > 0; ++i) {
  }
}

}  // namespace canhub
