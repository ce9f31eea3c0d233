#include "rq730sim/pdo.h"

#include <algorithm>

namespace rq730sim {
namespace {

struct EntryFields {
  uint16_t index;
  uint8_t subIndex;
  unsigned bits;
};

EntryFields split(uint32_t entry) {
  return {cia301::mappedIndex(entry), cia301::mappedSubIndex(entry), cia301::mappedBits(entry)};
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

std::optional<SdoAbortCode> Pdo::writeCobId(uint32_t value) {
  const bool becomesValid = (value & cia301::kCobIdInvalid) == 0;
  if ((value & cia301::kCobIdExtended) != 0) return SdoAbortCode::invalidValue;  // 11-bit ids only
  if ((value & 0x1FFFF800) != 0) return SdoAbortCode::invalidValue;
  if (becomesValid) {
    if (cia301::isRestrictedCobId(value & 0x7FF)) return SdoAbortCode::invalidValue;
    // While the PDO is valid only the valid bit may change.
    if (valid() && (value & 0x7FF) != (settings_.cobId & 0x7FF)) return SdoAbortCode::invalidValue;
    if (!valid()) start();  // a PDO that becomes valid goes out at once
  } else {
    held_.reset();  // a deleted PDO processes nothing it received before
  }
  settings_.cobId = value;
  return std::nullopt;
}

std::optional<SdoAbortCode> Pdo::writeTransmissionType(uint8_t value) {
  // 241..251 are reserved; 252/253 (on remote request only) are not offered by the module.
  if (value > cia301::kTransmissionSyncMax && value < cia301::kTransmissionEventManufacturer) return SdoAbortCode::invalidValue;
  settings_.transmissionType = value;
  syncCount_ = 0;
  return std::nullopt;
}

std::optional<SdoAbortCode> Pdo::writeInhibitTime(uint16_t value) {
  if (valid()) return SdoAbortCode::unsupportedAccess;
  settings_.inhibitTime = value;
  return std::nullopt;
}

std::optional<SdoAbortCode> Pdo::writeEventTimer(uint16_t value) {
  settings_.eventTimer = value;
  return std::nullopt;
}

std::optional<SdoAbortCode> Pdo::writeCount(uint8_t value, const MappableBits& mappable) {
  if (valid()) return SdoAbortCode::unsupportedAccess;
  if (value > cia301::kMaxPdoMappedObjects) return SdoAbortCode::pdoLengthExceeded;
  unsigned bits = 0;
  for (int k = 0; k < value; ++k) {
    const EntryFields fields = split(settings_.entries[k]);
    if (settings_.entries[k] == 0) return SdoAbortCode::invalidValue;
    auto size = mappable(fields.index, fields.subIndex);
    if (std::holds_alternative<SdoAbortCode>(size) || std::get<unsigned>(size) != fields.bits) {
      return SdoAbortCode::notMappable;
    }
    bits += fields.bits;
  }
  if (bits > cia301::kMaxPdoBits) return SdoAbortCode::pdoLengthExceeded;
  settings_.count = value;
  held_.reset();
  return std::nullopt;
}

std::optional<SdoAbortCode> Pdo::writeEntry(int subIndex, uint32_t value,
                                        const MappableBits& mappable) {
  if (valid() || settings_.count != 0) return SdoAbortCode::unsupportedAccess;
  if (value != 0) {
    const EntryFields fields = split(value);
    auto size = mappable(fields.index, fields.subIndex);
    if (auto* refused = std::get_if<SdoAbortCode>(&size)) return *refused;
    if (std::get<unsigned>(size) != fields.bits) return SdoAbortCode::notMappable;
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
  if (settings_.transmissionType == cia301::kTransmissionSyncAcyclic) {
    if (lastData_ && data == *lastData_) return std::nullopt;
    return frameOf(now, data);
  }
  if (++syncCount_ < settings_.transmissionType) return std::nullopt;
  syncCount_ = 0;
  return frameOf(now, data);
}

std::optional<Pdo::TimePoint> Pdo::due(TimePoint now, const Bytes& data) const {
  if (!valid() || settings_.count == 0 || !eventDriven()) return std::nullopt;
  if (!lastSent_) return now;  // started: goes out at once
  const TimePoint inhibitEnd =
      *lastSent_ + std::chrono::microseconds(100 * settings_.inhibitTime);
  if (!lastData_ || data != *lastData_) return std::max(inhibitEnd, now);
  if (settings_.eventTimer == 0) return std::nullopt;
  return std::max({*lastSent_ + std::chrono::milliseconds(settings_.eventTimer), inhibitEnd, now});
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
