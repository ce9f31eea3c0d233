#include "node_guarding.h"

#include "cia301/cob_id.h"
#include "cia301/nmt.h"
#include "drivers/canopen.h"
#include "nmt_state.h"

namespace canopen32 {

Code NodeGuarding::set(Now now, uint8_t node, uint16_t function, uint16_t guardTimeMs,
                       uint8_t factor) {
  if (function != KCO_NODEGUARD_ON && function != KCO_NODEGUARD_OFF) return kNodeguardBadFunction;
  const bool on = function == KCO_NODEGUARD_ON && guardTimeMs != 0 && factor != 0;
  if (node == 0 && !on) {
    for (Node& each : nodes_) each = Node{};
    context_.dropPending<GuardingReport>(0);
    return KCO_NODEGUARD_OK;
  }
  if (!validNode(node)) return kBadNode;
  Node& guarded = nodes_[node];
  guarded = Node{};
  context_.dropPending<GuardingReport>(node);
  if (on) {
    guarded.active = true;
    guarded.guardTime = std::chrono::milliseconds(guardTimeMs);
    guarded.lifeTime = guarded.guardTime * factor;
    guarded.nextRequest = now.steady;
    guarded.lastReply = now.steady;
    context_.emit(GuardingReport{node, KCO_NODEGUARD_ACTIVATED, KCO_NODEGUARD_NMT_UNKNOWN});
  }
  return KCO_NODEGUARD_OK;
}

void NodeGuarding::handle(Now now, uint8_t node, const canbus::Frame& frame) {
  if (frame.remote || frame.length != 1) return;
  Node& guarded = nodes_[node];
  if (!requestOut_[node]) return;
  requestOut_[node] = false;
  guarded.awaiting = false;
  const uint8_t toggle = (frame.data[0] & cia301::kGuardingToggle) != 0 ? 1 : 0;
  const auto nmt = static_cast<uint8_t>(frame.data[0] & ~cia301::kGuardingToggle);
  const bool toggleOk = toggle == expectedToggle_[node];
  expectedToggle_[node] = toggle ^ 1;  // follows the node also after a toggle error
  if (!guarded.active) return;         // the reply to a request sent before switch-off
  if (!toggleOk) {
    context_.emit(
        GuardingReport{node, KCO_NODEGUARD_TOGGLE_ERROR, nmtCode(KCO_NODEGUARD_NMT_UNKNOWN, nmt)});
    return;
  }
  guarded.lastReply = now.steady;
  const bool report =
      !guarded.lastNmt || *guarded.lastNmt != nmt || guarded.missReported || guarded.lifeReported;
  guarded.lastNmt = nmt;
  guarded.missReported = false;
  guarded.lifeReported = false;
  if (report) {
    context_.emit(
        GuardingReport{node, KCO_NODEGUARD_STATE_CHANGED, nmtCode(KCO_NODEGUARD_NMT_UNKNOWN, nmt)});
  }
}

void NodeGuarding::restartToggle(uint8_t node) {
  if (node == 0) {
    expectedToggle_.fill(0);
  } else if (validNode(node)) {
    expectedToggle_[node] = 0;
  }
}

void NodeGuarding::tick(Now now) {
  for (uint8_t node = cia301::kFirstNodeId; node <= cia301::kLastNodeId; ++node) {
    Node& guarded = nodes_[node];
    if (!guarded.active) continue;
    if (!guarded.lifeReported && now.steady - guarded.lastReply > guarded.lifeTime) {
      guarded.lifeReported = true;
      context_.emit(
          GuardingReport{node, KCO_NODEGUARD_LIFE_TIME_ELAPSED, KCO_NODEGUARD_NMT_UNKNOWN});
    }
    if (now.steady < guarded.nextRequest) continue;
    if (guarded.awaiting && !guarded.missReported) {
      guarded.missReported = true;
      context_.emit(GuardingReport{node, KCO_NODEGUARD_RESPONSE_MISSED, KCO_NODEGUARD_NMT_UNKNOWN});
    }
    guarded.nextRequest += guarded.guardTime;
    if (guarded.nextRequest <= now.steady) guarded.nextRequest = now.steady + guarded.guardTime;
    guarded.awaiting = true;
    requestOut_[node] = true;
    context_.send(cia301::kErrorControlBase + node, {}, true);
  }
}

std::optional<Duration> NodeGuarding::nextDeadline() const {
  // The next request, and the moment the life time has passed without a good reply.
  std::optional<Duration> next;
  for (const Node& guarded : nodes_) {
    if (!guarded.active) continue;
    next = earliest(next, guarded.nextRequest);
    if (!guarded.lifeReported) {
      next = earliest(next, guarded.lastReply + guarded.lifeTime + Duration{1});
    }
  }
  return next;
}

}  // namespace canopen32
