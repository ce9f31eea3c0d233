#include "heartbeat_consumer.h"

#include "drivers/canopen.h"
#include "nmt_state.h"

namespace canopen32 {

Code HeartbeatConsumer::set(Now, uint8_t node, uint16_t function, uint16_t timeMs) {
  if (function != KCO_HEARTBEAT_ON && function != KCO_HEARTBEAT_OFF) return kHeartbeatBadFunction;
  const bool on = function == KCO_HEARTBEAT_ON && timeMs != 0;
  if (node == 0 && !on) {
    for (Node& each : nodes_) each = Node{};
    context_.dropPending(Event::Kind::heartbeat, 0);
    return KCO_HEARTBEAT_OK;
  }
  if (!validNode(node)) return kBadNode;
  Node& supervised = nodes_[node];
  supervised = Node{};
  context_.dropPending(Event::Kind::heartbeat, node);
  if (on) {
    supervised.state = State::waiting;
    supervised.time = std::chrono::milliseconds(timeMs);
    context_.emit({Event::Kind::heartbeat, node, KCO_HEARTBEAT_WAITING, KCO_HEARTBEAT_NMT_UNKNOWN});
  }
  return KCO_HEARTBEAT_OK;
}

void HeartbeatConsumer::handle(Now now, const canbus::Frame& frame) {
  if (frame.remote || frame.length != 1 || frame.id < 0x701 || frame.id > 0x77F) return;
  const auto node = static_cast<uint8_t>(frame.id - 0x700);
  Node& supervised = nodes_[node];
  if (supervised.state == State::off) return;
  const uint8_t nmt = frame.data[0] & 0x7F;
  const bool changed = supervised.state != State::running || supervised.nmt != nmt;
  supervised.state = State::running;
  supervised.nmt = nmt;
  supervised.lastBeat = now.steady;
  if (changed) {
    context_.emit({Event::Kind::heartbeat, node, KCO_HEARTBEAT_RUNNING,
                   nmtCode(KCO_HEARTBEAT_NMT_UNKNOWN, nmt)});
  }
}

void HeartbeatConsumer::tick(Now now) {
  for (uint8_t node = 1; node <= 127; ++node) {
    Node& supervised = nodes_[node];
    if (supervised.state == State::running && now.steady - supervised.lastBeat > supervised.time) {
      supervised.state = State::stopped;
      context_.emit(
          {Event::Kind::heartbeat, node, KCO_HEARTBEAT_STOPPED, KCO_HEARTBEAT_NMT_UNKNOWN});
    }
  }
}

}  // namespace canopen32
