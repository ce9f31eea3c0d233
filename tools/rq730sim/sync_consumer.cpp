#include "rq730sim/sync_consumer.h"

namespace rq730sim {

void SyncConsumer::onSync(const canbus::Frame& frame, cia301::NmtState state,
                          Clock::time_point now, const FrameSink& send) {
  if (state != cia301::NmtState::operational || frame.length > 1) return;
  receive_.onSync();
  transmit_.onSync(now, send);
}

}  // namespace rq730sim
