// The rq730sim program's two inputs: its command line and the commands it reads from standard
// input, one a line. Both only parse and apply; the program does the I/O.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "rq730sim/simulator.h"

namespace rq730sim {

struct ProgramOptions {
  std::string channelUrl;
  Options simulator;
  bool help = false;
  bool version = false;
};

// Parses the arguments after the program name; an error text names the offending argument.
std::variant<ProgramOptions, std::string> parseArguments(std::span<const std::string_view> args);

std::string_view usageText();

struct CommandOutcome {
  std::string message;  // one line for the user; empty for none
  bool error = false;   // message is an error
  bool quit = false;
};

// Runs one line of standard input against the simulator.
CommandOutcome runCommand(Simulator& simulator, std::string_view line);

}  // namespace rq730sim
