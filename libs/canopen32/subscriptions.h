// The core's routing table: which service takes the data and remote frames of which COB-ID.
// Each entry knows the node its COB-ID belongs to, so a range like 0x701..0x77F is checked once,
// here, and a service gets the node with the frame. A COB-ID nobody subscribed to is ignored.
#pragma once

#include <cstdint>
#include <functional>
#include <unordered_map>

#include "canbus/frame.h"
#include "cia301/cob_id.h"
#include "clock.h"

namespace canopen32 {

class Subscriptions {
 public:
  using Handler = std::function<void(Now now, uint8_t node, const canbus::Frame& frame)>;

  // The frames of one COB-ID, which belongs to node (a PDO).
  void subscribe(uint32_t cobId, uint8_t node, Handler handler) {
    entries_[cobId] = {node, std::move(handler)};
  }
  // The frames of base + 1 .. base + 127, each with its node.
  void subscribeNodes(uint32_t base, const Handler& handler) {
    for (unsigned node = cia301::kFirstNodeId; node <= cia301::kLastNodeId; ++node) {
      subscribe(base + node, static_cast<uint8_t>(node), handler);
    }
  }
  void unsubscribe(uint32_t cobId) { entries_.erase(cobId); }

  // Hands the frame to its subscriber; false when it has none.
  bool dispatch(Now now, const canbus::Frame& frame) const {
    const auto it = entries_.find(frame.id);
    if (it == entries_.end()) return false;
    it->second.handler(now, it->second.node, frame);
    return true;
  }

 private:
  struct Entry {
    uint8_t node;
    Handler handler;
  };
  std::unordered_map<uint32_t, Entry> entries_;
};

}  // namespace canopen32
