// What two thread wake-ups per millisecond cost on this machine: the least the program's pump can
// cost, since the worker wakes once per cycle and wakes the main thread once. Measured with the
// pump's own mechanism stripped to the wake-ups: a thread sleeping on a timer wakes another
// through an eventfd, which sets the timer 1 ms ahead; no event loop, no driver.
#pragma once

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <thread>

struct WakeUpFloor {
  double microsecondsPerCycle = 0;  // CPU of both threads per cycle
  double percent = 0;               // CPU of both threads, % of one core
};

inline WakeUpFloor measureTwoThreadWakeUps(int cycles = 2000) {
  const auto seconds = [](clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
  };
  const int wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  const int timer = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
  const auto setTimer = [timer](long ns) {
    timespec at{};
    clock_gettime(CLOCK_MONOTONIC, &at);
    at.tv_nsec += ns;
    if (at.tv_nsec >= 1'000'000'000) {
      at.tv_nsec -= 1'000'000'000;
      ++at.tv_sec;
    }
    itimerspec setting{};
    setting.it_value = at;
    timerfd_settime(timer, TFD_TIMER_ABSTIME, &setting, nullptr);
  };
  std::atomic<bool> stop{false};
  std::thread sleeper([&] {
    uint64_t value = 1;
    while (!stop) {
      value = 1;
      [[maybe_unused]] const ssize_t written = ::write(wake, &value, sizeof value);
      [[maybe_unused]] const ssize_t got = ::read(timer, &value, sizeof value);
    }
  });
  const int settle = 100;
  double cpuStart = 0;
  double wallStart = 0;
  WakeUpFloor floor;
  for (int cycle = 0;; ++cycle) {
    pollfd ready{wake, POLLIN, 0};
    ::poll(&ready, 1, -1);
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = ::read(wake, &count, sizeof count);
    if (cycle == settle) {
      cpuStart = seconds(CLOCK_PROCESS_CPUTIME_ID);
      wallStart = seconds(CLOCK_MONOTONIC);
    } else if (cycle == settle + cycles) {
      const double cpu = seconds(CLOCK_PROCESS_CPUTIME_ID) - cpuStart;
      const double wall = seconds(CLOCK_MONOTONIC) - wallStart;
      floor.microsecondsPerCycle = cpu * 1e6 / cycles;
      floor.percent = 100.0 * cpu / wall;
      stop = true;
      setTimer(0);
      break;
    }
    setTimer(1'000'000);
  }
  sleeper.join();
  ::close(wake);
  ::close(timer);
  return floor;
}
