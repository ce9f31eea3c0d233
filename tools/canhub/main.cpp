// canhub: a virtual CAN bus on a TCP port, speaking the socketcand protocol.
//
//   canhub                               listen on 127.0.0.1:29536, unpaced
//   canhub --listen 127.0.0.1:0          any free port (the line "listening on" tells which)
//   canhub --bitrate 500000              frames take their wire time at 500 kbit/s
//   canhub --handshake-timeout-ms 2000   close clients that open no bus within 2 s (default 5 s)
//
// Prints "listening on HOST:PORT" once it accepts connections; exits 0 on SIGINT or SIGTERM.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "hub.h"

namespace {

int stopPipe[2] = {-1, -1};

extern "C" void onStopSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(stopPipe[1], &byte, 1);
}

constexpr const char* kUsage =
    "usage: canhub [--listen HOST:PORT] [--bitrate BPS] [--handshake-timeout-ms MS]\n"
    "  A virtual CAN bus: a socketcand server whose clients open named buses; every frame one\n"
    "  client sends reaches every other client of that bus.\n"
    "  --listen HOST:PORT  address to listen on (default 127.0.0.1:29536; port 0 = any free)\n"
    "  --bitrate BPS       pace frames at this bit rate, one at a time (default: unpaced)\n"
    "  --handshake-timeout-ms MS\n"
    "                      close a client that has opened no bus within MS milliseconds\n"
    "                      (1 to 3600000, default 5000)\n"
    "examples:\n"
    "  canhub\n"
    "  canhub --listen 127.0.0.1:0 --bitrate 500000\n";

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

}  // namespace

int main(int argc, char** argv) {
  canhub::HubOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--listen" || arg == "--bitrate" || arg == "--handshake-timeout-ms") {
      if (i + 1 >= argc) return usageError(std::string(arg) + " needs a value");
      const std::string_view value = argv[++i];
      if (arg == "--listen") {
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

  canhub::Hub hub(options);
  if (const std::optional<std::string> error = hub.listen()) {
    std::fprintf(stderr, "canhub: %s\n", error->c_str());
    return 1;
  }
  std::printf("listening on %s\n", hub.address().c_str());
  std::fflush(stdout);
  hub.run(stopPipe[0]);
  return 0;
}
