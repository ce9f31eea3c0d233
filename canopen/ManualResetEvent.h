// A manual-reset event: stays set until reset; waiters block while it is not set.
#pragma once

#include <condition_variable>
#include <mutex>

class TManualResetEvent {
 public:
  void Set() {
    {
      std::lock_guard lock(FMutex);
      FSet = true;
    }
    FChanged.notify_all();
  }

  void Reset() {
    std::lock_guard lock(FMutex);
    FSet = false;
  }

  bool IsSet() const {
    std::lock_guard lock(FMutex);
    return FSet;
  }

  // Blocks without time-out until the event is set.
  void WaitFor() {
    std::unique_lock lock(FMutex);
    FChanged.wait(lock, [this] { return FSet; });
  }

 private:
  mutable std::mutex FMutex;
  std::condition_variable FChanged;
  bool FSet = false;
};
