#include "engine.h"

#include "boot_up.h"
#include "cia301/cob_id.h"
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
      time_(context_) {
  Subscriptions& table = context_.subscriptions();
  table.subscribeNodes(
      cia301::kSdoResponseBase,
      [this](Now now, uint8_t node, const canbus::Frame& frame) { sdo_.handle(now, node, frame); });
  table.subscribeNodes(cia301::kErrorControlBase,
                       [this](Now now, uint8_t node, const canbus::Frame& frame) {
                         onErrorControl(now, node, frame);
                       });
  table.subscribeNodes(cia301::kEmcyBase, [this](Now, uint8_t node, const canbus::Frame& frame) {
    handleEmcy(context_, node, frame);
  });
  // Receive PDOs subscribe their COB-IDs when installed (pdo.cpp).
}

void Engine::onErrorControl(Now now, uint8_t node, const canbus::Frame& frame) {
  if (handleBootUp(context_, node, frame)) {
    guarding_.restartToggle(node);
  } else {
    guarding_.handle(now, node, frame);
  }
  heartbeat_.handle(now, node, frame);  // a boot-up is a heartbeat with state 0 as well
}

void Engine::onFrame(Now now, const canbus::Frame& frame) {
  // Only frames of the identifier format chosen at kcoInit belong to this network.
  if (frame.extended == context_.extended()) context_.subscriptions().dispatch(now, frame);
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

std::optional<Duration> Engine::nextDeadline() const {
  if (context_.reportsWaiting()) return Duration{0};
  std::optional<Duration> next = sdo_.nextDeadline();
  next = earliest(next, heartbeat_.nextDeadline());
  next = earliest(next, guarding_.nextDeadline());
  next = earliest(next, pdos_.nextDeadline());
  next = earliest(next, sync_.nextDeadline());
  return earliest(next, time_.nextDeadline());
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
