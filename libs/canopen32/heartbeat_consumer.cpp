#include "heartbeat_consumer.h"

#include "cia301/nmt.h"
#include "drivers/canopen.h"
#include "nmt_state.h"

namespace canopen32 {

Code HeartbeatConsumer::set(Now, uint8_t node, uint16_t function, uint16_t timeMs) {
  if (function != KCO_HEARTBEAT_ON && function != KCO_HEARTBEAT_OFF) return kHeartbeatBadFunction;
  const bool on = function == KCO_HEARTBEAT_ON && timeMs != 0;
  if (node == 0 && !on) {
    for (Node& each : nodes_) each = Node{};
    context_.dropPending<HeartbeatReport>(0);
    return KCO_HEARTBEAT_OK;
  }
  if (!validNode(node)) return kBadNode;
  Node& supervised = nodes_[node];
  supervised = Node{};
  context_.dropPending<HeartbeatReport>(node);
  if (on) {
    supervised.state = State::waiting;
    supervised.time = std::chrono::milliseconds(timeMs);
    context_.emit(HeartbeatReport{node, KCO_HEARTBEAT_WAITING, KCO_HEARTBEAT_NMT_UNKNOWN});
  }
  return KCO_HEARTBEAT_OK;
}

void HeartbeatConsumer::handle(Now now, uint8_t node, const canbus::Frame& frame) {
  if (frame.remote || frame.length != 1) return;
  Node& supervised = nodes_[node];
  if (supervised.state == State::off) return;
  const auto nmt = static_cast<uint8_t>(frame.data[0] & ~cia301::kGuardingToggle);
  const bool changed = supervised.state != State::running || supervised.nmt != nmt;
  supervised.state = State::running;
  supervised.nmt = nmt;
  supervised.lastBeat = now.steady;
  if (changed) {
    context_.emit(
        HeartbeatReport{node, KCO_HEARTBEAT_RUNNING, nmtCode(KCO_HEARTBEAT_NMT_UNKNOWN, nmt)});
  }
}

void HeartbeatConsumer::tick(Now now) {
  for (uint8_t node = cia301::kFirstNodeId; node <= cia301::kLastNodeId; ++node) {
    Node& supervised = nodes_[node];
    if (supervised.state == State::running && now.steady - supervised.lastBeat > supervised.time) {
      supervised.state = State::stopped;
      context_.emit(HeartbeatReport{node, KCO_HEARTBEAT_STOPPED, KCO_HEARTBEAT_NMT_UNKNOWN});
    }
  }
}

std::optional<Duration> HeartbeatConsumer::nextDeadline() const {
  // A beat is missing once more than the time has passed since the last one.
  std::optional<Duration> next;
  for (const Node& supervised : nodes_) {
    if (supervised.state == State::running) {
      next = earliest(next, supervised.lastBeat + supervised.time + Duration{1});
    }
  }
  return next;
}

}  // namespace canopen32
