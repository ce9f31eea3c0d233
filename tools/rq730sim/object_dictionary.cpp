#include "rq730sim/object_dictionary.h"

namespace rq730sim {

void ObjectDictionary::add(uint16_t index, uint8_t subIndex, Entry entry) {
  entries_[{index, subIndex}] = std::move(entry);
}

void ObjectDictionary::setAccessGate(Gate gate) { accessGate_ = std::move(gate); }

void ObjectDictionary::setWriteGate(Gate gate) { writeGate_ = std::move(gate); }

std::variant<const Entry*, SdoAbortCode> ObjectDictionary::find(uint16_t index,
                                                            uint8_t subIndex) const {
  if (accessGate_) {
    if (auto abort = accessGate_(index, subIndex)) return *abort;
  }
  auto it = entries_.find({index, subIndex});
  if (it != entries_.end()) return &it->second;
  // The object exists when any of its sub-indexes does.
  auto first = entries_.lower_bound({index, 0});
  if (first != entries_.end() && first->first.first == index) return SdoAbortCode::noSubIndex;
  return SdoAbortCode::noObject;
}

std::optional<SdoAbortCode> ObjectDictionary::checkWrite(uint16_t index, uint8_t subIndex,
                                                     std::size_t size) const {
  auto found = find(index, subIndex);
  if (auto* abort = std::get_if<SdoAbortCode>(&found)) return *abort;
  const Entry& entry = *std::get<const Entry*>(found);
  if (entry.access == Access::readOnly || !entry.write) return SdoAbortCode::readOnly;
  if (size > entry.size) return SdoAbortCode::lengthTooHigh;
  if (size < entry.size) return SdoAbortCode::lengthTooLow;
  return std::nullopt;
}

std::variant<Bytes, SdoAbortCode> ObjectDictionary::read(uint16_t index, uint8_t subIndex) const {
  auto found = find(index, subIndex);
  if (auto* abort = std::get_if<SdoAbortCode>(&found)) return *abort;
  const Entry& entry = *std::get<const Entry*>(found);
  if (entry.access == Access::writeOnly || !entry.read) return SdoAbortCode::writeOnly;
  return entry.read();
}

std::optional<SdoAbortCode> ObjectDictionary::write(uint16_t index, uint8_t subIndex,
                                                std::span<const uint8_t> data) {
  if (auto abort = checkWrite(index, subIndex, data.size())) return abort;
  if (writeGate_) {
    if (auto abort = writeGate_(index, subIndex)) return abort;
  }
  return entries_.at({index, subIndex}).write(data);
}

std::variant<unsigned, SdoAbortCode> ObjectDictionary::mappableBits(uint16_t index, uint8_t subIndex,
                                                                bool receive) const {
  auto found = find(index, subIndex);
  if (std::holds_alternative<SdoAbortCode>(found)) return SdoAbortCode::notMappable;
  const Entry& entry = *std::get<const Entry*>(found);
  if (!(receive ? entry.receivable : entry.mappable) || entry.size == 0) {
    return SdoAbortCode::notMappable;
  }
  return static_cast<unsigned>(entry.size * 8);
}

}  // namespace rq730sim
