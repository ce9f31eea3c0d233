#include "CANopenCallbacks.h"

void TCANopenCallbackState::ClearQueues() {
  PDOrx.Clear();
  PDOtx.Clear();
  NODEGUARD.Clear();
  HEARTBEAT.Clear();
  EMCY.Clear();
  BOOT.Clear();
}

TCANopenCallbackState& CANopenCallbacks() {
  static TCANopenCallbackState state;
  return state;
}

std::recursive_mutex& CANopenLock() {
  static std::recursive_mutex lock;
  return lock;
}

// A callback only records: no lock, no owner handler. Appending may allocate; a failed
// allocation cannot be reported to the driver, so the record is dropped rather than letting an
// exception unwind through the C library.
template <typename TRecord>
static void Append(TCallbackQueue<TRecord>& queue, const TRecord& record) noexcept {
  try {
    queue.records.push_back(record);
  } catch (...) {
  }
}

extern "C" {

void OnSDOuploadDone(uint8_t id, uint16_t code) {
  CANopenCallbacks().SDOuploadDone = {true, id, code};
}

void OnSDOdownloadDone(uint8_t id, uint16_t code) {
  CANopenCallbacks().SDOdownloadDone = {true, id, code};
}

void OnPDOrxCalledBack(uint8_t id, uint8_t num) { Append(CANopenCallbacks().PDOrx, {id, num}); }

void OnPDOtxCalledBack(uint8_t id, uint8_t num) { Append(CANopenCallbacks().PDOtx, {id, num}); }

void OnNODEGUARDCalledBack(uint8_t id, uint16_t state, uint16_t nmt) {
  Append(CANopenCallbacks().NODEGUARD, {id, state, nmt});
}

void OnHEARTBEATCalledBack(uint8_t id, uint16_t state, uint16_t nmt) {
  Append(CANopenCallbacks().HEARTBEAT, {id, state, nmt});
}

void OnEMCYCalledBack(uint8_t id, uint8_t err) { Append(CANopenCallbacks().EMCY, {id, err}); }

void OnBOOTCalledBack(uint8_t id) { Append(CANopenCallbacks().BOOT, {id}); }

}  // extern "C"
