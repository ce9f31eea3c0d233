// The simulated module on its own thread over the loopback bus, so that it answers while the
// test's main thread blocks in an SDO wait, as a real module on a real bus does.
#pragma once

#include <poll.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <variant>

#include "canbus/channel.h"
#include "rq730sim/channel_adapter.h"

class SimRunner {
 public:
  SimRunner(const std::string& url, rq730sim::Options options) {
    auto opened = canbus::openChannel(url);
    if (auto* error = std::get_if<canbus::Error>(&opened)) throw std::runtime_error(error->message);
    sim_ = std::make_unique<rq730sim::ChannelAdapter>(
        std::move(std::get<std::unique_ptr<canbus::Channel>>(opened)), std::move(options));
    thread_ = std::thread([this] {
      while (!stop_) {
        std::optional<rq730sim::Clock::time_point> due;
        int fd = -1;
        {
          std::lock_guard lock(mutex_);
          sim_->poll(rq730sim::Clock::now());
          due = sim_->simulator().nextDeadline();
          fd = sim_->channel()->pollFd();
        }
        waitForWork(fd, due);
      }
    });
  }

  ~SimRunner() {
    stop_ = true;
    thread_.join();
  }

  SimRunner(const SimRunner&) = delete;
  SimRunner& operator=(const SimRunner&) = delete;

  // Runs `action` on the simulator between two of its polls.
  template <typename T>
  T with(const std::function<T(rq730sim::Simulator&)>& action) {
    std::lock_guard lock(mutex_);
    return action(sim_->simulator());
  }
  void with(const std::function<void(rq730sim::Simulator&)>& action) {
    std::lock_guard lock(mutex_);
    action(sim_->simulator());
  }

 private:
  // Sleeps until a frame arrives or the module's next deadline, at most kPollInterval, so that
  // a change made through with() takes effect as soon as before. A channel without a descriptor
  // to wait on (the loopback bus) is polled every kPollInterval.
  static void waitForWork(int fd, std::optional<rq730sim::Clock::time_point> due) {
    std::chrono::nanoseconds wait = kPollInterval;
    if (due) {
      wait = std::clamp<std::chrono::nanoseconds>(*due - rq730sim::Clock::now(),
                                                  std::chrono::nanoseconds::zero(), wait);
    }
    if (fd < 0) {
      std::this_thread::sleep_for(wait);
      return;
    }
    pollfd ready{fd, POLLIN, 0};
    const timespec timeout{0, static_cast<long>(wait.count())};
    ::ppoll(&ready, 1, &timeout, nullptr);
  }

  static constexpr std::chrono::nanoseconds kPollInterval = std::chrono::microseconds(200);

  std::unique_ptr<rq730sim::ChannelAdapter> sim_;
  std::mutex mutex_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};
