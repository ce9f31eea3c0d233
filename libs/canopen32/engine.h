// The CANopen master's protocol core: frames and the time in, frames (through a FrameSink) and
// reports (through an EventSink) out. No OS calls; the C functions of canopen_api.cpp drive it
// from kcoLoop with the steady and the wall clock, tests with a fake clock.
#pragma once

#include <cstdint>

#include "drivers/canopen.h"
#include "heartbeat_consumer.h"
#include "node_guarding.h"
#include "pdo.h"
#include "sdo_client.h"
#include "service_context.h"
#include "sync_producer.h"
#include "time_producer.h"

namespace canopen32 {

class Engine {
 public:
  Engine(FrameSink& frames, EventSink& events, bool extended,
         Duration sdoTimeout = kSdoDefaultTimeout);

  // One received frame: routed by COB-ID; its reports are handed out before this returns.
  void onFrame(Now now, const canbus::Frame& frame);
  // Runs the due timers and hands out their reports, and the reports of earlier requests.
  void tick(Now now);
  // The channel went away (kSdoChannelLost) or its controller bus-off (kBusOff): running SDO
  // transfers complete with the code.
  void channelLost(Code code = kSdoChannelLost);

  Code nmt(uint8_t node, uint16_t command);
  Code sdo(Now now, uint8_t node, uint16_t index, uint8_t subindex, uint16_t function,
           uint16_t datatype, void* data);
  Code pdo(Now now, uint8_t node, uint8_t num, uint16_t function, uint16_t direction,
           const kcoPdoEntry* entries, uint32_t value);
  Code nodeGuard(Now now, uint8_t node, uint16_t function, uint16_t guardTime, uint8_t factor);
  Code heartbeat(Now now, uint8_t node, uint16_t function, uint16_t time);
  Code sync(Now now, uint16_t function, uint16_t period);
  Code timestamp(Now now, uint16_t function, uint16_t period);

  SdoClient& sdoClient() { return sdo_; }
  const Pdos& pdos() const { return pdos_; }

 private:
  void flush();

  EventSink& events_;
  Context context_;
  SdoClient sdo_;
  Pdos pdos_;
  HeartbeatConsumer heartbeat_;
  NodeGuarding guarding_;
  SyncProducer sync_;
  TimeProducer time_;
  bool flushing_ = false;
};

}  // namespace canopen32
