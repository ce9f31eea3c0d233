#include "MainThreadExecutor.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <cstdint>
#include <stdexcept>
#include <system_error>
#include <utility>

TMainThreadExecutor::TMainThreadExecutor() : FWakeFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  if (FWakeFd < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
  FNotifier = std::make_unique<QSocketNotifier>(FWakeFd, QSocketNotifier::Read);
  QObject::connect(FNotifier.get(), &QSocketNotifier::activated, [this] {
    DrainWakeups();
    ServePending();
  });
}

TMainThreadExecutor::~TMainThreadExecutor() {
  FNotifier.reset();
  ::close(FWakeFd);
}

void TMainThreadExecutor::RunAndWait(const std::function<void()>& task) {
  TRequest request;
  request.task = &task;
  const uint32_t served = FServed.load(std::memory_order_acquire);
  {
    std::lock_guard lock(FMutex);
    FPending = &request;
  }
  FChanged.notify_all();  // a main thread in WaitServing
  WakeMainThread();
  // Sleeps (a futex) until the count moves past `served`; a count that moved before the wait
  // returns at once.
  FServed.wait(served, std::memory_order_acquire);
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
  // From here on the request belongs to the worker again (it may leave at once): only the
  // executor's own count is touched.
  FServed.fetch_add(1, std::memory_order_release);
  FServed.notify_all();
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

void TMainThreadExecutor::DrainWakeups() {
  uint64_t count = 0;
  [[maybe_unused]] const ssize_t got = ::read(FWakeFd, &count, sizeof count);
}
