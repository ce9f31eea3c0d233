// The line settings of a serial device (bit rate, character format, flow control, DTR/RTS) and
// their application through the terminal interface (termios).
#pragma once

#include <termios.h>

#include <cstdint>
#include <optional>
#include <variant>

#include "system_error.h"

namespace serial_port {

enum class Parity : uint8_t { kNone, kOdd, kEven, kMark, kSpace };
enum class StopBits : uint8_t { kOne, kOneAndHalf, kTwo };

struct LineSettings {
  uint32_t baudRate = 9600;
  int dataBits = 8;  // 5 to 8
  Parity parity = Parity::kNone;
  StopBits stopBits = StopBits::kOne;
  bool parityCheck = false;  // check the parity of received characters
  bool rtsCtsFlow = false;   // hardware handshake: send only while CTS is on, RTS by the driver
  bool xonXoffOut = false;   // obey XON/XOFF from the peer
  bool xonXoffIn = false;    // send XON/XOFF as the input queue fills and empties
  uint8_t xonChar = 0x11;
  uint8_t xoffChar = 0x13;
  bool dtrOn = false;  // DTR level held while open
  bool rtsOn = false;  // RTS level held while open (without the hardware handshake)
};

// The terminal attributes for `settings`, starting from the device's `current` ones: raw mode,
// receiver on, modem status lines ignored, the character format, flow control and, for rates
// in the termios table, the rate (any other rate is set by number afterwards). Fails with
// EINVAL for settings the line cannot carry: data bits outside 5..8, bit rate 0, one and a half
// stop bits with more than 5 data bits.
std::variant<termios, SystemError> makeAttributes(const termios& current,
                                                  const LineSettings& settings);

// Applies makeAttributes to the device and sets DTR and RTS. A device that does not keep the
// character format or rate asked for refuses with EINVAL, except a pseudo-terminal: it has no
// line, passes bytes as they are and always reports 8 data bits without parity. A device
// without modem lines (pseudo-terminal) keeps its lines as they are; that is not a failure.
std::optional<SystemError> applyLineSettings(int fd, const LineSettings& settings);

}  // namespace serial_port
