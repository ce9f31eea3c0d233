// cotool: CANopen diagnostics on the command line through libcanopen32 (drivers/canopen.h).
//
//   cotool --channel socketcand://127.0.0.1:29536/sim0 read 1 0x1008 0 text
//   cotool --hw 8 nmt 0 reset
//
// Exit codes: 0 done, 1 the operation failed (the library's text says why), 2 bad usage.
#include <signal.h>
#include <time.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cia301/cob_id.h"
#include "cia301/objects.h"
#include "drivers/canopen.h"

namespace {

constexpr const char* kUsage =
    "usage: cotool (--channel URL | --hw CODE) [--bitrate BPS] COMMAND ...\n"
    "       cotool --help | --version\n"
    "commands:\n"
    "  nmt NODE start|stop|preop|reset|resetcomm   NMT command (NODE 0 = all nodes)\n"
    "  read NODE INDEX SUB TYPE                    SDO upload; TYPE u8, u16, u32 or text\n"
    "  write NODE INDEX SUB TYPE VALUE             SDO download; TYPE u8, u16 or u32\n"
    "  scan [SECONDS]                              reset all nodes, list the nodes that boot\n"
    "                                              within SECONDS (default 2) with their names\n"
    "  listen [SECONDS]                            print boot-ups, EMCY and heartbeat changes\n"
    "                                              (default: until Ctrl-C)\n"
    "options:\n"
    "  --channel URL   socketcan://can0, socketcand://HOST:PORT/BUS or loopback://NAME\n"
    "  --hw CODE       a hardware code 1..9 as configured for the library (CANOPEN32_CHANNELS)\n"
    "  --bitrate BPS   bit rate (default 500000)\n"
    "numbers may be decimal or hex (0x...); INDEX and SUB are usually written in hex.\n"
    "examples:\n"
    "  cotool --channel socketcand://127.0.0.1:29536/sim0 read 1 0x1008 0 text\n"
    "  cotool --channel socketcan://can0 read 1 0x1018 4 u32\n"
    "  cotool --hw 8 write 1 0x1017 0 u16 500\n"
    "  cotool --channel socketcan://can0 nmt 0 start\n"
    "  cotool --channel socketcan://can0 scan\n"
    "  cotool --channel socketcan://can0 listen 10\n";

// What the callbacks saw; the library calls them only from kcoLoop, on this thread.
struct Seen {
  bool sdoDone = false;
  uint8_t sdoNode = 0;
  uint16_t sdoCode = 0;
  std::vector<uint8_t> booted;
  bool listening = false;
} seen;

volatile sig_atomic_t stopRequested = 0;
extern "C" void onSignal(int) { stopRequested = 1; }

void onSdoDone(uint8_t node, uint16_t code) {
  seen.sdoDone = true;
  seen.sdoNode = node;
  seen.sdoCode = code;
}
void onPdo(uint8_t, uint8_t) {}
void onNodeguard(uint8_t, uint16_t, uint16_t) {}

const char* nmtName(uint16_t nmt) {
  switch (nmt) {
    case KCO_HEARTBEAT_NMT_OPERATIONAL: return "operational";
    case KCO_HEARTBEAT_NMT_STOPPED: return "stopped";
    case KCO_HEARTBEAT_NMT_PREOPERATIONAL: return "pre-operational";
    default: return "unknown state";
  }
}

void onHeartbeat(uint8_t node, uint16_t state, uint16_t nmt) {
  if (!seen.listening || state == KCO_HEARTBEAT_WAITING) return;
  if (state == KCO_HEARTBEAT_RUNNING) {
    std::printf("heartbeat node %u: %s\n", node, nmtName(nmt));
  } else {
    std::printf("heartbeat node %u: missing\n", node);
  }
  std::fflush(stdout);
}
void onEmcy(uint8_t node, uint8_t errorRegister) {
  if (!seen.listening) return;
  std::printf("EMCY node %u: error register 0x%02X\n", node, errorRegister);
  std::fflush(stdout);
}
void onBoot(uint8_t node) {
  seen.booted.push_back(node);
  if (!seen.listening) return;
  std::printf("boot-up node %u\n", node);
  std::fflush(stdout);
}

std::optional<uint32_t> number(std::string_view text, uint32_t max) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  uint32_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value > max) {
    return std::nullopt;
  }
  return value;
}

int usage(const char* problem) {
  std::fprintf(stderr, "cotool: %s\nTry 'cotool --help'.\n", problem);
  return 2;
}

int failed(const std::string& what, uint16_t code) {
  std::fprintf(stderr, "cotool: %s failed: %s (code 0x%04X)\n", what.c_str(), kcoGetText(code),
               code);
  return 1;
}

void sleepMs(long ms) {
  const timespec pause{0, ms * 1000000L};
  nanosleep(&pause, nullptr);
}

// Runs the library for a while (the frames queued so far go out, reports come in).
void runFor(long ms) {
  for (long i = 0; i < ms && !stopRequested; ++i) {
    kcoLoop();
    sleepMs(1);
  }
}

// Runs the library until the SDO transfer completes; the library's own time-out ends every
// transfer, so this always returns.
uint16_t waitSdo() {
  while (!seen.sdoDone) {
    kcoLoop();
    if (!seen.sdoDone) sleepMs(1);
  }
  seen.sdoDone = false;
  return seen.sdoCode;
}

std::optional<uint16_t> typeCode(std::string_view type) {
  if (type == "u8") return KCO_TYPE_U8;
  if (type == "u16") return KCO_TYPE_U16;
  if (type == "u32") return KCO_TYPE_U32;
  if (type == "text") return KCO_TYPE_TEXT;
  return std::nullopt;
}

int commandNmt(const std::vector<std::string>& args, bool run) {
  if (args.size() != 2) return usage("nmt takes NODE and a command");
  const auto node = number(args[0], cia301::kLastNodeId);  // 0: all nodes
  if (!node) return usage("NODE must be 0..127");
  const std::string_view name = args[1];
  uint16_t command = 0;
  if (name == "start")
    command = KCO_NMT_START;
  else if (name == "stop")
    command = KCO_NMT_STOP;
  else if (name == "preop")
    command = KCO_NMT_PREOPERATIONAL;
  else if (name == "reset")
    command = KCO_NMT_RESET_NODE;
  else if (name == "resetcomm")
    command = KCO_NMT_RESET_COMMUNICATION;
  else
    return usage("NMT command must be start, stop, preop, reset or resetcomm");
  if (!run) return 0;
  const uint16_t code = kcoNMT(static_cast<uint8_t>(*node), command);
  if (code != KCO_NMT_OK) return failed("nmt " + args[0] + " " + args[1], code);
  runFor(20);
  return 0;
}

struct Address {
  uint8_t node;
  uint16_t index;
  uint8_t subindex;
  uint16_t type;
};

std::optional<Address> address(const std::vector<std::string>& args, bool forWrite) {
  const auto node = number(args[0], cia301::kLastNodeId);
  const auto index = number(args[1], 0xFFFF);
  const auto subindex = number(args[2], 0xFF);
  const auto type = typeCode(args[3]);
  if (!node || !cia301::isNodeId(*node) || !index || !subindex || !type) return std::nullopt;
  if (forWrite && *type == KCO_TYPE_TEXT) return std::nullopt;
  return Address{static_cast<uint8_t>(*node), static_cast<uint16_t>(*index),
                 static_cast<uint8_t>(*subindex), *type};
}

int commandRead(const std::vector<std::string>& args, bool run) {
  if (args.size() != 4) return usage("read takes NODE INDEX SUB TYPE");
  const auto at = address(args, false);
  if (!at) return usage("read: NODE 1..127, INDEX 0..0xFFFF, SUB 0..0xFF, TYPE u8/u16/u32/text");
  if (!run) return 0;
  const std::string what = "read " + args[0] + " " + args[1] + " " + args[2] + " " + args[3];
  uint8_t u8 = 0;
  uint16_t u16 = 0;
  uint32_t u32 = 0;
  const char* text = nullptr;
  void* data = at->type == KCO_TYPE_U8    ? static_cast<void*>(&u8)
               : at->type == KCO_TYPE_U16 ? static_cast<void*>(&u16)
               : at->type == KCO_TYPE_U32 ? static_cast<void*>(&u32)
                                          : static_cast<void*>(&text);
  const uint16_t accepted =
      kcoSDO(at->node, at->index, at->subindex, KCO_SDO_UPLOAD, at->type, data);
  if (accepted != KCO_SDO_ACCEPTED) return failed(what, accepted);
  const uint16_t code = waitSdo();
  if (code != KCO_SDO_DONE) return failed(what, code);
  switch (at->type) {
    case KCO_TYPE_U8: std::printf("%u (0x%02X)\n", u8, u8); break;
    case KCO_TYPE_U16: std::printf("%u (0x%04X)\n", u16, u16); break;
    case KCO_TYPE_U32: std::printf("%u (0x%08X)\n", u32, u32); break;
    default: std::printf("%s\n", text ? text : ""); break;
  }
  return 0;
}

int commandWrite(const std::vector<std::string>& args, bool run) {
  if (args.size() != 5) return usage("write takes NODE INDEX SUB TYPE VALUE");
  const auto at = address(args, true);
  if (!at) return usage("write: NODE 1..127, INDEX 0..0xFFFF, SUB 0..0xFF, TYPE u8/u16/u32");
  const uint32_t max = at->type == KCO_TYPE_U8    ? 0xFF
                       : at->type == KCO_TYPE_U16 ? 0xFFFF
                                                  : 0xFFFFFFFF;
  const auto value = number(args[4], max);
  if (!value) return usage("write: VALUE does not fit the type");
  if (!run) return 0;
  const std::string what = "write " + args[0] + " " + args[1] + " " + args[2] + " " + args[3];
  uint8_t u8 = static_cast<uint8_t>(*value);
  uint16_t u16 = static_cast<uint16_t>(*value);
  uint32_t u32 = *value;
  void* data = at->type == KCO_TYPE_U8    ? static_cast<void*>(&u8)
               : at->type == KCO_TYPE_U16 ? static_cast<void*>(&u16)
                                          : static_cast<void*>(&u32);
  const uint16_t accepted =
      kcoSDO(at->node, at->index, at->subindex, KCO_SDO_DOWNLOAD, at->type, data);
  if (accepted != KCO_SDO_ACCEPTED) return failed(what, accepted);
  const uint16_t code = waitSdo();
  if (code != KCO_SDO_DONE) return failed(what, code);
  return 0;
}

// -1 when not given.
std::optional<long> seconds(const std::vector<std::string>& args) {
  if (args.empty()) return -1;
  if (args.size() > 1) return std::nullopt;
  const auto value = number(args[0], 24 * 3600);
  if (!value) return std::nullopt;
  return static_cast<long>(*value);
}

int commandScan(const std::vector<std::string>& args, bool run) {
  const auto window = seconds(args);
  if (!window) return usage("scan takes at most SECONDS");
  if (!run) return 0;
  const long ms = (*window < 0 ? 2 : *window) * 1000;
  const uint16_t code = kcoNMT(0, KCO_NMT_RESET_NODE);
  if (code != KCO_NMT_OK) return failed("scan (reset all nodes)", code);
  runFor(ms);
  std::vector<uint8_t> nodes = seen.booted;
  std::sort(nodes.begin(), nodes.end());
  nodes.erase(std::unique(nodes.begin(), nodes.end()), nodes.end());
  if (nodes.empty()) {
    std::fprintf(stderr, "cotool: scan: no node sent a boot-up within %ld s\n", ms / 1000);
    return 1;
  }
  for (uint8_t node : nodes) {
    const char* name = nullptr;
    uint16_t result =
        kcoSDO(node, cia301::kDeviceNameObject, 0, KCO_SDO_UPLOAD, KCO_TYPE_TEXT, &name);
    if (result == KCO_SDO_ACCEPTED) result = waitSdo();
    if (result == KCO_SDO_DONE) {
      std::printf("node %u: %s\n", node, name ? name : "");
    } else {
      std::printf("node %u: (device name not readable: %s)\n", node, kcoGetText(result));
    }
  }
  return 0;
}

int commandListen(const std::vector<std::string>& args, bool run) {
  const auto window = seconds(args);
  if (!window) return usage("listen takes at most SECONDS");
  if (!run) return 0;
  // Heartbeat supervision of every node, so that their heartbeats are reported.
  for (unsigned node = cia301::kFirstNodeId; node <= cia301::kLastNodeId; ++node) {
    kcoHEARTBEAT(static_cast<uint8_t>(node), KCO_HEARTBEAT_ON, 3000);
  }
  seen.listening = true;
  std::fprintf(stderr, "cotool: listening\n");
  if (*window < 0) {
    while (!stopRequested) runFor(1000);
  } else {
    runFor(*window * 1000);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::optional<std::string> channel;
  std::optional<uint32_t> hardware;
  uint32_t bitrate = 500000;
  if (args.empty()) {
    std::fprintf(stderr, "%s", kUsage);
    return 2;
  }
  size_t i = 0;
  for (; i < args.size() && args[i].rfind("--", 0) == 0; ++i) {
    const std::string& option = args[i];
    if (option == "--help") {
      std::printf("%s", kUsage);
      return 0;
    }
    if (option == "--version") {
      std::printf("cotool %s\n", RQ_VERSION);
      return 0;
    }
    if (i + 1 >= args.size()) return usage(("missing value after " + option).c_str());
    const std::string& value = args[++i];
    if (option == "--channel") {
      channel = value;
    } else if (option == "--hw") {
      hardware = number(value, 255);
      if (!hardware) return usage("--hw takes a number");
    } else if (option == "--bitrate") {
      const auto parsed = number(value, 0xFFFFFFFF);
      if (!parsed) return usage("--bitrate takes a number");
      bitrate = *parsed;
    } else {
      return usage(("unknown option " + option).c_str());
    }
  }
  if (channel.has_value() == hardware.has_value()) return usage("give either --channel or --hw");
  if (i >= args.size()) return usage("no command given");
  const std::string command = args[i];
  const std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                      args.end());
  const auto dispatch = [&](bool run) {
    if (command == "nmt") return commandNmt(rest, run);
    if (command == "read") return commandRead(rest, run);
    if (command == "write") return commandWrite(rest, run);
    if (command == "scan") return commandScan(rest, run);
    if (command == "listen") return commandListen(rest, run);
    return usage(("unknown command " + command).c_str());
  };
  // The whole command line is checked before the CAN interface is opened.
  if (const int checked = dispatch(false); checked != 0) return checked;

  uint8_t code = static_cast<uint8_t>(hardware.value_or(9));
  if (channel) {
    // The channel becomes hardware code 9 for this run; an entry given last wins.
    std::string channels;
    if (const char* existing = std::getenv("CANOPEN32_CHANNELS")) channels = existing;
    if (!channels.empty()) channels += ",";
    channels += "9=" + *channel;
    ::setenv("CANOPEN32_CHANNELS", channels.c_str(), 1);
    code = 9;
  }
  ::signal(SIGINT, onSignal);
  ::signal(SIGTERM, onSignal);
  const uint16_t init = kcoInit(code, bitrate, 0, onSdoDone, onSdoDone, onPdo, onPdo, onNodeguard,
                                onHeartbeat, onEmcy, onBoot);
  if (init != KCO_INIT_OK) return failed("opening the CAN interface", init);

  return dispatch(true);
}
