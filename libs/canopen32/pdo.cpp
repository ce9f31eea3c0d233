#include "pdo.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace canopen32 {

Code Pdos::request(Now now, uint8_t node, uint8_t num, uint16_t function, uint16_t direction,
                   const kcoPdoEntry* entries, uint32_t value) {
  if (function != KCO_PDO_INSTALL && function != KCO_PDO_REMOVE) return kPdoBadFunction;
  if (direction != KCO_PDO_RECEIVE && direction != KCO_PDO_TRANSMIT) return kPdoBadDirection;
  const bool receive = direction == KCO_PDO_RECEIVE;
  auto& table = receive ? receive_ : transmit_;
  const bool numberOk = num >= 1 && num <= 4;
  const uint32_t cobId = (receive ? 0x180u : 0x200u) + (num - 1u) * 0x100u + node;
  if (function == KCO_PDO_REMOVE) {
    if (validNode(node) && numberOk) {
      table.erase(cobId);
      context_.dropPending(receive ? Event::Kind::pdoReceived : Event::Kind::pdoTransmitted, node,
                           num);
    }
    return KCO_PDO_OK;
  }
  if (!validNode(node)) return kBadNode;
  if (!numberOk) return kPdoBadNumber;
  if (entries == nullptr) return kPdoNoTable;

  Pdo pdo;
  pdo.node = node;
  pdo.num = num;
  unsigned total = 0;
  for (int i = 0; i < KCO_PDO_MAX_ENTRIES; ++i) {
    kcoPdoEntry entry;
    std::memcpy(&entry, entries + i, sizeof entry);  // packed: read without alignment demands
    if (entry.length == 0) break;
    if (entry.data == nullptr) return kPdoNullData;
    total += entry.length;
    if (total > 8) return kPdoTooLong;
    pdo.entries.push_back({entry.length, entry.data});
  }
  pdo.totalLength = static_cast<uint8_t>(total);
  if (!receive) {
    const Duration inhibit = std::chrono::microseconds(100) * (value & 0xFFFF);
    const Duration event = std::chrono::milliseconds(value >> 16);
    pdo.period = event.count() == 0 ? Duration{0} : std::max(event, inhibit);
    pdo.nextSend = now.steady + pdo.period;
  }
  table[cobId] = std::move(pdo);
  return KCO_PDO_OK;
}

bool Pdos::handle(const canbus::Frame& frame) {
  if (frame.remote) return false;
  const auto it = receive_.find(frame.id);
  if (it == receive_.end()) return false;
  const Pdo& pdo = it->second;
  if (frame.length < pdo.totalLength) {
    ++lengthMismatches_;
    return true;
  }
  unsigned offset = 0;
  for (const Mapped& entry : pdo.entries) {
    std::memcpy(entry.data, frame.data.data() + offset, entry.length);
    offset += entry.length;
  }
  context_.emit({Event::Kind::pdoReceived, pdo.node, pdo.num});
  return true;
}

void Pdos::tick(Now now) {
  for (auto& [cobId, pdo] : transmit_) {
    if (pdo.period.count() == 0 || now.steady < pdo.nextSend) continue;
    pdo.nextSend += pdo.period;
    if (pdo.nextSend <= now.steady) pdo.nextSend = now.steady + pdo.period;
    std::array<uint8_t, 8> data{};
    unsigned offset = 0;
    for (const Mapped& entry : pdo.entries) {
      std::memcpy(data.data() + offset, entry.data, entry.length);
      offset += entry.length;
    }
    if (context_.send(cobId, std::span<const uint8_t>(data.data(), pdo.totalLength)) == kSent) {
      context_.emit({Event::Kind::pdoTransmitted, pdo.node, pdo.num});
    }
  }
}

}  // namespace canopen32
