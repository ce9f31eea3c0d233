#include "CommandLine.h"

#include <cstdio>
#include <string_view>

namespace {

constexpr const char* kHelp =
    "usage: RQ730Calib [--help | --version] [Qt options]\n"
    "  Shows the weight of one RQ 730 weighing module on a CANopen bus in large digits,\n"
    "  copies it to the clipboard, feeds the legal-for-trade display, sends every weight to\n"
    "  the chosen serial port as a telegram, and zeroes the module on request.\n"
    "  It tries the CAN interfaces of hardware codes 9 and then 8 at 500 kbit/s and waits for\n"
    "  exactly one module to boot.\n"
    "environment:\n"
    "  CANOPEN32_CHANNELS=CODE=URL[,...]  maps hardware codes to channels, e.g.\n"
    "                                     9=socketcand://127.0.0.1:29536/sim0 or 8=socketcan://can0\n"
    "  CANOPEN32_SDO_TIMEOUT_MS=N         SDO time-out per protocol step (default 1000)\n"
    "  CANOPEN32_TRACE=FILE               log every CAN frame in candump log format\n"
    "  QT_QPA_PLATFORM=offscreen          run without a display\n";

}  // namespace

std::optional<int> AnswerCommandLine(int argc, const char* const argv[]) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--help" || argument == "-h") {
      std::fputs(kHelp, stdout);
      return 0;
    }
    if (argument == "--version") {
      std::printf("RQ730Calib %s\n", RQ_VERSION);
      return 0;
    }
  }
  return std::nullopt;
}
