#include "rq730sim/object_dictionary.h"

namespace rq730sim {

void ObjectDictionary::add(uint16_t index, uint8_t subIndex, Entry entry) {
  entries_[{index, subIndex}] = std::move(entry);
}

void ObjectDictionary::setAccessGate(Gate gate) { accessGate_ = std::move(gate); }

void ObjectDictionary::setWriteGate(Gate gate) { writeGate_ = std::move(gate); }

std::variant<const Entry*, SdoAbort> ObjectDictionary::find(uint16_t index,
                                                            uint8_t subIndex) const {
  if (accessGate_) {
    if (auto abort = accessGate_(index, subIndex)) return *abort;
  }
  auto it = entries_.find({index, subIndex});
  if (it != entries_.end()) return &it->second;
  // The object exists when any of its sub-indexes does.
  auto first = entries_.lower_bound({index, 0});
  if (first != entries_.end() && first->first.first == index) return SdoAbort::noSubIndex;
  return SdoAbort::noObject;
}

std::optional<SdoAbort> ObjectDictionary::checkWrite(uint16_t index, uint8_t subIndex,
                                                     std::size_t size) const {
  auto found = find(index, subIndex);
  if (auto* abort = std::get_if<SdoAbort>(&found)) return *abort;
  const Entry& entry = *std::get<const Entry*>(found);
  if (entry.access == Access::readOnly || !entry.write) return SdoAbort::readOnly;
  if (size > entry.size) return SdoAbort::lengthTooHigh;
  if (size < entry.size) return SdoAbort::lengthTooLow;
  return std::nullopt;
}

std::variant<Bytes, SdoAbort> ObjectDictionary::read(uint16_t index, uint8_t subIndex) const {
  auto found = find(index, subIndex);
  if (auto* abort = std::get_if<SdoAbort>(&found)) return *abort;
  const Entry& entry = *std::get<const Entry*>(found);
  if (entry.access == Access::writeOnly || !entry.read) return SdoAbort::writeOnly;
  return entry.read();
}

std::optional<SdoAbort> ObjectDictionary::write(uint16_t index, uint8_t subIndex,
                                                std::span<const uint8_t> data) {
  if (auto abort = checkWrite(index, subIndex, data.size())) return abort;
  if (writeGate_) {
    if (auto abort = writeGate_(index, subIndex)) return abort;
  }
  return entries_.at({index, subIndex}).write(data);
}

std::variant<unsigned, SdoAbort> ObjectDictionary::mappableBits(uint16_t index, uint8_t subIndex,
                                                                bool receive) const {
  auto found = find(index, subIndex);
  if (std::holds_alternative<SdoAbort>(found)) return SdoAbort::notMappable;
  const Entry& entry = *std::get<const Entry*>(found);
  if (!(receive ? entry.receivable : entry.mappable) || entry.size == 0) {
    return SdoAbort::notMappable;
  }
  return static_cast<unsigned>(entry.size * 8);
}

Bytes toBytes(uint64_t value, std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
  return bytes;
}

uint64_t fromBytes(std::span<const uint8_t> bytes) {
  uint64_t value = 0;
  for (std::size_t i = 0; i < bytes.size() && i < 8; ++i) {
    value |= static_cast<uint64_t>(bytes[i]) << (8 * i);
  }
  return value;
}

}  // namespace rq730sim
