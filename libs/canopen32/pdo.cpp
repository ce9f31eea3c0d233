#include "pdo.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "cia301/cob_id.h"

namespace canopen32 {

Code Pdos::request(Now now, uint8_t node, uint8_t num, uint16_t function, uint16_t direction,
                   const kcoPdoEntry* entries, uint32_t value) {
  if (function != KCO_PDO_INSTALL && function != KCO_PDO_REMOVE) return kPdoBadFunction;
  if (direction != KCO_PDO_RECEIVE && direction != KCO_PDO_TRANSMIT) return kPdoBadDirection;
  const bool receive = direction == KCO_PDO_RECEIVE;
  auto& table = receive ? receive_ : transmit_;
  const bool numberOk = num >= 1 && num <= 4;
  // The node transmits what the master receives, and the other way round.
  const uint32_t cobId = receive ? cia301::tpdoCobId(num, node) : cia301::rpdoCobId(num, node);
  if (function == KCO_PDO_REMOVE) {
    if (validNode(node) && numberOk) {
      table.erase(cobId);
      if (receive) {
        context_.subscriptions().unsubscribe(cobId);
        context_.dropPending<PdoReceived>(node, num);
      } else {
        context_.dropPending<PdoTransmitted>(node, num);
      }
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
  if (receive) {
    context_.subscriptions().subscribe(
        cobId, node, [this](Now, uint8_t, const canbus::Frame& frame) { handle(frame); });
  }
  return KCO_PDO_OK;
}

void Pdos::handle(const canbus::Frame& frame) {
  const auto it = receive_.find(frame.id);
  if (frame.remote || it == receive_.end()) return;
  const Pdo& pdo = it->second;
  if (frame.length < pdo.totalLength) {
    ++lengthMismatches_;
    return;
  }
  unsigned offset = 0;
  for (const Mapped& entry : pdo.entries) {
    std::memcpy(entry.data, frame.data.data() + offset, entry.length);
    offset += entry.length;
  }
  context_.emit(PdoReceived{pdo.node, pdo.num});
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
      context_.emit(PdoTransmitted{pdo.node, pdo.num});
    }
  }
}

std::optional<Duration> Pdos::nextDeadline() const {
  std::optional<Duration> next;
  for (const auto& [cobId, pdo] : transmit_) {
    if (pdo.period.count() != 0) next = earliest(next, pdo.nextSend);
  }
  return next;
}

}  // namespace canopen32
