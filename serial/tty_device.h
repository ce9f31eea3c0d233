// The operations on an open serial device that the port component needs: exclusive opening,
// writing with a time-out on a non-blocking descriptor, discarding the queues, the modem status
// and closing.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "system_error.h"

namespace serial_port {

// Opens `path` for reading and writing, non-blocking, never as controlling terminal, and takes
// it exclusively: a second open of the same device, from this or any other process, fails with
// EBUSY while this descriptor is open.
std::variant<int, SystemError> openExclusive(const std::string& path);

// Gives up the exclusive use and closes the descriptor. The descriptor is gone afterwards in
// any case (Linux releases it even when close reports an error).
void closeDevice(int fd);

// Drops what waits in the output and the input queue.
std::optional<SystemError> discardQueues(int fd);

struct WriteOutcome {
  size_t written = 0;
  std::optional<SystemError> error;  // set when the device failed (it is gone, ...)
};

// Writes `size` bytes, continuing after partial writes, until all are written, the device fails
// or `timeout` (measured from the call) has elapsed; without a time-out it waits as long as it
// takes. A time-out is no error: `written` tells how far the write got.
WriteOutcome writeAll(int fd, const uint8_t* data, size_t size,
                      std::optional<std::chrono::milliseconds> timeout);

struct ModemStatus {
  bool cts = false;
  bool dsr = false;
  bool ring = false;
  bool rlsd = false;  // carrier detect
};

// The input lines of the device; all off for a device without modem lines.
std::variant<ModemStatus, SystemError> readModemStatus(int fd);

}  // namespace serial_port
