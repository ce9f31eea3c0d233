#include "client_connection.h"

#include <sys/socket.h>

#include <cerrno>

namespace canhub {

ClientConnection::ClientConnection(canbus::UniqueFd fd, uint64_t id, std::string peer,
                                   std::size_t outputLimit)
    : fd_(std::move(fd)), id_(id), peer_(std::move(peer)), outputLimit_(outputLimit) {}

bool ClientConnection::queue(std::string message) {
  if (outputBytes_ + message.size() > outputLimit_) return false;
  outputBytes_ += message.size();
  output_.push_back(std::move(message));
  return true;
}

bool ClientConnection::flush(Clock::time_point now) {
  if (held(now)) return true;
  while (!output_.empty()) {
    const std::string& message = output_.front();
    const ssize_t n = ::send(fd_.get(), message.data() + frontWritten_,
                             message.size() - frontWritten_, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return true;
      closeReason = canbus::errnoText(errno);
      return false;
    }
    frontWritten_ += static_cast<std::size_t>(n);
    if (frontWritten_ < message.size()) return true;  // the socket is full; the rest waits
    outputBytes_ -= message.size();
    frontWritten_ = 0;
    output_.pop_front();
  }
  return true;
}

void ClientConnection::sayLast(const std::string& message) {
  if (frontWritten_ > 0) return;  // a message is half written; another one cannot go between
  ::send(fd_.get(), message.data(), message.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  char buffer[4096];
  for (int i = 0; i < 64 && ::recv(fd_.get(), buffer, sizeof buffer, MSG_DONTWAIT) > 0; ++i) {
  }
}

}  // namespace canhub
