#include "MainThreadExecutor.h"

#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>

TMainThreadExecutor::TMainThreadExecutor() : FWakeFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  if (FWakeFd < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
  FTimerFd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
  if (FTimerFd < 0) {
    const int error = errno;
    ::close(FWakeFd);
    throw std::system_error(error, std::generic_category(), "timerfd_create");
  }
  FNotifier = std::make_unique<QSocketNotifier>(FWakeFd, QSocketNotifier::Read);
  QObject::connect(FNotifier.get(), &QSocketNotifier::activated, [this] {
    DrainWakeups();
    ServePending();
  });
}

TMainThreadExecutor::~TMainThreadExecutor() {
  FNotifier.reset();
  ::close(FWakeFd);
  ::close(FTimerFd);
}

void TMainThreadExecutor::RunAndWait(const std::function<void()>& task,
                                     std::chrono::nanoseconds pause) {
  TRequest request;
  request.task = &task;
  request.pause = pause;
  const uint32_t served = FServed.load(std::memory_order_acquire);
  {
    std::lock_guard lock(FMutex);
    FPending = &request;
  }
  FChanged.notify_all();  // a main thread in WaitServing
  WakeMainThread();
  AwaitPauseEnd();
  // The timer is set only after the count has moved, so this finds it moved; the loop only
  // makes the hand-over of the outcome explicit.
  while (FServed.load(std::memory_order_acquire) == served) std::this_thread::yield();
  if (request.error) std::rethrow_exception(request.error);
}

void TMainThreadExecutor::ServePending() {
  TRequest* request = nullptr;
  {
    std::lock_guard lock(FMutex);
    // Taking the request here keeps a nested event loop inside the task from running it again.
    request = std::exchange(FPending, nullptr);
  }
  if (request == nullptr) return;
  std::exception_ptr error;
  try {
    (*request->task)();
  } catch (...) {
    error = std::current_exception();
  }
  request->error = error;
  const std::chrono::nanoseconds pause = request->pause;
  // From here on the request belongs to the worker again (it may leave as soon as its timer
  // expires): only the executor's own count and timer are touched.
  FServed.fetch_add(1, std::memory_order_release);
  EndPauseIn(pause);
}

void TMainThreadExecutor::WaitServing(const std::function<bool()>& finished) {
  for (;;) {
    {
      std::unique_lock lock(FMutex);
      FChanged.wait(lock, [&] { return finished() || FPending != nullptr; });
      if (FPending == nullptr) return;  // finished, nothing left to serve
    }
    ServePending();
  }
}

void TMainThreadExecutor::Notify() {
  { std::lock_guard lock(FMutex); }
  FChanged.notify_all();
}

void TMainThreadExecutor::WakeMainThread() {
  const uint64_t one = 1;
  // A full counter (never in practice) still leaves the fd readable, which is all that matters.
  [[maybe_unused]] const ssize_t written = ::write(FWakeFd, &one, sizeof one);
}

void TMainThreadExecutor::EndPauseIn(std::chrono::nanoseconds pause) {
  // An absolute time on the monotonic clock: a pause of zero is a time already past, which
  // expires at once (a zero time would disarm the timer instead).
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const int64_t end = static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec +
                      std::max<int64_t>(pause.count(), 0);
  itimerspec setting{};
  setting.it_value.tv_sec = static_cast<time_t>(end / 1'000'000'000);
  setting.it_value.tv_nsec = static_cast<long>(end % 1'000'000'000);
  // Cannot fail: the descriptor is this executor's timer and the time is normalised.
  [[maybe_unused]] const int set = timerfd_settime(FTimerFd, TFD_TIMER_ABSTIME, &setting, nullptr);
}

void TMainThreadExecutor::AwaitPauseEnd() {
  // The timer is set once per served request, so exactly one expiry belongs to this request.
  uint64_t expirations = 0;
  while (::read(FTimerFd, &expirations, sizeof expirations) < 0 && errno == EINTR) {
  }
}

void TMainThreadExecutor::DrainWakeups() {
  uint64_t count = 0;
  [[maybe_unused]] const ssize_t got = ::read(FWakeFd, &count, sizeof count);
}
