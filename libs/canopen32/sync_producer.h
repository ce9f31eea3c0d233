// SYNC producer: COB-ID 0x080, DLC 0, once per period. The first SYNC goes out at once.
#pragma once

#include "drivers/canopen.h"
#include "periodic.h"

namespace canopen32 {

class SyncProducer : public PeriodicProducer {
 public:
  explicit SyncProducer(Context& context)
      : PeriodicProducer(context, {KCO_SYNC_ON, KCO_SYNC_OFF, KCO_SYNC_OK, kSyncBadFunction}) {}

  void tick(Now now);
};

}  // namespace canopen32
