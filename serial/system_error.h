// An operating-system error number (errno) carried as a value.
#pragma once

#include <cerrno>

namespace serial_port {

struct SystemError {
  int number = 0;
};

// True for the errors a device reports once it is gone (USB adapter unplugged, other end of a
// pseudo-terminal closed): nothing more can be written to it, and nothing is left to discard.
inline bool isDeviceGone(int number) {
  return number == EIO || number == ENXIO || number == ENODEV;
}

// True for the errors of a device without modem control lines (a pseudo-terminal, a USB
// adapter without DTR/RTS): asking for those lines is meaningless there, not a failure.
inline bool isWithoutModemLines(int number) { return number == ENOTTY || number == EINVAL; }

}  // namespace serial_port
