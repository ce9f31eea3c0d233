// What every service of the protocol core sees: one way out for frames, one queue for the
// reports that become callbacks, the table of COB-IDs the services receive, and the time. No OS
// calls behind it.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <variant>

#include "canbus/frame.h"
#include "cia301/cob_id.h"
#include "codes.h"

namespace canopen32 {

using Duration = std::chrono::microseconds;

// Time passed into the core: steady time for all deadlines, wall time (since the Unix epoch)
// only for the TIME message.
struct Now {
  Duration steady{0};
  Duration wall{0};
};

// The reports for the application; each becomes one of the eight callbacks.
enum class SdoDirection { upload, download };
struct SdoCompleted {
  uint8_t node;
  SdoDirection direction;
  Code code;
  // A text that says more than the code's fixed one (e.g. which unknown abort code the node
  // sent); the code's text from the moment the report is handed out.
  std::optional<std::string> detail;
};
struct PdoReceived {
  uint8_t node;
  uint8_t num;
};
struct PdoTransmitted {
  uint8_t node;
  uint8_t num;
};
struct GuardingReport {
  uint8_t node;
  uint16_t state;  // KCO_NODEGUARD_NOT_ACTIVATED ..
  uint16_t nmt;    // KCO_NODEGUARD_NMT_UNKNOWN ..
};
struct HeartbeatReport {
  uint8_t node;
  uint16_t state;  // KCO_HEARTBEAT_WAITING ..
  uint16_t nmt;    // KCO_HEARTBEAT_NMT_UNKNOWN ..
};
struct Emergency {
  uint8_t node;
  uint8_t errorRegister;
};
struct BootUp {
  uint8_t node;
};
using Event = std::variant<SdoCompleted, PdoReceived, PdoTransmitted, GuardingReport,
                           HeartbeatReport, Emergency, BootUp>;

inline uint8_t nodeOf(const Event& event) {
  return std::visit([](const auto& report) { return report.node; }, event);
}

class EventSink {
 public:
  virtual ~EventSink() = default;
  virtual void deliver(const Event& event) = 0;
};

class FrameSink {
 public:
  virtual ~FrameSink() = default;
  // kSent, or the code of why the frame could not be sent.
  virtual Code send(const canbus::Frame& frame) = 0;
};

// Which service receives the data frames of which COB-ID; a COB-ID nobody subscribed to is
// ignored.
class Subscriptions {
 public:
  using Handler = std::function<void(Now now, const canbus::Frame& frame)>;

  void subscribe(uint32_t cobId, Handler handler) { handlers_[cobId] = std::move(handler); }
  // base + 1 .. base + 127.
  void subscribeNodes(uint32_t base, const Handler& handler) {
    for (unsigned node = cia301::kFirstNodeId; node <= cia301::kLastNodeId; ++node) {
      subscribe(base + node, handler);
    }
  }
  void unsubscribe(uint32_t cobId) { handlers_.erase(cobId); }

  // True when a service took the frame.
  bool dispatch(Now now, const canbus::Frame& frame) const {
    const auto it = handlers_.find(frame.id);
    if (it == handlers_.end()) return false;
    it->second(now, frame);
    return true;
  }

 private:
  std::unordered_map<uint32_t, Handler> handlers_;
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
  void emit(Event event) { events_.push_back(std::move(event)); }
  std::deque<Event>& events() { return events_; }
  const std::deque<Event>& events() const { return events_; }
  // Forgets reports of one type not yet handed out, for one node (0: all nodes) and, when given,
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
  // True while a report of this type for the node waits to be handed out.
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

// The earlier of two optional deadlines.
inline std::optional<Duration> earliest(std::optional<Duration> a, std::optional<Duration> b) {
  if (!a) return b;
  if (!b) return a;
  return std::min(*a, *b);
}

}  // namespace canopen32
