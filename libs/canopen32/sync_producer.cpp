#include "sync_producer.h"

#include "cia301/cob_id.h"

namespace canopen32 {

void SyncProducer::tick(Now now) {
  // A frame that cannot be sent is simply missing on the bus; the next period tries again.
  if (due(now)) context_.send(cia301::kSync, {});
}

}  // namespace canopen32
