#include "engine.h"

#include "boot_up.h"
#include "emcy_consumer.h"
#include "nmt.h"

namespace canopen32 {

Engine::Engine(FrameSink& frames, EventSink& events, bool extended, Duration sdoTimeout)
    : events_(events),
      context_(frames, extended),
      sdo_(context_, sdoTimeout),
      pdos_(context_),
      heartbeat_(context_),
      guarding_(context_),
      sync_(context_),
      time_(context_) {}

void Engine::onFrame(Now now, const canbus::Frame& frame) {
  // Only frames of the identifier format chosen at kcoInit belong to this network.
  if (frame.extended == context_.extended()) {
    if (frame.id >= 0x581 && frame.id <= 0x5FF) {
      sdo_.handle(now, frame);
    } else if (frame.id >= 0x701 && frame.id <= 0x77F) {
      const auto node = static_cast<uint8_t>(frame.id - 0x700);
      if (handleBootUp(context_, frame)) {
        guarding_.restartToggle(node);
      } else {
        guarding_.handle(now, frame);
      }
      heartbeat_.handle(now, frame);  // a boot-up is a heartbeat with state 0 as well
    } else if (!pdos_.handle(frame)) {
      handleEmcy(context_, frame);
    }
  }
  flush();
}

void Engine::tick(Now now) {
  flush();  // reports of requests made since the last loop
  sdo_.tick(now);
  heartbeat_.tick(now);
  guarding_.tick(now);
  pdos_.tick(now);
  sync_.tick(now);
  time_.tick(now);
  flush();
}

void Engine::channelLost(Code code) { sdo_.failAll(code); }

void Engine::flush() {
  // A callback may call into the library again; its reports join the queue and are handed out
  // by this same loop, in order.
  if (flushing_) return;
  flushing_ = true;
  auto& queue = context_.events();
  while (!queue.empty()) {
    const Event event = queue.front();
    queue.pop_front();
    events_.deliver(event);
  }
  flushing_ = false;
}

Code Engine::nmt(uint8_t node, uint16_t command) {
  const Code result = sendNmt(context_, node, command);
  // A reset restarts the node's guarding toggle, like its boot-up that follows.
  if (result == KCO_NMT_OK &&
      (command == KCO_NMT_RESET_NODE || command == KCO_NMT_RESET_COMMUNICATION)) {
    guarding_.restartToggle(node);
  }
  return result;
}

Code Engine::sdo(Now now, uint8_t node, uint16_t index, uint8_t subindex, uint16_t function,
                 uint16_t datatype, void* data) {
  return sdo_.request(now, node, index, subindex, function, datatype, data);
}

Code Engine::pdo(Now now, uint8_t node, uint8_t num, uint16_t function, uint16_t direction,
                 const kcoPdoEntry* entries, uint32_t value) {
  return pdos_.request(now, node, num, function, direction, entries, value);
}

Code Engine::nodeGuard(Now now, uint8_t node, uint16_t function, uint16_t guardTime,
                       uint8_t factor) {
  return guarding_.set(now, node, function, guardTime, factor);
}

Code Engine::heartbeat(Now now, uint8_t node, uint16_t function, uint16_t time) {
  return heartbeat_.set(now, node, function, time);
}

Code Engine::sync(Now now, uint16_t function, uint16_t period) {
  return sync_.set(now, function, period);
}

Code Engine::timestamp(Now now, uint16_t function, uint16_t period) {
  return time_.set(now, function, period);
}

}  // namespace canopen32
