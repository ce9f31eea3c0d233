#include "rq730sim/transmit_pdos.h"

#include <algorithm>
#include <variant>

#include "cia301/cob_id.h"

namespace rq730sim {
namespace {

// Default mapping as the module leaves the factory (type 255, event timer 1000 ms): PDO 1 the
// legal weight with its signature, PDO 2 the zero indication with its signature, PDO 3 the
// unrounded weight, PDO 4 not valid and empty.
PdoSettings factoryDefaults(int k, uint8_t nodeId) {
  PdoSettings settings;
  settings.cobId = cia301::tpdoCobId(static_cast<unsigned>(k + 1), nodeId);
  settings.transmissionType = cia301::kTransmissionEventProfile;
  settings.eventTimer = 1000;
  switch (k) {
    case 0:
      settings.count = 2;
      settings.entries = {cia301::pdoMappingEntry(0x2100, 0, 16),
                          cia301::pdoMappingEntry(0x2200, 0, 16)};
      break;
    case 1:
      settings.count = 2;
      settings.entries = {cia301::pdoMappingEntry(0x2101, 0, 8),
                          cia301::pdoMappingEntry(0x2201, 0, 16)};
      break;
    case 2:
      settings.count = 1;
      settings.entries = {cia301::pdoMappingEntry(0x3004, 0, 32)};
      break;
    default:
      settings.cobId |= cia301::kCobIdInvalid;
      settings.eventTimer = 0;
      break;
  }
  return settings;
}

}  // namespace

TransmitPdos::TransmitPdos(const ObjectDictionary& dictionary, const Faults& faults,
                           uint8_t nodeId)
    : dictionary_(dictionary), faults_(faults) {
  for (int k = 0; k < kPdos; ++k) pdos_.emplace_back(factoryDefaults(k, nodeId));
}

int TransmitPdos::present() const { return std::clamp(faults_.tpdoCount, 0, kPdos); }

void TransmitPdos::reset() {
  for (Pdo& pdo : pdos_) pdo.reset();
}

void TransmitPdos::start() {
  for (Pdo& pdo : pdos_) pdo.start();
}

Bytes TransmitPdos::mappedData(const Pdo& pdo) const {
  Bytes data;
  const PdoSettings& settings = pdo.settings();
  for (int k = 0; k < settings.count; ++k) {
    const uint32_t entry = settings.entries[static_cast<std::size_t>(k)];
    auto value = dictionary_.read(cia301::mappedIndex(entry), cia301::mappedSubIndex(entry));
    Bytes part = std::holds_alternative<Bytes>(value) ? std::get<Bytes>(value) : Bytes{};
    part.resize(cia301::mappedBits(entry) / 8, 0);
    data.insert(data.end(), part.begin(), part.end());
  }
  return data;
}

void TransmitPdos::advance(Clock::time_point now, const FrameSink& send) {
  for (int k = 0; k < present(); ++k) {
    Pdo& pdo = at(k);
    if (auto frame = pdo.poll(now, mappedData(pdo))) send(*frame);
  }
}

void TransmitPdos::onSync(Clock::time_point now, const FrameSink& send) {
  for (int k = 0; k < present(); ++k) {
    Pdo& pdo = at(k);
    if (auto frame = pdo.sync(now, mappedData(pdo))) send(*frame);
  }
}

std::optional<Clock::time_point> TransmitPdos::deadline(Clock::time_point now) const {
  std::optional<Clock::time_point> earliest;
  for (int k = 0; k < present(); ++k) {
    const Pdo& pdo = pdos_[static_cast<std::size_t>(k)];
    if (auto due = pdo.due(now, mappedData(pdo)); due && (!earliest || *due < *earliest)) {
      earliest = due;
    }
  }
  return earliest;
}

bool TransmitPdos::watchingValues() const {
  for (int k = 0; k < present(); ++k) {
    const Pdo& pdo = pdos_[static_cast<std::size_t>(k)];
    if (pdo.valid() && pdo.settings().count != 0 && pdo.eventDriven()) return true;
  }
  return false;
}

}  // namespace rq730sim
