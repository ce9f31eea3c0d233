// The SYNC consumer: a SYNC (0x080 with no data or a one-byte counter) in operational makes the
// receive PDOs apply the bytes they hold, then the synchronous transmit PDOs go out. Other
// SYNC frames, and every SYNC outside operational, are ignored.
#pragma once

#include "canbus/frame.h"
#include "cia301/nmt.h"
#include "rq730sim/receive_pdos.h"
#include "rq730sim/simulator.h"
#include "rq730sim/transmit_pdos.h"

namespace rq730sim {

class SyncConsumer {
 public:
  SyncConsumer(ReceivePdos& receive, TransmitPdos& transmit)
      : receive_(receive), transmit_(transmit) {}

  void onSync(const canbus::Frame& frame, cia301::NmtState state, Clock::time_point now,
              const FrameSink& send);

 private:
  ReceivePdos& receive_;
  TransmitPdos& transmit_;
};

}  // namespace rq730sim
