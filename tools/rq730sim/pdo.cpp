#include "rq730sim/pdo.h"

#include <algorithm>

namespace rq730sim {
namespace {

// CAN ids that CiA 301 reserves for other services; no PDO may use them.
bool restrictedId(uint32_t id) {
  return id <= 0x07F || (id >= 0x101 && id <= 0x180) || (id >= 0x581 && id <= 0x5FF) ||
         (id >= 0x601 && id <= 0x67F) || (id >= 0x6E0 && id <= 0x6FF) || id >= 0x701;
}

struct EntryFields {
  uint16_t index;
  uint8_t subIndex;
  unsigned bits;
};

EntryFields split(uint32_t entry) {
  return {static_cast<uint16_t>(entry >> 16), static_cast<uint8_t>(entry >> 8), entry & 0xFF};
}

}  // namespace

Pdo::Pdo(PdoSettings defaults) : defaults_(defaults), settings_(defaults) {}

unsigned Pdo::mappedBits() const {
  unsigned bits = 0;
  for (int k = 0; k < settings_.count; ++k) bits += split(settings_.entries[k]).bits;
  return bits;
}

void Pdo::reset() {
  settings_ = defaults_;
  held_.reset();
  start();
}

std::optional<SdoAbort> Pdo::writeCobId(uint32_t value) {
  const bool becomesValid = (value & kCobIdInvalid) == 0;
  if ((value & kCobIdExtended) != 0) return SdoAbort::invalidValue;  // 11-bit ids only
  if ((value & 0x1FFFF800) != 0) return SdoAbort::invalidValue;
  if (becomesValid) {
    if (restrictedId(value & 0x7FF)) return SdoAbort::invalidValue;
    // While the PDO is valid only the valid bit may change.
    if (valid() && (value & 0x7FF) != (settings_.cobId & 0x7FF)) return SdoAbort::invalidValue;
    if (!valid()) start();  // a PDO that becomes valid goes out at once
  } else {
    held_.reset();  // a deleted PDO processes nothing it received before
  }
  settings_.cobId = value;
  return std::nullopt;
}

std::optional<SdoAbort> Pdo::writeTransmissionType(uint8_t value) {
  // 241..251 are reserved; 252/253 (on remote request only) are not offered by the module.
  if (value > 240 && value < 254) return SdoAbort::invalidValue;
  settings_.transmissionType = value;
  syncCount_ = 0;
  return std::nullopt;
}

std::optional<SdoAbort> Pdo::writeInhibitTime(uint16_t value) {
  if (valid()) return SdoAbort::unsupportedAccess;
  settings_.inhibitTime = value;
  return std::nullopt;
}

std::optional<SdoAbort> Pdo::writeEventTimer(uint16_t value) {
  settings_.eventTimer = value;
  return std::nullopt;
}

std::optional<SdoAbort> Pdo::writeCount(uint8_t value, const MappableBits& mappable) {
  if (valid()) return SdoAbort::unsupportedAccess;
  if (value > kMaxMappedObjects) return SdoAbort::pdoLengthExceeded;
  unsigned bits = 0;
  for (int k = 0; k < value; ++k) {
    const EntryFields fields = split(settings_.entries[k]);
    if (settings_.entries[k] == 0) return SdoAbort::invalidValue;
    auto size = mappable(fields.index, fields.subIndex);
    if (std::holds_alternative<SdoAbort>(size) || std::get<unsigned>(size) != fields.bits) {
      return SdoAbort::notMappable;
    }
    bits += fields.bits;
  }
  if (bits > 64) return SdoAbort::pdoLengthExceeded;
  settings_.count = value;
  held_.reset();
  return std::nullopt;
}

std::optional<SdoAbort> Pdo::writeEntry(int subIndex, uint32_t value,
                                        const MappableBits& mappable) {
  if (valid() || settings_.count != 0) return SdoAbort::unsupportedAccess;
  if (value != 0) {
    const EntryFields fields = split(value);
    auto size = mappable(fields.index, fields.subIndex);
    if (auto* refused = std::get_if<SdoAbort>(&size)) return *refused;
    if (std::get<unsigned>(size) != fields.bits) return SdoAbort::notMappable;
  }
  settings_.entries[static_cast<std::size_t>(subIndex - 1)] = value;
  return std::nullopt;
}

void Pdo::start() {
  lastData_.reset();
  lastSent_.reset();
  syncCount_ = 0;
}

std::optional<canbus::Frame> Pdo::poll(TimePoint now, const Bytes& data) {
  if (!valid() || settings_.count == 0 || !eventDriven()) return std::nullopt;
  const bool changed = !lastData_ || data != *lastData_;
  const bool eventDue = settings_.eventTimer != 0 && lastSent_ &&
                        now - *lastSent_ >= std::chrono::milliseconds(settings_.eventTimer);
  const bool inhibitOver =
      !lastSent_ || now - *lastSent_ >= std::chrono::microseconds(100 * settings_.inhibitTime);
  if ((changed || eventDue) && inhibitOver) return frameOf(now, data);
  return std::nullopt;
}

std::optional<canbus::Frame> Pdo::sync(TimePoint now, const Bytes& data) {
  if (!valid() || settings_.count == 0 || eventDriven()) return std::nullopt;
  if (settings_.transmissionType == 0) {
    if (lastData_ && data == *lastData_) return std::nullopt;
    return frameOf(now, data);
  }
  if (++syncCount_ < settings_.transmissionType) return std::nullopt;
  syncCount_ = 0;
  return frameOf(now, data);
}

canbus::Frame Pdo::frameOf(TimePoint now, const Bytes& data) {
  canbus::Frame frame;
  frame.id = settings_.cobId & 0x7FF;
  frame.length = static_cast<uint8_t>(std::min<std::size_t>(data.size(), canbus::kMaxDataLength));
  std::copy_n(data.begin(), frame.length, frame.data.begin());
  lastData_ = data;
  lastSent_ = now;
  return frame;
}

}  // namespace rq730sim
