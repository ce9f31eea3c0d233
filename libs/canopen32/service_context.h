// What every service of the protocol core sees: one way out for frames, one queue for the
// reports that become callbacks, and the time. No OS calls behind it.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <optional>
#include <span>

#include "canbus/frame.h"
#include "codes.h"

namespace canopen32 {

using Duration = std::chrono::microseconds;

// Time passed into the core: steady time for all deadlines, wall time (since the Unix epoch)
// only for the TIME message.
struct Now {
  Duration steady{0};
  Duration wall{0};
};

// One report for the application; becomes one of the eight callbacks.
struct Event {
  enum class Kind {
    sdoUpload,
    sdoDownload,
    pdoReceived,
    pdoTransmitted,
    nodeGuard,
    heartbeat,
    emcy,
    boot
  };
  Kind kind;
  uint8_t node;
  uint16_t a = 0;  // code / PDO number / state / error register
  uint16_t b = 0;  // NMT state code
};

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
  void emit(const Event& event) { events_.push_back(event); }
  std::deque<Event>& events() { return events_; }
  // Forgets reports of one kind not yet handed out, for one node (0: all nodes) and, when given,
  // one number (a PDO's): a service switched off before the next loop, or by a callback while
  // the loop hands out reports, does not report what it did before.
  void dropPending(Event::Kind kind, uint8_t node, std::optional<uint16_t> number = std::nullopt) {
    std::erase_if(events_, [&](const Event& event) {
      return event.kind == kind && (node == 0 || event.node == node) &&
             (!number || event.a == *number);
    });
  }

  bool extended() const { return extended_; }

 private:
  FrameSink& frames_;
  bool extended_;
  std::deque<Event> events_;
};

inline bool validNode(unsigned node) { return node >= 1 && node <= 127; }

}  // namespace canopen32
