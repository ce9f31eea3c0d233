// Process-wide state shared by the driver callbacks and the master: the six callback queues,
// their busy flags, the two SDO completion records and CANopenLock. The driver's callbacks carry
// no reference to a component, so this exists once per process (one master per process).
//
// Only the main thread touches the queues, flags and records: the driver calls the callbacks only
// inside kcoLoop, and kcoLoop is called only on the main thread. They are therefore not locked.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>

#include "CANopenTypes.h"
#include "drivers/canopen.h"

// Completion record of the last SDO upload or download.
struct TSDODone {
  bool done = false;
  uint8_t id = 0;
  uint16_t code = 0;
};

// One callback queue with its busy flag. `generation` changes whenever the queue is emptied as a
// whole, so that a dispatch routine whose handler emptied it does not remove a newer record.
template <typename TRecord>
struct TCallbackQueue {
  std::deque<TRecord> records;
  bool busy = false;
  uint64_t generation = 0;

  void Clear() {
    records.clear();
    busy = false;
    ++generation;
  }
};

struct TCANopenCallbackState {
  TCallbackQueue<TPDORxCalledBack> PDOrx;
  TCallbackQueue<TPDOTxCalledBack> PDOtx;
  TCallbackQueue<TNODEGUARDCalledBack> NODEGUARD;
  TCallbackQueue<THEARTBEATCalledBack> HEARTBEAT;
  TCallbackQueue<TEMCYCalledBack> EMCY;
  TCallbackQueue<TBOOTCalledBack> BOOT;
  TSDODone SDOuploadDone;
  TSDODone SDOdownloadDone;

  // Empties the six queues and clears their busy flags; undelivered records are lost.
  void ClearQueues();
};

TCANopenCallbackState& CANopenCallbacks();

// Held around every kcoLoop call and by an SDO transfer from request to completion.
std::recursive_mutex& CANopenLock();

// The eight callbacks registered with kcoInit, in kcoInit's order.
extern "C" {
void OnSDOuploadDone(uint8_t id, uint16_t code);
void OnSDOdownloadDone(uint8_t id, uint16_t code);
void OnPDOrxCalledBack(uint8_t id, uint8_t num);
void OnPDOtxCalledBack(uint8_t id, uint8_t num);
void OnNODEGUARDCalledBack(uint8_t id, uint16_t state, uint16_t nmt);
void OnHEARTBEATCalledBack(uint8_t id, uint16_t state, uint16_t nmt);
void OnEMCYCalledBack(uint8_t id, uint8_t err);
void OnBOOTCalledBack(uint8_t id);
}
