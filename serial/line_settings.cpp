#include "line_settings.h"

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>

#include <array>
#include <cerrno>
#include <utility>

#include "custom_speed.h"

namespace serial_port {
namespace {

// The rates that termios names with a constant of its own; every other rate goes through
// setCustomSpeed.
constexpr std::array<std::pair<uint32_t, speed_t>, 22> kStandardSpeeds{{
    {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},       {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
    {576000, B576000}, {921600, B921600},
}};

std::optional<speed_t> standardSpeed(uint32_t baudRate) {
  for (const auto& [rate, code] : kStandardSpeeds) {
    if (rate == baudRate) return code;
  }
  return std::nullopt;
}

tcflag_t characterSize(int dataBits) {
  switch (dataBits) {
    case 5:
      return CS5;
    case 6:
      return CS6;
    case 7:
      return CS7;
    default:
      return CS8;
  }
}

tcflag_t parityFlags(Parity parity) {
  switch (parity) {
    case Parity::kNone:
      return 0;
    case Parity::kOdd:
      return PARENB | PARODD;
    case Parity::kEven:
      return PARENB;
    case Parity::kMark:
      return PARENB | CMSPAR | PARODD;  // "odd" stick parity: always 1
    case Parity::kSpace:
      return PARENB | CMSPAR;  // "even" stick parity: always 0
  }
  return 0;
}

// The bits that decide the character format on the wire; the device must keep them.
constexpr tcflag_t kFormatBits = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;

// Unix98 pseudo-terminal slaves (/dev/pts/N) have the device majors 136 to 143.
bool isPseudoTerminal(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode)) return false;
  const unsigned int deviceMajor = major(info.st_rdev);
  return deviceMajor >= 136 && deviceMajor <= 143;
}

std::optional<SystemError> setModemLine(int fd, int line, bool on) {
  int bits = line;
  if (::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits) == 0) return std::nullopt;
  if (isWithoutModemLines(errno)) return std::nullopt;
  return SystemError{errno};
}

}  // namespace

std::variant<termios, SystemError> makeAttributes(const termios& current,
                                                  const LineSettings& settings) {
  if (settings.dataBits < 5 || settings.dataBits > 8 || settings.baudRate == 0) {
    return SystemError{EINVAL};
  }
  // A UART sends one and a half stop bits for 5-bit characters when asked for two; there is no
  // way to ask for them with longer characters.
  if (settings.stopBits == StopBits::kOneAndHalf && settings.dataBits != 5) {
    return SystemError{EINVAL};
  }

  termios attributes = current;
  ::cfmakeraw(&attributes);
  attributes.c_cflag &= ~(kFormatBits | CRTSCTS);
  attributes.c_cflag |=
      CLOCAL | CREAD | characterSize(settings.dataBits) | parityFlags(settings.parity);
  if (settings.stopBits != StopBits::kOne) attributes.c_cflag |= CSTOPB;
  if (settings.rtsCtsFlow) attributes.c_cflag |= CRTSCTS;

  // Parity is generated on transmit; received characters are checked only when asked for.
  attributes.c_iflag &= ~(INPCK | IGNPAR | PARMRK | IXON | IXOFF | IXANY);
  if (settings.parity != Parity::kNone && settings.parityCheck) attributes.c_iflag |= INPCK;
  if (settings.xonXoffOut) attributes.c_iflag |= IXON;
  if (settings.xonXoffIn) attributes.c_iflag |= IXOFF;
  attributes.c_cc[VSTART] = static_cast<cc_t>(settings.xonChar);
  attributes.c_cc[VSTOP] = static_cast<cc_t>(settings.xoffChar);
  attributes.c_cc[VMIN] = 0;
  attributes.c_cc[VTIME] = 0;

  // A rate outside the table is set by number once the rest is in place.
  const speed_t code = standardSpeed(settings.baudRate).value_or(B38400);
  if (::cfsetospeed(&attributes, code) != 0 || ::cfsetispeed(&attributes, code) != 0) {
    return SystemError{errno};
  }
  return attributes;
}

std::optional<SystemError> applyLineSettings(int fd, const LineSettings& settings) {
  termios current{};
  if (::tcgetattr(fd, &current) != 0) return SystemError{errno};
  const auto made = makeAttributes(current, settings);
  if (const auto* error = std::get_if<SystemError>(&made)) return *error;
  const termios& attributes = std::get<termios>(made);
  const std::optional<speed_t> speed = standardSpeed(settings.baudRate);
  const bool pseudoTerminal = isPseudoTerminal(fd);
  if (::tcsetattr(fd, TCSANOW, &attributes) != 0) {
    // The C library reports EINVAL when the device did not keep the character size; a
    // pseudo-terminal never does (it has no line) but took everything else.
    if (!(errno == EINVAL && pseudoTerminal)) return SystemError{errno};
  }
  if (!speed) {
    if (auto error = setCustomSpeed(fd, settings.baudRate)) return error;
  }

  // tcsetattr succeeds when any part of the request was taken; a device that dropped the
  // character format or the rate would put garbage on the line, so that counts as refused.
  termios applied{};
  if (::tcgetattr(fd, &applied) != 0) return SystemError{errno};
  if (!pseudoTerminal && (applied.c_cflag & kFormatBits) != (attributes.c_cflag & kFormatBits)) {
    return SystemError{EINVAL};
  }
  if (speed && ::cfgetospeed(&applied) != *speed) return SystemError{EINVAL};

  if (auto error = setModemLine(fd, TIOCM_DTR, settings.dtrOn)) return error;
  if (!settings.rtsCtsFlow) {
    if (auto error = setModemLine(fd, TIOCM_RTS, settings.rtsOn)) return error;
  }
  return std::nullopt;
}

}  // namespace serial_port
