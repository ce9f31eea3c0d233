// SYNC producer: COB-ID 0x080, DLC 0, once per period. The first SYNC goes out at once.
#pragma once

#include "periodic.h"
#include "service_context.h"

namespace canopen32 {

class SyncProducer {
 public:
  explicit SyncProducer(Context& context) : context_(context) {}

  // KCO_SYNC_OK or a refusal. A period of 0 switches it off.
  Code set(Now now, uint16_t function, uint16_t periodMs);
  void tick(Now now);

 private:
  Context& context_;
  Periodic schedule_;
};

}  // namespace canopen32
