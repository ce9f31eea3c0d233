#include "canbus/stream_transport.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace canbus {

using Clock = std::chrono::steady_clock;

bool waitForSocket(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd entry{fd, events, 0};
    const int n = ::poll(&entry, 1, left < 0 ? 0 : static_cast<int>(left));
    if (n > 0) return true;
    if (n == 0) return false;
    if (errno != EINTR) return false;
  }
}

StreamTransport::StreamTransport(UniqueFd fd, Options options)
    : fd_(std::move(fd)),
      options_(options),
      output_(options.sendLimit, options.framing) {
  options_.readChunk = std::clamp<std::size_t>(options_.readChunk, 1, kMaxReadChunk);
}

void StreamTransport::close() {
  fd_.reset();
  output_.clear();
}

int StreamTransport::flush() {
  while (!output_.empty() && fd_) {
    // The rest of the front message (or of the stream), in one call even where it wraps
    // around the ring.
    const std::array<std::string_view, 2> rest = output_.front();
    iovec pieces[2] = {{const_cast<char*>(rest[0].data()), rest[0].size()},
                       {const_cast<char*>(rest[1].data()), rest[1].size()}};
    msghdr message{};
    message.msg_iov = pieces;
    message.msg_iovlen = rest[1].empty() ? 1 : 2;
    const ssize_t n = ::sendmsg(fd_.get(), &message, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
      return errno;
    }
    output_.written(static_cast<std::size_t>(n));
    // The socket is full; the rest waits.
    if (static_cast<std::size_t>(n) < rest[0].size() + rest[1].size()) return 0;
  }
  return 0;
}

int StreamTransport::flushUntil(Clock::time_point deadline) {
  for (;;) {
    if (const int error = flush(); error != 0) return error;
    if (!hasOutput()) return 0;
    if (!waitForSocket(fd_.get(), POLLOUT, deadline)) return ETIMEDOUT;
  }
}

StreamTransport::ReadResult StreamTransport::read(
    int maxReads, const std::function<void(std::string_view)>& onBytes) {
  char buffer[kMaxReadChunk];
  // Room for the receive time stamp that a socket with SO_TIMESTAMPNS adds to a read.
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
  ReadResult result{ReadStatus::more};
  for (int i = 0; i < maxReads; ++i) {
    iovec piece{buffer, options_.readChunk};
    msghdr message{};
    message.msg_iov = &piece;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(fd_.get(), &message, MSG_DONTWAIT);
    if (n > 0) {
      for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS &&
            c->cmsg_len >= CMSG_LEN(sizeof(timespec))) {
          timespec stamp{};
          std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
          result.arrived = std::chrono::system_clock::time_point(
              std::chrono::duration_cast<std::chrono::system_clock::duration>(
                  std::chrono::seconds(stamp.tv_sec) + std::chrono::nanoseconds(stamp.tv_nsec)));
        }
      }
      onBytes(std::string_view(buffer, static_cast<std::size_t>(n)));
      if (static_cast<std::size_t>(n) < options_.readChunk) {
        result.status = ReadStatus::drained;
        return result;
      }
    } else if (n == 0) {
      result.status = ReadStatus::closed;
      return result;
    } else if (errno == EINTR) {
      continue;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      result.status = ReadStatus::drained;
      return result;
    } else {
      result.status = ReadStatus::failed;
      result.error = errno;
      return result;
    }
  }
  return result;
}

bool StreamTransport::waitReadable(Clock::time_point deadline) const {
  return waitForSocket(fd_.get(), POLLIN, deadline);
}

}  // namespace canbus
