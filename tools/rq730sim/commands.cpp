#include "rq730sim/commands.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>
#include <vector>

namespace rq730sim {
namespace {

// A load beyond this is a typing error, not a load.
constexpr double kMaxLoadKg = 1e6;

constexpr std::string_view kUsage =
    R"(usage: rq730sim --channel URL [options]

Simulates an RQ 730 weighing module (a CANopen slave) on a CAN channel.

options:
  --channel URL             socketcand://HOST:PORT/BUS, socketcan://IF or loopback://NAME
  --node-id N               node id 1..127 (default 1)
  --load KG                 constant gross load at start (default 0)
  --warmup-ms MS            warm-up after power-on and reset node (default 3000)
  --serial-number N         serial number, 0x1018 sub 4 (default 73012345)
  --division N              kg per division, 1..255 (default 1)
  --capacity N              capacity in kg (default 3000)
fault switches:
  --missing-object 0xIDX    the object does not exist (may be repeated)
  --tpdo-count N            only N transmit PDOs (0..4)
  --reject-pdo-config       refuse writes to the PDO parameter objects
  --no-bootup               send no boot-up message
  --sdo-delay-ms MS         answer each SDO request MS late
  --silent-sdo              never answer SDO requests
  -h, --help                this text
  --version                 the version

commands on standard input, one a line:
  load KG                   constant load
  steps KG1 KG2 ... MS      loads one after the other, each for MS, repeating
  ramp FROM TO SECONDS      load from FROM to TO within SECONDS, then stays
  noise KG                  add noise within +-KG (0 = off)
  emcy CODE REGISTER        send an emergency message, e.g. emcy 0x8110 0x11
  reboot                    power cycle (boot-up message, warm-up again)
  fault NAME [VALUE]        switch a fault on: missing-object 0xIDX, tpdo-count N,
                            reject-pdo-config, no-bootup, sdo-delay-ms MS, silent-sdo
                            (VALUE off switches a flag off)
  fault clear               all faults off
  status                    node state and weights
  quit                      end the program (so do SIGINT and SIGTERM)

examples:
  canhub & rq730sim --channel socketcand://127.0.0.1:29536/sim0 --load 250
  rq730sim --channel socketcan://vcan0 --node-id 5 --warmup-ms 0 --tpdo-count 3
)";

std::vector<std::string_view> words(std::string_view line) {
  std::vector<std::string_view> result;
  std::size_t pos = 0;
  while (pos < line.size()) {
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t' || line[pos] == '\r')) {
      ++pos;
    }
    std::size_t end = pos;
    while (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != '\r') ++end;
    if (end > pos) result.push_back(line.substr(pos, end - pos));
    pos = end;
  }
  return result;
}

// Unsigned integer, decimal or 0x-prefixed hexadecimal, within max.
std::optional<uint64_t> parseUnsigned(std::string_view text, uint64_t max) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  uint64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (error != std::errc() || end != text.data() + text.size() || text.empty() || value > max) {
    return std::nullopt;
  }
  return value;
}

std::optional<double> parseNumber(std::string_view text, double limit) {
  double value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty() ||
      !std::isfinite(value) || std::abs(value) > limit) {
    return std::nullopt;
  }
  return value;
}

std::string formatKg(double kg) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%g", kg);
  return buffer;
}

std::string_view stateName(NmtState state) {
  switch (state) {
    case NmtState::bootUp:
      return "initialising";
    case NmtState::stopped:
      return "stopped";
    case NmtState::operational:
      return "operational";
    case NmtState::preOperational:
      return "pre-operational";
  }
  return "unknown";
}

CommandOutcome failure(std::string message) { return {std::move(message), true, false}; }
CommandOutcome success(std::string message) { return {std::move(message), false, false}; }

// Applies one fault switch; nullopt when name or value is not understood.
std::optional<std::string> applyFault(Faults& faults, std::string_view name,
                                      std::optional<std::string_view> value) {
  auto flag = [&](bool& target) -> std::optional<std::string> {
    if (value && *value != "on" && *value != "off") return std::nullopt;
    target = !value || *value == "on";
    return std::string(name) + (target ? " on" : " off");
  };
  if (name == "reject-pdo-config") return flag(faults.rejectPdoConfig);
  if (name == "no-bootup") return flag(faults.noBootup);
  if (name == "silent-sdo") return flag(faults.silentSdo);
  if (!value) return std::nullopt;
  if (name == "missing-object") {
    if (*value == "off") {
      faults.missingObjects.clear();
      return "missing-object off";
    }
    auto index = parseUnsigned(*value, 0xFFFF);
    if (!index) return std::nullopt;
    faults.missingObjects.insert(static_cast<uint16_t>(*index));
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "missing-object 0x%04X", static_cast<unsigned>(*index));
    return buffer;
  }
  if (name == "tpdo-count") {
    auto count = parseUnsigned(*value, 4);
    if (!count) return std::nullopt;
    faults.tpdoCount = static_cast<int>(*count);
    return "tpdo-count " + std::to_string(*count);
  }
  if (name == "sdo-delay-ms") {
    auto delay = parseUnsigned(*value, 3600000);
    if (!delay) return std::nullopt;
    faults.sdoDelay = Milliseconds(*delay);
    return "sdo-delay-ms " + std::to_string(*delay);
  }
  return std::nullopt;
}

}  // namespace

std::string_view usageText() { return kUsage; }

std::variant<ProgramOptions, std::string> parseArguments(std::span<const std::string_view> args) {
  ProgramOptions result;
  Options& options = result.simulator;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    std::optional<std::string_view> inlineValue;
    if (auto equals = arg.find('='); arg.starts_with("--") && equals != std::string_view::npos) {
      inlineValue = arg.substr(equals + 1);
      arg = arg.substr(0, equals);
    }
    auto value = [&]() -> std::optional<std::string_view> {
      if (inlineValue) return inlineValue;
      if (i + 1 < args.size()) return args[++i];
      return std::nullopt;
    };
    auto bad = [&](std::string_view what) {
      return "invalid value for " + std::string(arg) + ": " + std::string(what);
    };
    auto flag = [&](bool& target) -> std::optional<std::string> {
      if (inlineValue) return std::string(arg) + " takes no value";
      target = true;
      return std::nullopt;
    };
    std::optional<std::string> error;

    if (arg == "-h" || arg == "--help") {
      result.help = true;
    } else if (arg == "--version") {
      result.version = true;
    } else if (arg == "--reject-pdo-config") {
      error = flag(options.faults.rejectPdoConfig);
    } else if (arg == "--no-bootup") {
      error = flag(options.faults.noBootup);
    } else if (arg == "--silent-sdo") {
      error = flag(options.faults.silentSdo);
    } else if (arg == "--channel" || arg == "--node-id" || arg == "--load" ||
               arg == "--warmup-ms" || arg == "--serial-number" || arg == "--division" ||
               arg == "--capacity" || arg == "--missing-object" || arg == "--tpdo-count" ||
               arg == "--sdo-delay-ms") {
      auto text = value();
      if (!text) return std::string(arg) + " needs a value";
      if (arg == "--channel") {
        if (text->empty()) error = bad("empty URL");
        result.channelUrl = std::string(*text);
      } else if (arg == "--node-id") {
        auto id = parseUnsigned(*text, 127);
        if (!id || *id == 0)
          error = bad(std::string(*text) + " (1..127)");
        else
          options.nodeId = static_cast<uint8_t>(*id);
      } else if (arg == "--load") {
        auto kg = parseNumber(*text, kMaxLoadKg);
        if (!kg)
          error = bad(std::string(*text) + " (a number of kg)");
        else
          options.loadKg = *kg;
      } else if (arg == "--warmup-ms" || arg == "--sdo-delay-ms") {
        auto ms = parseUnsigned(*text, 3600000);
        if (!ms)
          error = bad(std::string(*text) + " (milliseconds, 0..3600000)");
        else if (arg == "--warmup-ms")
          options.warmup = Milliseconds(*ms);
        else
          options.faults.sdoDelay = Milliseconds(*ms);
      } else if (arg == "--serial-number") {
        auto n = parseUnsigned(*text, 0xFFFFFFFF);
        if (!n)
          error = bad(std::string(*text) + " (0..4294967295)");
        else
          options.parameters.serialNumber = static_cast<uint32_t>(*n);
      } else if (arg == "--division") {
        auto n = parseUnsigned(*text, 255);
        if (!n || *n == 0)
          error = bad(std::string(*text) + " (1..255)");
        else
          options.parameters.division = static_cast<uint8_t>(*n);
      } else if (arg == "--capacity") {
        auto n = parseUnsigned(*text, 0xFFFF);
        if (!n)
          error = bad(std::string(*text) + " (0..65535)");
        else
          options.parameters.capacity = static_cast<uint16_t>(*n);
      } else if (arg == "--missing-object") {
        auto index = parseUnsigned(*text, 0xFFFF);
        if (!index)
          error = bad(std::string(*text) + " (an object index such as 0x3106)");
        else
          options.faults.missingObjects.insert(static_cast<uint16_t>(*index));
      } else if (arg == "--tpdo-count") {
        auto n = parseUnsigned(*text, 4);
        if (!n)
          error = bad(std::string(*text) + " (0..4)");
        else
          options.faults.tpdoCount = static_cast<int>(*n);
      }
    } else {
      return "unknown argument: " + std::string(args[i]);
    }
    if (error) return *error;
  }
  if (!result.help && !result.version && result.channelUrl.empty()) return std::string("--channel URL is required");
  return result;
}

CommandOutcome runCommand(Simulator& simulator, std::string_view line) {
  const std::vector<std::string_view> w = words(line);
  if (w.empty()) return {};
  const std::string_view command = w[0];
  const std::size_t argc = w.size() - 1;

  if (command == "quit" || command == "exit") {
    if (argc != 0) return failure("usage: quit");
    return {"", false, true};
  }
  if (command == "help")
    return success(std::string(usageText().substr(usageText().find("commands"))));
  if (command == "load") {
    auto kg = argc == 1 ? parseNumber(w[1], kMaxLoadKg) : std::nullopt;
    if (!kg) return failure("usage: load KG");
    simulator.setLoad(*kg);
    return success("load " + formatKg(*kg) + " kg");
  }
  if (command == "steps") {
    if (argc < 2) return failure("usage: steps KG1 KG2 ... PERIOD_MS");
    LoadProfile profile;
    profile.shape = LoadProfile::Shape::steps;
    profile.noiseKg = simulator.profile().noiseKg;
    for (std::size_t i = 1; i < argc; ++i) {
      auto kg = parseNumber(w[i], kMaxLoadKg);
      if (!kg) return failure("steps: not a load: " + std::string(w[i]));
      profile.stepsKg.push_back(*kg);
    }
    auto period = parseUnsigned(w[argc], 3600000);
    if (!period || *period == 0) return failure("steps: period must be 1..3600000 ms");
    profile.stepPeriod = Milliseconds(*period);
    simulator.setProfile(profile);
    return success("steps of " + std::to_string(*period) + " ms");
  }
  if (command == "ramp") {
    std::optional<double> from, to, seconds;
    if (argc == 3) {
      from = parseNumber(w[1], kMaxLoadKg);
      to = parseNumber(w[2], kMaxLoadKg);
      seconds = parseNumber(w[3], 86400);
    }
    if (!from || !to || !seconds || *seconds < 0) return failure("usage: ramp FROM TO SECONDS");
    LoadProfile profile;
    profile.shape = LoadProfile::Shape::ramp;
    profile.noiseKg = simulator.profile().noiseKg;
    profile.rampFromKg = *from;
    profile.rampToKg = *to;
    profile.rampDuration = Milliseconds(static_cast<int64_t>(std::llround(*seconds * 1000)));
    simulator.setProfile(profile);
    return success("ramp " + formatKg(*from) + " kg to " + formatKg(*to) + " kg");
  }
  if (command == "noise") {
    auto kg = argc == 1 ? parseNumber(w[1], kMaxLoadKg) : std::nullopt;
    if (!kg || *kg < 0) return failure("usage: noise AMPLITUDE_KG");
    simulator.setNoise(*kg);
    return success("noise " + formatKg(*kg) + " kg");
  }
  if (command == "emcy") {
    auto code = argc == 2 ? parseUnsigned(w[1], 0xFFFF) : std::nullopt;
    auto reg = argc == 2 ? parseUnsigned(w[2], 0xFF) : std::nullopt;
    if (!code || !reg) return failure("usage: emcy CODE REGISTER (e.g. emcy 0x8110 0x11)");
    if (!simulator.emcy(static_cast<uint16_t>(*code), static_cast<uint8_t>(*reg))) {
      return failure("emcy not sent: the node is " + std::string(stateName(simulator.nmtState())));
    }
    return success("emcy sent");
  }
  if (command == "reboot") {
    if (argc != 0) return failure("usage: reboot");
    simulator.reboot();
    return success("rebooting");
  }
  if (command == "fault") {
    if (argc == 1 && w[1] == "clear") {
      simulator.faults() = Faults{};
      return success("faults cleared");
    }
    if (argc < 1 || argc > 2) return failure("usage: fault NAME [VALUE] | fault clear");
    auto applied = applyFault(simulator.faults(), w[1],
                              argc == 2 ? std::optional<std::string_view>(w[2]) : std::nullopt);
    if (!applied) return failure("fault: unknown switch or bad value: " + std::string(line));
    return success("fault " + *applied);
  }
  if (command == "status") {
    char buffer[192];
    std::snprintf(buffer, sizeof buffer,
                  "node %u %s%s, gross %g kg, zero point %g kg, net %g kg, legal %d, zero %u",
                  simulator.options().nodeId, std::string(stateName(simulator.nmtState())).c_str(),
                  simulator.warmingUp() ? " (warming up)" : "", simulator.grossKg(),
                  simulator.zeroPointKg(), simulator.netKg(), simulator.legalWeight(),
                  simulator.zeroIndication());
    return success(buffer);
  }
  return failure("unknown command: " + std::string(command) + " (try help)");
}

}  // namespace rq730sim
