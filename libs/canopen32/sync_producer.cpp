#include "sync_producer.h"

#include "drivers/canopen.h"

namespace canopen32 {

Code SyncProducer::set(Now now, uint16_t function, uint16_t periodMs) {
  if (function != KCO_SYNC_ON && function != KCO_SYNC_OFF) return kSyncBadFunction;
  if (function == KCO_SYNC_OFF || periodMs == 0) {
    schedule_.stop();
  } else {
    schedule_.start(now.steady, std::chrono::milliseconds(periodMs), Duration{0});
  }
  return KCO_SYNC_OK;
}

void SyncProducer::tick(Now now) {
  // A frame that cannot be sent is simply missing on the bus; the next period tries again.
  if (schedule_.due(now.steady)) context_.send(0x080, {});
}

}  // namespace canopen32
