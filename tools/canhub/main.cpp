// canhub: a virtual CAN bus on a TCP port, speaking the socketcand protocol.
//
//   canhub                               listen on 127.0.0.1:29536, unpaced
//   canhub --listen 127.0.0.1:0          any free port (the line "listening on" tells which)
//   canhub --bitrate 500000              frames take their wire time at 500 kbit/s
//   canhub --handshake-timeout-ms 2000   close clients that open no bus within 2 s (default 5 s)
//   canhub --record session.log          write every frame to a candump log
//   canhub --replay trace.log --bus sim0 --speed 2
//                                        play a candump log into bus sim0 at twice its pace
//
// Prints "listening on HOST:PORT" once it accepts connections; exits 0 on SIGINT or SIGTERM.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "canbus/candump_log.h"
#include "canbus/socketcand_protocol.h"
#include "hub.h"
#include "recorder.h"
#include "replay_player.h"

namespace {

int stopPipe[2] = {-1, -1};

extern "C" void onStopSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(stopPipe[1], &byte, 1);
}

constexpr const char* kUsage =
    "usage: canhub [--listen HOST:PORT] [--bitrate BPS] [--handshake-timeout-ms MS]\n"
    "              [--record FILE] [--replay FILE [--bus NAME] [--speed X]]\n"
    "       canhub --version | --help\n"
    "  A virtual CAN bus: a socketcand server whose clients open named buses; every frame one\n"
    "  client sends reaches every other client of that bus.\n"
    "  --listen HOST:PORT  address to listen on (default 127.0.0.1:29536; port 0 = any free)\n"
    "  --bitrate BPS       pace frames at this bit rate, one at a time (default: unpaced)\n"
    "  --handshake-timeout-ms MS\n"
    "                      close a client that has opened no bus within MS milliseconds\n"
    "                      (1 to 3600000, default 5000)\n"
    "  --record FILE       write every frame of every bus to FILE (created or emptied) as a\n"
    "                      candump log line, the bus name as interface:\n"
    "                      \"(1735270496.916858) sim0 181#D204\"\n"
    "  --replay FILE       play the candump log FILE (candump -l, CANOPEN32_TRACE, --record)\n"
    "                      into one bus, as if a client sent its frames, with the time stamps'\n"
    "                      spacing; it starts when a client of that bus enters raw mode. The\n"
    "                      frames of all interfaces in FILE go into that one bus. CAN FD and\n"
    "                      error frames and malformed lines are skipped with a message\n"
    "  --bus NAME          the bus --replay plays into (default sim0)\n"
    "  --speed X           play X times as fast as recorded (default 1; 0.5 = half as fast)\n"
    "  --version           print the version and exit\n"
    "examples:\n"
    "  canhub\n"
    "  canhub --listen 127.0.0.1:0 --bitrate 500000\n"
    "  canhub --record session.log\n"
    "  canhub --replay customer-trace.log --bus sim0 --speed 4\n";

// Malformed lines named in a replay before the hub only counts them.
constexpr std::size_t kNamedProblems = 20;

struct ReplayArguments {
  std::string file;
  std::string bus = "sim0";
  double speed = 1.0;
};

template <typename T>
std::optional<T> number(std::string_view text) {
  T value{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// "HOST:PORT", "[V6]:PORT"; false when malformed.
bool parseListen(std::string_view text, canhub::HubOptions& options) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos || colon == 0) return false;
  std::string_view host = text.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  const std::optional<unsigned> port = number<unsigned>(text.substr(colon + 1));
  if (host.empty() || !port || *port > 65535) return false;
  options.host = std::string(host);
  options.port = static_cast<uint16_t>(*port);
  return true;
}

int usageError(const std::string& message) {
  std::fprintf(stderr, "canhub: %s\n%s", message.c_str(), kUsage);
  return 2;
}

// A bus name as clients can open it ("< open NAME >": no '<' or '>' inside a message).
bool validBusName(const std::string& name) {
  const canbus::socketcand::ClientCommand command =
      canbus::socketcand::parseClientCommand("open " + name);
  return command.kind == canbus::socketcand::ClientCommand::Kind::open && command.text == name &&
         name.find_first_of("<>") == std::string::npos;
}

bool sameFile(const std::string& a, const std::string& b) {
  struct stat first {};
  struct stat second {};
  return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// The replay's player over the file, read lazily; malformed lines are named on stderr (the
// first kNamedProblems of them, then counted). An error text when the file cannot be read or
// holds no frame.
std::variant<std::unique_ptr<canhub::ReplayPlayer>, std::string> openReplay(
    const ReplayArguments& replay) {
  struct Problems {
    std::size_t count = 0;
  };
  auto problems = std::make_shared<Problems>();
  const std::string file = replay.file;
  auto opened = canbus::CandumpLogReader::open(file, [problems, file](std::size_t line,
                                                                      const std::string& what) {
    if (line == 0) {
      std::fprintf(stderr, "canhub: %s: %s\n", file.c_str(), what.c_str());
      return;
    }
    if (++problems->count <= kNamedProblems) {
      std::fprintf(stderr, "canhub: %s:%zu: %s\n", file.c_str(), line, what.c_str());
    } else if (problems->count == kNamedProblems + 1) {
      std::fprintf(stderr, "canhub: %s: further skipped lines are only counted\n", file.c_str());
    }
  });
  if (auto* error = std::get_if<std::string>(&opened)) return *error;
  std::shared_ptr<canbus::CandumpLogReader> reader =
      std::move(std::get<std::unique_ptr<canbus::CandumpLogReader>>(opened));
  auto player = std::make_unique<canhub::ReplayPlayer>(
      [reader, problems, file]() {
        std::optional<canbus::CandumpLogEntry> entry = reader->next();
        if (!entry && problems->count > kNamedProblems) {
          std::fprintf(stderr, "canhub: %s: %zu lines skipped in all\n", file.c_str(),
                       problems->count);
        }
        return entry;
      },
      replay.speed);
  if (player->empty()) return file + " holds no frame to replay";
  return player;
}

}  // namespace

int main(int argc, char** argv) {
  canhub::HubOptions options;
  std::optional<std::string> recordFile;
  std::optional<ReplayArguments> replay;
  std::optional<std::string> replayBus;
  std::optional<double> replaySpeed;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::printf("canhub %s\n", RQ_VERSION);
      return 0;
    }
    if (arg == "--listen" || arg == "--bitrate" || arg == "--handshake-timeout-ms" ||
        arg == "--record" || arg == "--replay" || arg == "--bus" || arg == "--speed") {
      if (i + 1 >= argc) return usageError(std::string(arg) + " needs a value");
      const std::string_view value = argv[++i];
      if (arg == "--record" || arg == "--replay") {
        if (value.empty()) return usageError(std::string(arg) + " needs a file name");
        if (arg == "--record") {
          recordFile = std::string(value);
        } else {
          replay = ReplayArguments{};
          replay->file = std::string(value);
        }
      } else if (arg == "--bus") {
        if (!validBusName(std::string(value))) {
          return usageError("--bus wants a bus name: one word of up to 64 characters");
        }
        replayBus = std::string(value);
      } else if (arg == "--speed") {
        const std::optional<double> speed = number<double>(value);
        if (!speed || !std::isfinite(*speed) || *speed <= 0) {
          return usageError("--speed wants a number above 0, e.g. 2 or 0.5");
        }
        replaySpeed = *speed;
      } else if (arg == "--listen") {
        if (!parseListen(value, options)) return usageError("--listen wants HOST:PORT");
      } else if (arg == "--handshake-timeout-ms") {
        const std::optional<uint32_t> ms = number<uint32_t>(value);
        if (!ms || *ms == 0 || *ms > 3600000) {
          return usageError("--handshake-timeout-ms wants 1 to 3600000 milliseconds");
        }
        options.handshakeTimeout = std::chrono::milliseconds(*ms);
      } else {
        const std::optional<uint32_t> bitrate = number<uint32_t>(value);
        if (!bitrate || *bitrate == 0 || *bitrate > 1000000) {
          return usageError("--bitrate wants a rate from 1 to 1000000 bit/s");
        }
        options.bitrate = *bitrate;
      }
      continue;
    }
    return usageError("unknown argument '" + std::string(arg) + "'");
  }
  if (!replay && (replayBus || replaySpeed))
    return usageError("--bus and --speed go with --replay");
  if (replay) {
    if (replayBus) replay->bus = *replayBus;
    if (replaySpeed) replay->speed = *replaySpeed;
  }
  if (replay && recordFile && sameFile(replay->file, *recordFile)) {
    return usageError("--record would overwrite the file that --replay plays");
  }

  // Files first: a file that cannot be read or written stops the hub before it listens.
  std::unique_ptr<canhub::ReplayPlayer> player;
  if (replay) {
    auto opened = openReplay(*replay);
    if (auto* error = std::get_if<std::string>(&opened)) {
      std::fprintf(stderr, "canhub: %s\n", error->c_str());
      return 1;
    }
    player = std::move(std::get<std::unique_ptr<canhub::ReplayPlayer>>(opened));
  }
  std::unique_ptr<canhub::Recorder> recorder;
  if (recordFile) {
    auto opened = canhub::Recorder::open(*recordFile);
    if (auto* error = std::get_if<std::string>(&opened)) {
      std::fprintf(stderr, "canhub: %s\n", error->c_str());
      return 1;
    }
    recorder = std::move(std::get<std::unique_ptr<canhub::Recorder>>(opened));
  }

  if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    std::perror("canhub: pipe");
    return 1;
  }
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
  // A paced frame's wire time ends at a point in time that the hub sleeps until; the kernel's
  // default timer slack would let that sleep run up to 50 us longer, a fifth of a frame at
  // 500 kbit/s, on every frame.
  if (options.bitrate != 0) ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);

  canhub::Hub hub(options);
  if (recorder) hub.record(std::move(recorder));
  if (player) hub.replay(replay->bus, replay->file, std::move(player));
  if (const std::optional<std::string> error = hub.listen()) {
    std::fprintf(stderr, "canhub: %s\n", error->c_str());
    return 1;
  }
  std::printf("listening on %s\n", hub.address().c_str());
  std::fflush(stdout);
  hub.run(stopPipe[0]);
  return 0;
}
