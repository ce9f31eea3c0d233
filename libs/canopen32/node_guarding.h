// Node guarding master: every guard time a remote frame on 0x700 + node; the node answers DLC 1,
// bits 0..6 its NMT state, bit 7 a toggle that starts at 0 and alternates. Reports:
//   switch-on                                  -> activated (NMT unknown)
//   first reply, a changed NMT state, or the
//   first good reply after a miss              -> state changed with the node's NMT state
//   a request went unanswered                  -> response missed, once per run of misses
//   guard time x life time factor without a
//   good reply                                 -> life time elapsed, once until a reply comes
//   a reply with the wrong toggle              -> toggle error; the reply does not count and
//                                                 the expected toggle follows the node again
// The toggle is the node's: it restarts at 0 only when the node boots (its boot-up message) or
// the master sends it an NMT reset (node or communication), never when the master switches
// guarding off and on again, so the expected toggle of each node outlives its guarding runs. A
// reply to a request sent before guarding was switched off still moves it on, without a report.
// Guard time or factor 0 switches guarding off (CiA 301: guarding is not active then).
#pragma once

#include <array>
#include <optional>

#include "service_context.h"

namespace canopen32 {

class NodeGuarding {
 public:
  explicit NodeGuarding(Context& context) : context_(context) {}

  // KCO_NODEGUARD_OK or a refusal. Node 0 with "off" switches all nodes off.
  Code set(Now now, uint8_t node, uint16_t function, uint16_t guardTimeMs, uint8_t factor);
  // A frame of the node's error control COB-ID that is no boot-up: taken when it is a reply to
  // a request.
  void handle(Now now, uint8_t node, const canbus::Frame& frame);
  // The node's boot-up message, or an NMT reset the master sent to it (0: to all nodes).
  void restartToggle(uint8_t node);
  void tick(Now now);
  // When tick next has something to do: a request is due or a life time runs out.
  std::optional<Duration> nextDeadline() const;

 private:
  struct Node {
    bool active = false;
    Duration guardTime{0};
    Duration lifeTime{0};
    Duration nextRequest{0};
    Duration lastReply{0};
    bool awaiting = false;  // a request of this run is unanswered
    std::optional<uint8_t> lastNmt;
    bool missReported = false;
    bool lifeReported = false;
  };

  Context& context_;
  std::array<Node, kNodeSlots> nodes_{};
  // Per node across runs: the toggle its next reply must carry, and whether a request (of any
  // run) is still unanswered.
  std::array<uint8_t, kNodeSlots> expectedToggle_{};
  std::array<bool, kNodeSlots> requestOut_{};
};

}  // namespace canopen32
