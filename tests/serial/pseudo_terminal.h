// A pseudo-terminal pair for the serial port tests: the port component opens the slave path as
// its device; the test reads what was sent from the master side and inspects the slave's line
// settings through a descriptor of its own, opened before the component takes the device.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace serial_test {

class PseudoTerminal {
 public:
  PseudoTerminal() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
      throw std::runtime_error("no pseudo-terminal");
    }
    slavePath_ = ::ptsname(master_);
    slave_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave_ < 0) throw std::runtime_error("cannot open " + slavePath_);
  }
  ~PseudoTerminal() {
    closeMaster();
    if (slave_ >= 0) ::close(slave_);
  }
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  const std::string& slavePath() const { return slavePath_; }
  int slaveFd() const { return slave_; }

  termios slaveAttributes() const {
    termios attributes{};
    if (::tcgetattr(slave_, &attributes) != 0) throw std::runtime_error("tcgetattr failed");
    return attributes;
  }

  // The device "vanishes": writes to the slave fail from now on.
  void closeMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

  // Everything that arrives at the master side until `expected` bytes are there (or `wait` has
  // passed), plus whatever follows within a few ms, so extra bytes are seen too.
  std::vector<uint8_t> read(size_t expected,
                            std::chrono::milliseconds wait = std::chrono::seconds(1)) const {
    using namespace std::chrono;
    std::vector<uint8_t> bytes;
    const auto deadline = steady_clock::now() + wait;
    while (bytes.size() < expected && steady_clock::now() < deadline) {
      if (!readSome(bytes, 20)) continue;
    }
    while (readSome(bytes, 10)) {
    }
    return bytes;
  }

 private:
  bool readSome(std::vector<uint8_t>& bytes, int waitMs) const {
    pollfd entry{master_, POLLIN, 0};
    if (::poll(&entry, 1, waitMs) <= 0 || !(entry.revents & POLLIN)) return false;
    uint8_t buffer[4096];
    const ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (n <= 0) return false;
    bytes.insert(bytes.end(), buffer, buffer + n);
    return true;
  }

  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
};

}  // namespace serial_test
