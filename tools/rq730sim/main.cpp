// rq730sim: the simulated RQ 730 module on a CAN channel, controlled from standard input. The
// program's loop sleeps until the module's next deadline, a frame, a line of input or a signal,
// on the steady clock, and reopens the channel when it goes down.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "canbus/channel.h"
#include "canbus/reconnect_policy.h"
#include "rq730sim/channel_adapter.h"
#include "rq730sim/commands.h"

namespace {

using rq730sim::Clock;

volatile sig_atomic_t stopRequested = 0;

void onSignal(int) { stopRequested = 1; }

// SIGINT and SIGTERM stay blocked except while the program sleeps in ppoll(), so a signal can
// never slip in between the check of stopRequested and the sleep. `sleepMask` receives the
// mask to sleep with.
bool installSignalHandlers(sigset_t& sleepMask) {
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0 &&
         sigaction(SIGPIPE, &ignore, nullptr) == 0 &&  // a closed TCP peer is a channel error
         sigprocmask(SIG_BLOCK, &stopSignals, &sleepMask) == 0;
}

// A line longer than this is not a command; it is dropped with an error.
constexpr std::size_t kMaxLine = 4096;
constexpr auto kReconnectInterval = std::chrono::seconds(1);
constexpr auto kErrorReportInterval = std::chrono::seconds(1);
// The longest sleep: a channel may hold output its socket did not take, or go down without its
// descriptor becoming readable; it sorts both out when it is used, so it is used at least this
// often. A channel without a descriptor is looked at every millisecond for frames.
constexpr auto kLongestSleep = std::chrono::milliseconds(100);
constexpr auto kLongestSleepWithoutFd = std::chrono::milliseconds(1);

class Program {
 public:
  Program(std::string url, rq730sim::ChannelAdapter& module, const sigset_t& sleepMask)
      : url_(std::move(url)), module_(module), sleepMask_(sleepMask) {}

  int run() {
    module_.poll(Clock::now());
    std::printf("ready\n");
    std::fflush(stdout);
    while (!stopRequested && !quit_) {
      const bool stdinReady = sleep();
      const auto now = Clock::now();
      module_.poll(now);  // the frames that came, and what is due
      if (stdinReady) {
        readStdin();
        module_.poll(now);  // what the commands made due (reboot, a new load)
      }
      watchChannel(now);
    }
    return 0;
  }

 private:
  // Sleeps until the module's next deadline, a frame, input, a signal or the longest sleep;
  // true when standard input has something.
  bool sleep() {
    pollfd fds[2];
    nfds_t count = 0;
    // A lost channel's descriptor may stay readable (end of stream) until it is reopened.
    const canbus::Channel* channel = module_.channel();
    const bool lost = !channel || channel->state() == canbus::ChannelState::down;
    const int channelFd = lost ? -1 : channel->pollFd();
    if (channelFd >= 0) fds[count++] = {channelFd, POLLIN, 0};
    const nfds_t stdinSlot = count;
    if (stdinOpen_) fds[count++] = {STDIN_FILENO, POLLIN, 0};

    const auto now = Clock::now();
    Clock::time_point wake =
        now + (channelFd >= 0 || lost ? kLongestSleep : kLongestSleepWithoutFd);
    auto earlier = [&](std::optional<Clock::time_point> due) {
      if (due && *due < wake) wake = *due;
    };
    earlier(module_.simulator().nextDeadline());
    earlier(reconnect_.nextTry());
    if (module_.sendErrors() != reportedSendErrors_) earlier(nextErrorReport_);

    const auto wait = std::max(wake - now, Clock::duration::zero());
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(wait);
    const timespec timeout{static_cast<time_t>(seconds.count()),
                           static_cast<long>(std::chrono::nanoseconds(wait - seconds).count())};
    const int ready = ppoll(fds, count, &timeout, &sleepMask_);
    return ready > 0 && stdinOpen_ && (fds[stdinSlot].revents & (POLLIN | POLLHUP | POLLERR));
  }

  void readStdin() {
    char buffer[1024];
    const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
      // No more commands (e.g. stdin is /dev/null): the module keeps running until a signal.
      stdinOpen_ = false;
      if (!pending_.empty()) runLine(pending_);
      pending_.clear();
      return;
    }
    if (n < 0) return;
    for (ssize_t i = 0; i < n; ++i) {
      if (buffer[i] == '\n') {
        if (discarding_) {
          discarding_ = false;
        } else {
          runLine(pending_);
        }
        pending_.clear();
      } else if (!discarding_) {
        pending_ += buffer[i];
        if (pending_.size() > kMaxLine) {
          std::fprintf(stderr, "rq730sim: line too long, ignored\n");
          pending_.clear();
          discarding_ = true;
        }
      }
    }
  }

  void runLine(const std::string& line) {
    const auto outcome = rq730sim::runCommand(module_.simulator(), line);
    if (!outcome.message.empty()) {
      std::FILE* out = outcome.error ? stderr : stdout;
      std::fprintf(out, "%s%s\n", outcome.error ? "rq730sim: " : "", outcome.message.c_str());
      std::fflush(out);
    }
    if (outcome.quit) quit_ = true;
  }

  // Reports refused sends now and then, and reopens a channel that went down (hub restarted,
  // adapter plugged in again); the module keeps its state meanwhile.
  void watchChannel(Clock::time_point now) {
    if (module_.sendErrors() != reportedSendErrors_ && now >= nextErrorReport_) {
      const auto error = module_.lastSendError();
      std::fprintf(stderr, "rq730sim: %llu frame(s) not sent: %s\n",
                   static_cast<unsigned long long>(module_.sendErrors() - reportedSendErrors_),
                   error ? error->message.c_str() : "send failed");
      reportedSendErrors_ = module_.sendErrors();
      nextErrorReport_ = now + kErrorReportInterval;
    }
    const canbus::Channel* channel = module_.channel();
    if (channel && channel->state() != canbus::ChannelState::down) return;
    if (!reconnect_.waiting()) {
      std::fprintf(stderr, "rq730sim: channel %s lost, reconnecting\n", url_.c_str());
    }
    if (!reconnect_.due(now)) return;
    auto opened = canbus::openChannel(url_);
    if (auto* fresh = std::get_if<std::unique_ptr<canbus::Channel>>(&opened)) {
      module_.setChannel(std::move(*fresh));
      reconnect_.succeeded();
      std::fprintf(stderr, "rq730sim: channel %s back\n", url_.c_str());
    } else {
      reconnect_.failed(now, std::get<canbus::Error>(opened).message);
    }
  }

  std::string url_;
  rq730sim::ChannelAdapter& module_;
  sigset_t sleepMask_;
  bool stdinOpen_ = true;
  bool quit_ = false;
  bool discarding_ = false;
  std::string pending_;
  uint64_t reportedSendErrors_ = 0;
  Clock::time_point nextErrorReport_{};
  // The first try comes as soon as the loss is noticed, then one a second.
  canbus::ReconnectPolicy reconnect_{kReconnectInterval, canbus::ReconnectPolicy::FirstTry::atOnce};
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string_view> args(argv + 1, argv + argc);
  auto parsed = rq730sim::parseArguments(args);
  if (auto* error = std::get_if<std::string>(&parsed)) {
    std::fprintf(stderr, "rq730sim: %s\nTry 'rq730sim --help'.\n", error->c_str());
    return 2;
  }
  auto& options = std::get<rq730sim::ProgramOptions>(parsed);
  if (options.help) {
    std::fputs(std::string(rq730sim::usageText()).c_str(), stdout);
    return 0;
  }
  if (options.version) {
    std::printf("rq730sim %s\n", RQ_VERSION);
    return 0;
  }
  sigset_t sleepMask;
  if (!installSignalHandlers(sleepMask)) {
    std::fprintf(stderr, "rq730sim: cannot install signal handlers: %s\n", std::strerror(errno));
    return 1;
  }
  auto opened = canbus::openChannel(options.channelUrl);
  if (auto* error = std::get_if<canbus::Error>(&opened)) {
    std::fprintf(stderr, "rq730sim: %s\n", error->message.c_str());
    return 1;
  }
  rq730sim::ChannelAdapter module(std::move(std::get<std::unique_ptr<canbus::Channel>>(opened)),
                                  options.simulator);
  return Program(options.channelUrl, module, sleepMask).run();
}
