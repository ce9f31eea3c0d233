// Runs a callable of a worker thread on the main thread and makes the worker wait for it, with
// the callable's exception carried back to the worker.
//
// The worker wakes the main thread's event loop through an eventfd watched by a socket notifier
// that lives on the main thread, so nothing of Qt is touched from the worker, and the request is
// served in every event loop of the main thread, nested modal ones included. While the main
// thread itself waits for the worker (WaitServing), it serves a request the worker has already
// made, so a worker that was waiting for the main thread can finish.
#pragma once

#include <atomic>
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

  // Worker side: has the main thread run `task`, waits until it has run, and rethrows what it
  // raised. One request at a time.
  void RunAndWait(const std::function<void()>& task);

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
    std::exception_ptr error;
  };

  void WakeMainThread();
  void DrainWakeups();

  int FWakeFd = -1;
  std::unique_ptr<QSocketNotifier> FNotifier;
  std::mutex FMutex;
  std::condition_variable FChanged;
  TRequest* FPending = nullptr;  // the request not yet taken by the main thread
  // Requests the main thread has finished; the worker waits for it to move.
  std::atomic<uint32_t> FServed{0};
};
