// The program's own timing, in-process, through the virtual bus (canhub, unpaced, a process)
// against the simulated module (in-process, on the bus as a client of its own):
//  - from the module's boot-up message to the NMT start that ends the device set-up;
//  - from a PDO 3 on the bus to the panel and the clipboard holding its value;
//  - the CPU that one pump cycle costs (both threads) when it has nothing to deliver.
// Each figure is printed beside its limit.
#include <poll.h>
#include <time.h>

#include <QApplication>
#include <QClipboard>
#include <QEventLoop>
#include <QLabel>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <variant>
#include <vector>

#include "RQ730CalibUnit.h"
#include "child_process.h"
#include "drivers/canopen.h"
#include "figures.h"
#include "sim_runner.h"
#include "spin.h"
#include "wake_up_floor.h"

namespace {

using Clock = std::chrono::steady_clock;
std::string gBus;

// Calls of kcoLoop (linked with --wrap=kcoLoop): the pumps and the SDO waits.
std::atomic<long> gLoops{0};

// Listens on the bus and notes when frames went by.
class Sniffer {
 public:
  Sniffer() {
    auto opened = canbus::openChannel(gBus);
    channel_ = std::move(std::get<std::unique_ptr<canbus::Channel>>(opened));
    thread_ = std::thread([this] { run(); });
  }
  ~Sniffer() {
    stop_ = true;
    thread_.join();
  }

  struct Seen {
    canbus::Frame frame;
    Clock::time_point at;
  };
  std::vector<Seen> take() {
    std::lock_guard lock(mutex_);
    return std::exchange(seen_, {});
  }

 private:
  void run() {
    while (!stop_) {
      pollfd fd{channel_->pollFd(), POLLIN, 0};
      ::poll(&fd, 1, 5);
      while (auto frame = channel_->receive()) {
        const Clock::time_point now = Clock::now();
        std::lock_guard lock(mutex_);
        seen_.push_back({*frame, now});
      }
    }
  }

  std::unique_ptr<canbus::Channel> channel_;
  std::mutex mutex_;
  std::vector<Seen> seen_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

double percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  const auto index =
      static_cast<std::size_t>(std::lround(p * static_cast<double>(values.size() - 1)));
  return values[index];
}

bool isBootUp(const canbus::Frame& f) { return f.id == 0x701 && f.length == 1 && f.data[0] == 0; }
bool isNmtStart(const canbus::Frame& f) {
  return f.id == 0x000 && f.length == 2 && f.data[0] == 0x01 && f.data[1] == 1;
}

double processCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Runs the main thread's event loop (blocking in it, as the program does) for `ms`.
void runEventLoopFor(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

}  // namespace

extern "C" uint16_t __real_kcoLoop(void);
extern "C" uint16_t __wrap_kcoLoop(void) {
  ++gLoops;
  return __real_kcoLoop();
}

int main(int argc, char** argv) {
  const WakeUpFloor floor = measureTwoThreadWakeUps();
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  ChildProcess hub({programDirectory() + "/canhub", "--listen", "127.0.0.1:0"});
  const std::string listening = hub.readLine();  // "listening on 127.0.0.1:PORT"
  gBus = "socketcand://127.0.0.1:" + listening.substr(listening.rfind(':') + 1) + "/bench";
  setenv("CANOPEN32_CHANNELS", ("9=" + gBus).c_str(), 1);

  rq730sim::Options options;
  options.warmup = std::chrono::milliseconds(0);
  options.sampleInterval = std::chrono::milliseconds(2);
  auto module = std::make_unique<SimRunner>(gBus, options);
  auto sniffer = std::make_unique<Sniffer>();

  // Set-up time, over several program starts.
  std::vector<double> setupMs;
  std::size_t setupRoundTrips = 0;
  for (int run = 0; run < 10; ++run) {
    auto form = std::make_unique<TFormMain>();
    form->show();
    std::vector<Sniffer::Seen> frames;
    Clock::time_point bootAt{}, startAt{};
    spinUntil(
        [&] {
          for (auto& seen : sniffer->take()) frames.push_back(seen);
          for (const auto& seen : frames) {
            if (isBootUp(seen.frame) && bootAt == Clock::time_point{}) bootAt = seen.at;
            if (isNmtStart(seen.frame) && bootAt != Clock::time_point{}) startAt = seen.at;
          }
          return startAt != Clock::time_point{};
        },
        10000);
    if (startAt == Clock::time_point{}) {
      std::fprintf(stderr, "the set-up did not finish\n");
      return 1;
    }
    setupMs.push_back(std::chrono::duration<double, std::milli>(startAt - bootAt).count());
    setupRoundTrips =
        static_cast<std::size_t>(std::count_if(frames.begin(), frames.end(), [&](const auto& s) {
          return s.at > bootAt && s.at <= startAt && (s.frame.id & 0x780) == 0x600;
        }));
    form.reset();
    spinFor(50);
  }
  // The boot-up dispatch waits 1/1720000 of a day before the device-name read; the unpaced hub
  // adds no wire time, only the SDO round trips of the set-up.
  const double waitMs = 86400000.0 / 1720000.0;
  std::printf("In-process, through canhub (%zu set-ups):\n", setupMs.size());
  char setupLimit[96];
  std::snprintf(setupLimit, sizeof setupLimit, "%.1f ms + %zu SDO round trips", waitMs,
                setupRoundTrips);
  reportFigure("in-process boot-up -> NMT start, median", percentile(setupMs, 0.5), "ms", "",
               setupLimit);

  // PDO 3 latency: the load climbs 1 kg per sample, so every PDO carries a new whole number.
  auto form = std::make_unique<TFormMain>();
  form->show();
  spinUntil([&] { return !form->PanelWeight->text().isEmpty(); }, 10000);
  rq730sim::LoadProfile ramp;
  ramp.shape = rq730sim::LoadProfile::Shape::ramp;
  ramp.rampFromKg = 1000;
  ramp.rampToKg = 1000 + 60000;
  ramp.rampDuration = std::chrono::milliseconds(60000 * 2);
  module->with([&](rq730sim::Simulator& s) { s.setProfile(ramp); });
  sniffer->take();

  std::map<long, Clock::time_point> sentAt;
  std::vector<double> latencyUs;
  long mismatches = 0;
  const QMetaObject::Connection watch =
      QObject::connect(QApplication::clipboard(), &QClipboard::dataChanged, [&] {
        const Clock::time_point now = Clock::now();
        for (const auto& seen : sniffer->take()) {
          if (seen.frame.id == 0x381 && seen.frame.length == 4) {
            float kg = 0;
            std::memcpy(&kg, seen.frame.data.data(), 4);
            sentAt.emplace(std::lround(kg), seen.at);
          }
        }
        const long shown = QApplication::clipboard()->text().toLong();
        if (form->PanelWeight->text() != QString::number(shown) + " kg") ++mismatches;
        if (const auto found = sentAt.find(shown); found != sentAt.end()) {
          latencyUs.push_back(
              std::chrono::duration<double, std::micro>(now - found->second).count());
          sentAt.erase(sentAt.begin(), std::next(found));
        }
      });
  spinUntil([&] { return latencyUs.size() >= 1500; }, 60000);
  if (latencyUs.size() < 1000) {
    std::fprintf(stderr, "too few PDOs measured (%zu)\n", latencyUs.size());
    return 1;
  }
  if (mismatches != 0) std::printf("  (panel and clipboard differed %ld times!)\n", mismatches);
  reportFigure("PDO 3 -> panel and clipboard, median", percentile(latencyUs, 0.5) / 1000.0, "ms",
               "<= 1.2", "pump period 1 ms");
  reportFigure("PDO 3 -> panel and clipboard, p99", percentile(latencyUs, 0.99) / 1000.0, "ms",
               "<= 3", "pump period 1 ms");

  // The module leaves the bus: the pumps have nothing to deliver. The process's CPU (the worker
  // and the main thread; the module's and the listener's threads have ended) per kcoLoop.
  QObject::disconnect(watch);
  module.reset();
  sniffer.reset();
  runEventLoopFor(300);
  const long loopsBefore = gLoops;
  const double cpuBefore = processCpuSeconds();
  runEventLoopFor(3000);
  const double cpu = processCpuSeconds() - cpuBefore;
  const long pumps = gLoops - loopsBefore;
  if (pumps <= 0) {
    std::fprintf(stderr, "no pump ran\n");
    return 1;
  }
  reportFigure("cost of one pump with nothing to deliver", cpu * 1e6 / static_cast<double>(pumps),
               "us", "<= 8",
               "two thread wake-ups here: " + formatFigure(floor.microsecondsPerCycle) + " us");
  std::printf("  (%ld pumps in 3 s)\n", pumps);
  return 0;
}
