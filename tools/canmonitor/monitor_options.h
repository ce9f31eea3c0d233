// Command line of canmonitor: the interface and bit rate to start with, and what to do
// unattended once the window is up (reset the network, and per booted node switch heartbeat on,
// receive transmit PDOs, start the node).
#pragma once

#include <QStringList>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "CANopenTypes.h"

namespace can_monitor {

struct HardwareKind {
  TCANopenHardware hardware;
  const char* option;  // the name on the command line
  const char* label;   // the name in the window
};

// Every interface kind of the master, auto search first.
const std::vector<HardwareKind>& hardwareKinds();
// The bit rates of the master with their value in bit/s, slowest first.
const std::vector<std::pair<TCANopenBitrate, uint32_t>>& bitrates();

struct Options {
  TCANopenHardware hardware = haAutoSearch;
  TCANopenBitrate bitrate = br500kBit;
  bool extendedId = false;
  bool reset = false;  // Reset once the window is shown
  // Once node `node` has booted: heartbeat supervision with `time` ms (and the node's producer
  // time set to half of it), reception of its transmit PDOs, NMT start.
  struct Heartbeat {
    uint8_t node;
    uint16_t time;
  };
  std::vector<Heartbeat> heartbeats;
  struct Receive {
    uint8_t node;
    uint8_t num;
  };
  std::vector<Receive> receives;
  std::vector<uint8_t> starts;
};

constexpr const char* kUsage =
    "usage: canmonitor [--hardware KIND] [--bitrate BPS] [--extended] [--reset]\n"
    "                  [--heartbeat NODE:MS] [--receive NODE:NUM] [--start NODE]\n"
    "  --hardware KIND     auto (default), peak, tovald, virtual1, virtual2, cancardx1-1,\n"
    "                      cancardx1-2, cancardx2-1, cancardx2-2, canpari1-1\n"
    "  --bitrate BPS       10000 .. 1000000 (default 500000)\n"
    "  --extended          29-bit identifiers\n"
    "  --reset             reset the network at start\n"
    "  --heartbeat NODE:MS once NODE booted: supervise its heartbeat (MS) and have it send\n"
    "                      one every MS/2\n"
    "  --receive NODE:NUM  once NODE booted: receive its transmit PDO NUM (1..4)\n"
    "  --start NODE        once NODE booted: NMT start (after the two above)\n"
    "  -h, --help          this text\n"
    "  --version           the version\n"
    "the last three may be repeated; numbers may be decimal or 0x hexadecimal.\n";

// The options, or the text of what is wrong with the arguments (without the program name).
std::variant<Options, std::string> parseOptions(const QStringList& arguments);

}  // namespace can_monitor
