// Heartbeat consumer: supervises the heartbeat (0x700 + node, DLC 1, [NMT state]) of nodes.
// Reports changes only, never every beat:
//   switch-on                        -> waiting (NMT unknown), once
//   first beat, or NMT state changes -> running with the node's NMT state
//   no beat for longer than the time -> stopped (NMT unknown), once, until beats come back
// Supervision of a node starts with its first beat; a node that never beats stays "waiting".
#pragma once

#include <array>
#include <optional>

#include "service_context.h"

namespace canopen32 {

class HeartbeatConsumer {
 public:
  explicit HeartbeatConsumer(Context& context) : context_(context) {}

  // KCO_HEARTBEAT_OK or a refusal. Node 0 with "off" switches all nodes off; a time of 0
  // switches the node off (the CiA 301 meaning of consumer time 0).
  Code set(Now now, uint8_t node, uint16_t function, uint16_t timeMs);
  // A frame of the node's error control COB-ID (a boot-up counts as a beat with state 0).
  void handle(Now now, uint8_t node, const canbus::Frame& frame);
  void tick(Now now);
  // When tick next has something to do: the earliest time a running node's beat is missing.
  std::optional<Duration> nextDeadline() const;

 private:
  enum class State { off, waiting, running, stopped };
  struct Node {
    State state = State::off;
    Duration time{0};
    Duration lastBeat{0};
    uint8_t nmt = 0;
  };

  Context& context_;
  std::array<Node, kNodeSlots> nodes_{};
};

}  // namespace canopen32
