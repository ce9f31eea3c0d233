// The programs as `./run demo` starts them, each a process of its own: the virtual bus (unpaced,
// recording every frame), the simulated module, and RQ730Calib under the offscreen platform.
//  - the bus's and the module's CPU while nobody else is on the bus;
//  - from the module's boot-up frame to the NMT start that ends the program's device set-up,
//    read from the bus's recording, over several program starts;
//  - the CPU of all three while the program weighs.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "figures.h"
#include "wake_up_floor.h"

namespace {

using Clock = std::chrono::steady_clock;

// CPU percent of several processes over the same span.
std::vector<double> cpuPercents(const std::vector<pid_t>& pids, std::chrono::milliseconds span) {
  std::vector<double> before;
  for (const pid_t pid : pids) before.push_back(cpuSeconds(pid));
  const Clock::time_point start = Clock::now();
  std::this_thread::sleep_for(span);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::vector<double> percent;
  for (std::size_t i = 0; i < pids.size(); ++i) {
    percent.push_back(100.0 * (cpuSeconds(pids[i]) - before[i]) / seconds);
  }
  return percent;
}

struct Recorded {
  double at = 0;      // seconds of the wall clock, as the bus recorded it
  std::string frame;  // "701#00"
};

// The frames recorded from byte `offset` on: "(1735270496.916858) sim0 181#D204".
std::vector<Recorded> readRecording(const std::string& path, std::streamoff offset) {
  std::vector<Recorded> frames;
  std::ifstream in(path);
  in.seekg(offset);
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t close = line.find(')');
    const std::size_t space = line.rfind(' ');
    if (line.empty() || line[0] != '(' || close == std::string::npos ||
        space == std::string::npos) {
      continue;
    }
    frames.push_back({std::strtod(line.c_str() + 1, nullptr), line.substr(space + 1)});
  }
  return frames;
}

std::streamoff fileSize(const std::string& path) {
  std::ifstream in(path, std::ios::ate);
  return in ? static_cast<std::streamoff>(in.tellg()) : 0;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main() {
  const WakeUpFloor floor = measureTwoThreadWakeUps();
  const std::string dir = programDirectory();
  char folder[] = "/tmp/rq-bench-XXXXXX";
  if (mkdtemp(folder) == nullptr) return 1;
  const std::string recording = std::string(folder) + "/bus.log";

  ChildProcess hub({dir + "/canhub", "--listen", "127.0.0.1:0", "--record", recording});
  const std::string listening = hub.readLine();  // "listening on 127.0.0.1:PORT"
  const std::string url =
      "socketcand://127.0.0.1:" + listening.substr(listening.rfind(':') + 1) + "/sim0";
  ChildProcess module(
      {dir + "/rq730sim", "--channel", url, "--load", "1234.5", "--warmup-ms", "2500"});
  if (module.readLine() != "ready") {
    std::fprintf(stderr, "the simulated module did not start\n");
    return 1;
  }

  std::printf("The programs as processes (canhub unpaced, rq730sim, RQ730Calib offscreen):\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const std::vector<double> idle =
      cpuPercents({module.pid(), hub.pid()}, std::chrono::milliseconds(4000));
  reportFigure("simulator CPU while idle", idle[0], "%", "<= 0.2", "0");
  reportFigure("hub CPU while idle", idle[1], "%", "<= 0.2", "0");

  std::vector<double> setupMs;
  std::size_t roundTrips = 0;
  std::vector<double> weighing;
  const int runs = 5;
  for (int run = 0; run < runs; ++run) {
    const std::streamoff offset = fileSize(recording);
    ChildProcess program({dir + "/RQ730Calib"},
                         {{"QT_QPA_PLATFORM", "offscreen"}, {"CANOPEN32_CHANNELS", "9=" + url}});
    double bootAt = 0;
    std::optional<double> startAt;
    std::size_t requests = 0;
    const Clock::time_point limit = Clock::now() + std::chrono::seconds(15);
    while (!startAt && Clock::now() < limit) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      bool booted = false;
      requests = 0;
      for (const Recorded& seen : readRecording(recording, offset)) {
        if (seen.frame == "701#00") {
          bootAt = seen.at;
          booted = true;
          requests = 0;
        } else if (booted && seen.frame.rfind("601#", 0) == 0) {
          ++requests;
        } else if (booted && seen.frame == "000#0101") {
          startAt = seen.at;
          break;
        }
      }
    }
    if (!startAt) {
      std::fprintf(stderr, "the program's set-up did not finish\n");
      return 1;
    }
    setupMs.push_back((*startAt - bootAt) * 1000.0);
    roundTrips = requests;
    if (run == runs - 1) {
      // Past the module's warm-up: the weight goes to the panel.
      std::this_thread::sleep_for(std::chrono::milliseconds(3000));
      weighing =
          cpuPercents({program.pid(), module.pid(), hub.pid()}, std::chrono::milliseconds(4000));
    }
  }
  const double waitMs = 86400000.0 / 1720000.0;
  reportFigure("boot-up -> NMT start, median of " + std::to_string(runs), median(setupMs), "ms",
               "<= 60",
               std::to_string(waitMs).substr(0, 4) + " ms + " + std::to_string(roundTrips) +
                   " SDO round trips");
  reportFigure("program CPU while weighing", weighing[0], "%", "<= 1.0",
               "two thread wake-ups per ms here: " + formatFigure(floor.percent) + " %");
  reportFigure("simulator CPU while weighing", weighing[1], "%", "", "");
  reportFigure("hub CPU while weighing", weighing[2], "%", "", "");
  std::remove(recording.c_str());
  rmdir(folder);
  return 0;
}
