// What every service of the protocol core sees: one way out for frames, one queue for the
// reports that become callbacks, the table of COB-IDs the services receive, and the time. No OS
// calls behind it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <optional>
#include <span>

#include "canbus/frame.h"
#include "cia301/cob_id.h"
#include "clock.h"
#include "codes.h"
#include "events.h"
#include "subscriptions.h"

namespace canopen32 {

class FrameSink {
 public:
  virtual ~FrameSink() = default;
  // kSent, or the code of why the frame could not be sent.
  virtual Code send(const canbus::Frame& frame) = 0;
};

class Context {
 public:
  Context(FrameSink& frames, bool extended) : frames_(frames), extended_(extended) {}

  // Sends a frame on a CANopen COB-ID in the identifier format chosen at kcoInit.
  Code send(uint32_t cobId, std::span<const uint8_t> data, bool remote = false) {
    canbus::Frame frame;
    frame.id = cobId;
    frame.extended = extended_;
    frame.remote = remote;
    frame.length = static_cast<uint8_t>(data.size() > 8 ? 8 : data.size());
    for (uint8_t i = 0; i < frame.length; ++i) frame.data[i] = data[i];
    return frames_.send(frame);
  }
  Code send(uint32_t cobId, std::initializer_list<uint8_t> data) {
    return send(cobId, std::span<const uint8_t>(data.begin(), data.size()));
  }

  // Reports are queued and handed out by the engine between frames and timer runs, so a
  // callback never runs while a service is in the middle of its work.
  void emit(Event event) { events_.push_back(event); }
  std::deque<Event>& events() { return events_; }
  bool reportsWaiting() const { return !events_.empty(); }
  // Forgets reports of one kind not yet handed out, for one node (0: all nodes) and, when given,
  // one number (a PDO's): a service switched off before the next loop, or by a callback while
  // the loop hands out reports, does not report what it did before.
  template <typename Report>
  void dropPending(uint8_t node, std::optional<uint8_t> number = std::nullopt) {
    std::erase_if(events_, [&](const Event& event) {
      const auto* report = std::get_if<Report>(&event);
      if (report == nullptr || (node != 0 && report->node != node)) return false;
      if constexpr (requires { report->num; }) {
        if (number && report->num != *number) return false;
      }
      return true;
    });
  }
  // True while a report of this kind for the node waits to be handed out.
  template <typename Report>
  bool pending(uint8_t node) const {
    return std::ranges::any_of(events_, [node](const Event& event) {
      const auto* report = std::get_if<Report>(&event);
      return report != nullptr && report->node == node;
    });
  }

  Subscriptions& subscriptions() { return subscriptions_; }
  bool extended() const { return extended_; }

 private:
  FrameSink& frames_;
  bool extended_;
  std::deque<Event> events_;
  Subscriptions subscriptions_;
};

inline bool validNode(unsigned node) { return cia301::isNodeId(node); }

// Tables per node are indexed by the node id; slot 0 stays unused.
inline constexpr std::size_t kNodeSlots = cia301::kLastNodeId + 1;

}  // namespace canopen32
