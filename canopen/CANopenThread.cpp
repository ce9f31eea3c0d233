#include "CANopenThread.h"

#include <QAbstractEventDispatcher>
#include <chrono>
#include <exception>
#include <mutex>

#include "CANopenCallbacks.h"
#include "CANopenMaster.h"
#include "ExceptionReport.h"
#include "drivers/canopen.h"

TCANopenThread* TCANopenThread::CreateThread(TCANopenMaster* master) {
  return new TCANopenThread(master);
}

TCANopenThread::TCANopenThread(TCANopenMaster* master) : FCANopenMaster(master) {
  FNestedPumpTimer.setInterval(1);
  FNestedPumpTimer.setTimerType(Qt::PreciseTimer);
  QObject::connect(&FNestedPumpTimer, &QTimer::timeout, [this] { NestedPump(); });
  // The main thread's event dispatcher only runs during a pump when an event loop is nested
  // inside the pump (an owner handler's modal dialog, or its own processing of events): the
  // nested-pump timer is armed then, not for every pump, so that a pump that returns without a
  // nested loop touches no timer.
  if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance()) {
    FNestedLoopWaits = QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock,
                                        [this] { ArmNestedPump(); });
    FNestedLoopRuns =
        QObject::connect(dispatcher, &QAbstractEventDispatcher::awake, [this] { ArmNestedPump(); });
  }
  FThread = std::thread([this] { Execute(); });
}

// The master stops the worker before it destroys it; joining here only makes sure no running
// thread outlives its object.
TCANopenThread::~TCANopenThread() {
  if (FThread.joinable()) FThread.join();
  QObject::disconnect(FNestedLoopWaits);
  QObject::disconnect(FNestedLoopRuns);
}

void TCANopenThread::Terminate() { FTerminated = true; }

void TCANopenThread::WaitFor() {
  FExecutor.WaitServing([this] { return FFinished.load(); });
  if (FThread.joinable()) FThread.join();
}

void TCANopenThread::Execute() {
  while (!FTerminated) {
    try {
      FCANopenMaster->Event->WaitFor();
      // The 1 ms pause between pumps starts when the pump has finished; the executor's timer
      // covers both, so the worker wakes once per cycle.
      if (!FTerminated) FExecutor.RunAndWait([this] { RunPump(); }, std::chrono::milliseconds(1));
    } catch (...) {
      // Shown on the main thread, like every other unhandled exception; the loop goes on.
      const std::exception_ptr error = std::current_exception();
      try {
        FExecutor.RunAndWait([error] { ReportException(error); });
      } catch (...) {
      }
    }
  }
  FFinished = true;
  FExecutor.Notify();
}

void TCANopenThread::RunPump() {
  struct TDepth {
    TCANopenThread& thread;
    explicit TDepth(TCANopenThread& t) : thread(t) {
      // Without an event dispatcher to watch, every pump arms the timer itself.
      if (thread.FPumpDepth++ == 0 && !thread.FNestedLoopRuns) thread.FNestedPumpTimer.start();
    }
    ~TDepth() {
      if (--thread.FPumpDepth == 0 && thread.FNestedPumpTimer.isActive()) {
        thread.FNestedPumpTimer.stop();
      }
    }
  } depth(*this);
  PumpDriver();
}

void TCANopenThread::ArmNestedPump() {
  if (FPumpDepth > 0 && !FNestedPumpTimer.isActive()) FNestedPumpTimer.start();
}

// Runs only from an event loop nested inside a pump, on the main thread. It pumps as the worker
// would while the master runs, and shows a failure the way the worker does, one at a time.
void TCANopenThread::NestedPump() {
  if (FReporting || FTerminated || !FCANopenMaster->Event->IsSet()) return;
  try {
    RunPump();
  } catch (...) {
    FReporting = true;
    ReportException(std::current_exception());
    FReporting = false;
  }
}

void TCANopenThread::PumpDriver() {
  {
    std::lock_guard lock(CANopenLock());
    kcoLoop();
  }
  TCANopenCallbackState& queues = CANopenCallbacks();
  TCANopenMaster& master = *FCANopenMaster;
  if (!queues.PDOrx.records.empty() && !queues.PDOrx.busy) master.DispatchPDOrx();
  if (!queues.PDOtx.records.empty() && !queues.PDOtx.busy) master.DispatchPDOtx();
  if (!queues.NODEGUARD.records.empty() && !queues.NODEGUARD.busy) master.DispatchNODEGUARD();
  if (!queues.HEARTBEAT.records.empty() && !queues.HEARTBEAT.busy) master.DispatchHEARTBEAT();
  if (!queues.EMCY.records.empty() && !queues.EMCY.busy) master.DispatchEMCY();
  if (!queues.BOOT.records.empty() && !queues.BOOT.busy) master.DispatchBOOT();
}
