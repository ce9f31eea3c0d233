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
// A boot-up of the node restarts its toggle at 0. Guard time or factor 0 switches guarding off
// (CiA 301: guarding is not active then).
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
  // True when the frame was a reply this service waited for.
  bool handle(Now now, const canbus::Frame& frame);
  void nodeBooted(uint8_t node);
  void tick(Now now);

 private:
  struct Node {
    bool active = false;
    Duration guardTime{0};
    Duration lifeTime{0};
    Duration nextRequest{0};
    Duration lastReply{0};
    bool awaiting = false;
    uint8_t expectedToggle = 0;
    std::optional<uint8_t> lastNmt;
    bool missReported = false;
    bool lifeReported = false;
  };

  Context& context_;
  std::array<Node, 128> nodes_{};
};

}  // namespace canopen32
