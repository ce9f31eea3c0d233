// The program's own timing, in-process on the loopback bus against the simulated module:
//  - from the module's boot-up message to the NMT start that ends the device set-up;
//  - from a PDO 3 leaving the module to the panel and the clipboard holding its value.
// Each figure is printed beside its limit.
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <poll.h>
#include <thread>
#include <variant>
#include <vector>

#include "RQ730CalibUnit.h"
#include "sim_runner.h"
#include "spin.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kBus = "loopback://bench-weight";

// Listens on the bus and notes when frames went by.
class Sniffer {
 public:
  Sniffer() {
    auto opened = canbus::openChannel(kBus);
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
  const auto index = static_cast<std::size_t>(std::lround(p * static_cast<double>(values.size() - 1)));
  return values[index];
}

bool isBootUp(const canbus::Frame& f) { return f.id == 0x701 && f.length == 1 && f.data[0] == 0; }
bool isNmtStart(const canbus::Frame& f) {
  return f.id == 0x000 && f.length == 2 && f.data[0] == 0x01 && f.data[1] == 1;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  setenv("CANOPEN32_CHANNELS", (std::string("9=") + kBus).c_str(), 1);

  rq730sim::Options options;
  options.warmup = std::chrono::milliseconds(0);
  options.sampleInterval = std::chrono::milliseconds(2);
  SimRunner module(kBus, options);
  Sniffer sniffer;

  // Set-up time, over several program starts.
  std::vector<double> setupMs;
  std::size_t setupFrames = 0;
  for (int run = 0; run < 10; ++run) {
    auto form = std::make_unique<TFormMain>();
    form->show();
    std::vector<Sniffer::Seen> frames;
    Clock::time_point bootAt{}, startAt{};
    spinUntil([&] {
      for (auto& seen : sniffer.take()) frames.push_back(seen);
      for (const auto& seen : frames) {
        if (isBootUp(seen.frame) && bootAt == Clock::time_point{}) bootAt = seen.at;
        if (isNmtStart(seen.frame) && bootAt != Clock::time_point{}) startAt = seen.at;
      }
      return startAt != Clock::time_point{};
    }, 10000);
    if (startAt == Clock::time_point{}) {
      std::fprintf(stderr, "the set-up did not finish\n");
      return 1;
    }
    setupMs.push_back(std::chrono::duration<double, std::milli>(startAt - bootAt).count());
    setupFrames = static_cast<std::size_t>(std::count_if(frames.begin(), frames.end(), [&](const auto& s) {
      return s.at > bootAt && s.at <= startAt && (s.frame.id & 0x780) >= 0x580;
    }));
    form.reset();
    spinFor(50);
  }
  // The boot-up dispatch waits 1/1720000 of a day before the device-name read; every SDO frame
  // of the set-up is an 8-byte frame of 222..270 us at 500 kbit/s.
  const double waitMs = 86400000.0 / 1720000.0;
  std::printf("Boot-up to NMT start of the set-up (%zu runs):\n", setupMs.size());
  std::printf("  median %.1f ms, 99th percentile %.1f ms\n", percentile(setupMs, 0.5),
              percentile(setupMs, 0.99));
  std::printf("  limit: %.1f ms boot-up wait + %zu SDO frames x 222..270 us at 500 kbit/s = "
              "%.1f .. %.1f ms\n",
              waitMs, setupFrames, waitMs + static_cast<double>(setupFrames) * 0.222,
              waitMs + static_cast<double>(setupFrames) * 0.270);

  // PDO 3 latency: the load climbs 1 kg per sample, so every PDO carries a new whole number.
  auto form = std::make_unique<TFormMain>();
  form->show();
  spinUntil([&] { return !form->PanelWeight->text().isEmpty(); }, 10000);
  rq730sim::LoadProfile ramp;
  ramp.shape = rq730sim::LoadProfile::Shape::ramp;
  ramp.rampFromKg = 1000;
  ramp.rampToKg = 1000 + 60000;
  ramp.rampDuration = std::chrono::milliseconds(60000 * 2);
  module.with([&](rq730sim::Simulator& s) { s.setProfile(ramp); });
  sniffer.take();

  std::map<long, Clock::time_point> sentAt;
  std::vector<double> latencyUs;
  long mismatches = 0;
  QObject::connect(QApplication::clipboard(), &QClipboard::dataChanged, [&] {
    const Clock::time_point now = Clock::now();
    for (const auto& seen : sniffer.take()) {
      if (seen.frame.id == 0x381 && seen.frame.length == 4) {
        float kg = 0;
        std::memcpy(&kg, seen.frame.data.data(), 4);
        sentAt.emplace(std::lround(kg), seen.at);
      }
    }
    const long shown = QApplication::clipboard()->text().toLong();
    if (form->PanelWeight->text() != QString::number(shown) + " kg") ++mismatches;
    if (const auto found = sentAt.find(shown); found != sentAt.end()) {
      latencyUs.push_back(std::chrono::duration<double, std::micro>(now - found->second).count());
      sentAt.erase(sentAt.begin(), std::next(found));
    }
  });
  spinUntil([&] { return latencyUs.size() >= 1500; }, 60000);
  std::printf("PDO 3 leaving the module to panel and clipboard (%zu PDOs):\n", latencyUs.size());
  if (latencyUs.size() < 1000) {
    std::fprintf(stderr, "too few PDOs measured\n");
    return 1;
  }
  std::printf("  median %.0f us, 99th percentile %.0f us%s\n", percentile(latencyUs, 0.5),
              percentile(latencyUs, 0.99), mismatches != 0 ? " (panel and clipboard differed!)" : "");
  std::printf("  limit: the pump period of 1000 us, plus 158..190 us wire time of the 4-byte PDO at "
              "500 kbit/s on a real bus\n");
  return 0;
}
