#include "tty_device.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

namespace serial_port {

std::variant<int, SystemError> openExclusive(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return SystemError{errno};
  // The lock turns away everybody who asks for it the same way, this process included. It is
  // taken first, so a refused open never touches the terminal's exclusive flag of the holder.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    // "Resource temporarily unavailable" would puzzle the reader of the message: the device is
    // busy, as it would be after a refused TIOCEXCL.
    const int error = errno == EWOULDBLOCK ? EBUSY : errno;
    ::close(fd);
    return SystemError{error};
  }
  // TIOCEXCL turns away later opens of the terminal by other users (a privileged process may
  // still open it). A file that is no terminal has no TIOCEXCL; the lock still applies.
  if (::ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY && errno != EINVAL) {
    const int error = errno;
    ::close(fd);  // also drops the lock
    return SystemError{error};
  }
  return fd;
}

void closeDevice(int fd) {
  ::ioctl(fd, TIOCNXCL);  // fails harmlessly on a device that is gone or no terminal
  ::close(fd);            // also drops the lock
}

std::optional<SystemError> discardQueues(int fd) {
  if (::tcflush(fd, TCIOFLUSH) != 0) return SystemError{errno};
  return std::nullopt;
}

WriteOutcome writeAll(int fd, const uint8_t* data, size_t size,
                      std::optional<std::chrono::milliseconds> timeout) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = timeout ? std::optional(Clock::now() + *timeout) : std::nullopt;
  WriteOutcome outcome;
  while (outcome.written < size) {
    const ssize_t n = ::write(fd, data + outcome.written, size - outcome.written);
    if (n > 0) {
      outcome.written += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      outcome.error = SystemError{errno};
      return outcome;
    }
    // The output queue is full: wait until it takes more, the device fails or time is up.
    int waitMs = -1;
    if (deadline) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
      if (left <= 0) return outcome;
      waitMs = static_cast<int>(std::min<long long>(left, INT_MAX));
    }
    pollfd entry{fd, POLLOUT, 0};
    const int ready = ::poll(&entry, 1, waitMs);
    if (ready < 0 && errno != EINTR) {
      outcome.error = SystemError{errno};
      return outcome;
    }
    if (ready <= 0) continue;  // interrupted or timed out: the deadline check above decides
    if (entry.revents & POLLNVAL) {
      outcome.error = SystemError{EBADF};
      return outcome;
    }
    // A hung-up device may still flag POLLOUT; the next write then reports its error.
    if ((entry.revents & (POLLERR | POLLHUP)) && !(entry.revents & POLLOUT)) {
      outcome.error = SystemError{EIO};
      return outcome;
    }
  }
  return outcome;
}

std::variant<ModemStatus, SystemError> readModemStatus(int fd) {
  int lines = 0;
  if (::ioctl(fd, TIOCMGET, &lines) != 0) {
    if (isWithoutModemLines(errno)) return ModemStatus{};
    return SystemError{errno};
  }
  return ModemStatus{(lines & TIOCM_CTS) != 0, (lines & TIOCM_DSR) != 0, (lines & TIOCM_RNG) != 0,
                     (lines & TIOCM_CAR) != 0};
}

}  // namespace serial_port
