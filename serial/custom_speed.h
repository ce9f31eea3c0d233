// Bit rates outside the fixed termios table (14400, 56000, 128000, ...), set through the Linux
// termios2 interface, which takes the rate as a number.
#pragma once

#include <cstdint>
#include <optional>

#include "system_error.h"

namespace serial_port {

// Sets input and output bit rate of the device to `baudRate` bit/s.
std::optional<SystemError> setCustomSpeed(int fd, uint32_t baudRate);

// The output bit rate the device reports, as a number, or nothing when it cannot be read.
std::optional<uint32_t> outputSpeed(int fd);

}  // namespace serial_port
