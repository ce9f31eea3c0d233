// One PDO of the module: its communication parameter (transmit 0x1800 + k, receive 0x1400 + k)
// and mapping parameter (0x1A00 + k, 0x1600 + k) with the CiA 301 rules for changing them; for
// a transmit PDO also when it is sent.
//
// Communication parameter: sub 1 COB-ID (bit 31 = not valid, bit 30 = no RTR, bit 29 = 29-bit
// id), sub 2 transmission type (0 acyclic synchronous, 1..240 every n-th SYNC, 254/255 event
// driven), sub 3 inhibit time (100 µs), sub 5 event timer (ms). Mapping parameter: sub 0 number
// of entries, sub 1..8 entries `index << 16 | sub-index << 8 | bits`.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <variant>

#include "canbus/frame.h"
#include "cia301/cob_id.h"
#include "cia301/objects.h"
#include "rq730sim/object_dictionary.h"

namespace rq730sim {

struct PdoSettings {
  uint32_t cobId = cia301::kCobIdInvalid;
  uint8_t transmissionType = cia301::kTransmissionEventProfile;
  uint16_t inhibitTime = 0;  // 100 µs
  uint16_t eventTimer = 0;   // ms
  uint8_t count = 0;
  std::array<uint32_t, cia301::kMaxPdoMappedObjects> entries{};
};

class Pdo {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  // Size in bits of an object that may be mapped, or why it may not.
  using MappableBits = std::function<std::variant<unsigned, SdoAbortCode>(uint16_t, uint8_t)>;

  explicit Pdo(PdoSettings defaults);

  const PdoSettings& settings() const { return settings_; }
  bool valid() const { return (settings_.cobId & cia301::kCobIdInvalid) == 0; }
  bool eventDriven() const {
    return settings_.transmissionType >= cia301::kTransmissionEventManufacturer;
  }
  unsigned mappedBits() const;

  // Back to the power-on settings (NMT reset communication).
  void reset();

  // SDO writes, checked as CiA 301 prescribes.
  std::optional<SdoAbortCode> writeCobId(uint32_t value);
  std::optional<SdoAbortCode> writeTransmissionType(uint8_t value);
  std::optional<SdoAbortCode> writeInhibitTime(uint16_t value);
  std::optional<SdoAbortCode> writeEventTimer(uint16_t value);
  std::optional<SdoAbortCode> writeCount(uint8_t value, const MappableBits& mappable);
  std::optional<SdoAbortCode> writeEntry(int subIndex, uint32_t value, const MappableBits& mappable);

  // Reception: whether a frame is this (valid) PDO.
  bool receives(const canbus::Frame& frame) const {
    return valid() && !frame.remote && !frame.extended && frame.id == (settings_.cobId & 0x7FF);
  }

  // Synchronous reception: the bytes of the last frame, applied at the next SYNC. They belong to
  // the mapping they were received under, so deleting the PDO (COB-ID invalid), changing its
  // mapping or resetting it discards them.
  void hold(Bytes data) { held_ = std::move(data); }
  std::optional<Bytes> takeHeld() { return std::exchange(held_, std::nullopt); }

  // Transmission. `data` is the current content of the mapped objects.
  void start();  // the node entered operational: the next poll sends at once
  std::optional<canbus::Frame> poll(TimePoint now, const Bytes& data);  // event driven types
  std::optional<canbus::Frame> sync(TimePoint now, const Bytes& data);  // synchronous types
  // When poll() next sends if the mapped objects keep holding `data`: `now` when at once,
  // nothing when only a change of the data (or a SYNC) would send it.
  std::optional<TimePoint> due(TimePoint now, const Bytes& data) const;

 private:
  canbus::Frame frameOf(TimePoint now, const Bytes& data);

  PdoSettings defaults_;
  PdoSettings settings_;
  std::optional<Bytes> held_;      // receive PDO: bytes waiting for the SYNC
  std::optional<Bytes> lastData_;  // nullopt: nothing sent since the start
  std::optional<TimePoint> lastSent_;
  unsigned syncCount_ = 0;
};

}  // namespace rq730sim
