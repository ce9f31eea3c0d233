// Runs a callable of a worker thread on the main thread and makes the worker wait for it, with
// the callable's exception carried back to the worker.
//
// The worker wakes the main thread's event loop through an eventfd watched by a socket notifier
// that lives on the main thread, so nothing of Qt is touched from the worker, and the request is
// served in every event loop of the main thread, nested modal ones included. While the main
// thread itself waits for the worker (WaitServing), it serves a request the worker has already
// made, so a worker that was waiting for the main thread can finish.
//
// The worker sleeps on a timer that the main thread sets when it has run the callable, to the
// end of the pause the worker asked for after it: the worker wakes once per request, when the
// pause is over, instead of once for the end of the callable and once more after its own sleep.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>

class QSocketNotifier;

class TMainThreadExecutor {
 public:
  // Must be constructed on the main thread.
  TMainThreadExecutor();
  ~TMainThreadExecutor();
  TMainThreadExecutor(const TMainThreadExecutor&) = delete;
  TMainThreadExecutor& operator=(const TMainThreadExecutor&) = delete;

  // Worker side: has the main thread run `task`, waits until it has run and then for `pause`
  // more, and rethrows what it raised. One request at a time.
  void RunAndWait(const std::function<void()>& task,
                  std::chrono::nanoseconds pause = std::chrono::nanoseconds::zero());

  // Main thread: runs the pending request, if any.
  void ServePending();

  // Main thread: blocks until `finished()` is true, serving requests meanwhile. `finished` is
  // evaluated with the executor's mutex held; changes to what it reads must be followed by
  // Notify().
  void WaitServing(const std::function<bool()>& finished);

  // Wakes WaitServing to re-evaluate its condition.
  void Notify();

 private:
  struct TRequest {
    const std::function<void()>* task = nullptr;
    std::chrono::nanoseconds pause{};
    std::exception_ptr error;
  };

  void WakeMainThread();
  void DrainWakeups();
  // Main thread: sets the worker's timer to `pause` from now.
  void EndPauseIn(std::chrono::nanoseconds pause);
  // Worker: sleeps until the timer set for its request expires.
  void AwaitPauseEnd();

  int FWakeFd = -1;
  int FTimerFd = -1;  // one-shot, set once per served request
  std::unique_ptr<QSocketNotifier> FNotifier;
  std::mutex FMutex;
  std::condition_variable FChanged;
  TRequest* FPending = nullptr;  // the request not yet taken by the main thread
  // Requests the main thread has finished: hands the request's outcome over to the worker.
  std::atomic<uint32_t> FServed{0};
};
