// This file sees only the kernel's own termios definitions: they clash with the C library's
// <termios.h>, so nothing else may be included here that pulls that in.
#include "custom_speed.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>

#include <cerrno>

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept;

namespace serial_port {

std::optional<SystemError> setCustomSpeed(int fd, uint32_t baudRate) {
  struct termios2 attributes {};
  if (ioctl(fd, TCGETS2, &attributes) != 0) return SystemError{errno};
  attributes.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  attributes.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  attributes.c_ospeed = baudRate;
  attributes.c_ispeed = baudRate;
  if (ioctl(fd, TCSETS2, &attributes) != 0) return SystemError{errno};
  return std::nullopt;
}

std::optional<uint32_t> outputSpeed(int fd) {
  struct termios2 attributes {};
  if (ioctl(fd, TCGETS2, &attributes) != 0) return std::nullopt;
  return attributes.c_ospeed;
}

}  // namespace serial_port
