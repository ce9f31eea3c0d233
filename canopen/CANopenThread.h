// TCANopenThread: the master's worker. While the master's event is set it has the main thread run
// the pump (PumpDriver) about once per millisecond; it never touches the driver itself.
#pragma once

#include <QTimer>
#include <atomic>
#include <cstdint>
#include <thread>

#include "MainThreadExecutor.h"

class TCANopenMaster;

class TCANopenThread {
 public:
  // Creates the worker for `master` and starts it at once. Must be called on the main thread.
  static TCANopenThread* CreateThread(TCANopenMaster* master);
  ~TCANopenThread();
  TCANopenThread(const TCANopenThread&) = delete;
  TCANopenThread& operator=(const TCANopenThread&) = delete;

  // Asks the worker to leave its loop after the current cycle.
  void Terminate();
  // Main thread: waits for the worker's end, meanwhile serving a pump it has already requested.
  void WaitFor();

  uint8_t Status = 0;

 private:
  explicit TCANopenThread(TCANopenMaster* master);
  void Execute();
  // Main thread: one pump, with nested pumping armed while it runs.
  void RunPump();
  void PumpDriver();
  void NestedPump();
  // Main thread, whenever its event dispatcher runs: inside a pump, that is a nested loop.
  void ArmNestedPump();

  TCANopenMaster* FCANopenMaster;
  TMainThreadExecutor FExecutor;
  // While a pump runs on the main thread the worker waits for it, so when an owner handler opens
  // a modal dialog (a nested event loop) this timer keeps pumping from inside that loop; the busy
  // flags keep the handler's own kind of record from being delivered again. It runs only while
  // such a nested loop is open.
  QTimer FNestedPumpTimer;
  QMetaObject::Connection FNestedLoopWaits;
  QMetaObject::Connection FNestedLoopRuns;
  int FPumpDepth = 0;       // main thread only
  bool FReporting = false;  // main thread only: a nested pump's exception is being shown
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FFinished{false};
  std::thread FThread;
};
