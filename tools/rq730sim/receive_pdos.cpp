#include "rq730sim/receive_pdos.h"

#include <utility>

#include "cia301/cob_id.h"
#include "rq730sim/transmit_pdos.h"

namespace rq730sim {

ReceivePdos::ReceivePdos(ObjectDictionary& dictionary, uint8_t nodeId, LengthError onLengthError)
    : dictionary_(dictionary), onLengthError_(std::move(onLengthError)) {
  for (int k = 0; k < kPdos; ++k) {
    PdoSettings settings;
    settings.cobId = cia301::kCobIdInvalid | cia301::rpdoCobId(static_cast<unsigned>(k + 1), nodeId);
    settings.transmissionType = cia301::kTransmissionEventProfile;
    pdos_.emplace_back(settings);
  }
}

void ReceivePdos::reset() {
  for (Pdo& pdo : pdos_) pdo.reset();
}

void ReceivePdos::onFrame(const canbus::Frame& frame) {
  for (Pdo& pdo : pdos_) {
    if (!pdo.receives(frame) || pdo.settings().count == 0) continue;
    Bytes data(frame.data.begin(), frame.data.begin() + frame.length);
    if (pdo.eventDriven()) {
      apply(pdo, data);
    } else if (lengthFits(pdo, data)) {
      pdo.hold(std::move(data));  // synchronous: takes effect with the next SYNC
    }
  }
}

void ReceivePdos::onSync() {
  for (Pdo& pdo : pdos_) {
    if (auto held = pdo.takeHeld()) apply(pdo, *held);
  }
}

bool ReceivePdos::lengthFits(const Pdo& pdo, const Bytes& data) {
  if (data.size() * 8 >= pdo.mappedBits()) return true;
  onLengthError_();
  return false;
}

void ReceivePdos::apply(const Pdo& pdo, const Bytes& data) {
  // The data is read with the mapping in force now; bytes that do not fill it are a length
  // error, never read beyond.
  if (!lengthFits(pdo, data)) return;
  std::size_t offset = 0;
  const PdoSettings& settings = pdo.settings();
  for (int e = 0; e < settings.count; ++e) {
    const uint32_t entry = settings.entries[static_cast<std::size_t>(e)];
    const std::size_t bytes = cia301::mappedBits(entry) / 8;
    (void)dictionary_.write(cia301::mappedIndex(entry), cia301::mappedSubIndex(entry),
                            std::span<const uint8_t>(data.data() + offset, bytes));
    offset += bytes;
  }
}

}  // namespace rq730sim
