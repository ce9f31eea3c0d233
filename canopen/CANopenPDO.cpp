// PDO installation of TCANopenMaster: the node's communication and mapping parameter objects by
// SDO (configured or checked), and the PDO in the driver with the caller's variables.
#include <array>

#include "CANopenErrors.h"
#include "CANopenMaster.h"
#include "drivers/canopen.h"

namespace {

// CiA 301 objects and pre-defined COB-IDs for PDO number n of node id. "Tx" is the master's
// transmit PDO, i.e. the node's receive PDO (0x1400/0x1600, COB-ID 0x200 + ...); "Rx" is the
// node's transmit PDO (0x1800/0x1A00, COB-ID 0x180 + ...). Unsigned arithmetic: numbers outside
// 1..4 reach the node's objects as they are.
struct TPdoObjects {
  uint16_t communication;
  uint16_t mapping;
  uint32_t cobId;
};

constexpr uint32_t kCobIdNotValid = 0x80000000;

TPdoObjects TxObjects(uint8_t id, uint8_t num) {
  return {static_cast<uint16_t>(0x1400 + num - 1), static_cast<uint16_t>(0x1600 + num - 1),
          0x200U + (num - 1U) * 0x100U + id};
}

TPdoObjects RxObjects(uint8_t id, uint8_t num) {
  return {static_cast<uint16_t>(0x1800 + num - 1), static_cast<uint16_t>(0x1A00 + num - 1),
          0x180U + (num - 1U) * 0x100U + id};
}

// The mapped objects: the entries before the first null ptdata, at most eight.
int EntryCount(const TPdoMappingParam& mapping) {
  int count = 0;
  while (count < static_cast<int>(mapping.size()) && mapping[count].ptdata != nullptr) ++count;
  return count;
}

// CiA 301 mapping entry: index in bits 16..31, sub-index in bits 8..15, length in bits 0..7.
uint32_t MappingEntryValue(const TPdoMappingEntry& entry) {
  return entry.index * 0x10000U + entry.subindex * 0x100U + entry.length * 8U;
}

// The driver knows a PDO only as byte lengths and variables; a length-0 entry ends the table
// when fewer than eight are used.
std::array<kcoPdoEntry, KCO_PDO_MAX_ENTRIES> DriverTable(const TPdoMappingParam& mapping) {
  std::array<kcoPdoEntry, KCO_PDO_MAX_ENTRIES> table{};
  const int count = EntryCount(mapping);
  for (int k = 0; k < count; ++k) table[k] = {mapping[k].length, mapping[k].ptdata};
  if (count < KCO_PDO_MAX_ENTRIES) table[count] = {0, nullptr};
  return table;
}

template <typename T>
constexpr uint16_t DataType() {
  static_assert(sizeof(T) == 1 || sizeof(T) == 2 || sizeof(T) == 4);
  if constexpr (sizeof(T) == 1) return KCO_TYPE_U8;
  if constexpr (sizeof(T) == 2) return KCO_TYPE_U16;
  return KCO_TYPE_U32;
}

}  // namespace

template <typename T>
void TCANopenMaster::WriteObject(uint8_t id, uint16_t index, uint8_t subindex, T value) {
  SDOdownload(id, {index, subindex, DataType<T>(), &value});
}

template <typename T>
T TCANopenMaster::ReadObject(uint8_t id, uint16_t index, uint8_t subindex) {
  T value{};
  SDOupload(id, {index, subindex, DataType<T>(), &value});
  return value;
}

void TCANopenMaster::ConfigurePdoObjects(uint8_t id, uint16_t mappingObject,
                                         uint16_t communicationObject,
                                         const TPdoMappingParam& mapping, uint8_t transmissionType,
                                         bool config, uint16_t mappingMismatch,
                                         uint16_t typeMismatch) {
  const int count = EntryCount(mapping);
  if (config) WriteObject<uint8_t>(id, mappingObject, 0, 0);
  for (int k = 1; k <= count; ++k) {
    const uint32_t value = MappingEntryValue(mapping[k - 1]);
    if (config) {
      WriteObject<uint32_t>(id, mappingObject, static_cast<uint8_t>(k), value);
    } else if (ReadObject<uint32_t>(id, mappingObject, static_cast<uint8_t>(k)) != value) {
      throw ECANopenException(id, mappingMismatch, GetErrorText(mappingMismatch));
    }
  }
  if (config) WriteObject<uint8_t>(id, mappingObject, 0, static_cast<uint8_t>(count));

  if (config) {
    WriteObject<uint8_t>(id, communicationObject, 2, transmissionType);
  } else if (ReadObject<uint8_t>(id, communicationObject, 2) != transmissionType) {
    throw ECANopenException(id, typeMismatch, GetErrorText(typeMismatch));
  }
}

void TCANopenMaster::TxPDOinstall(uint8_t id, uint8_t num, TPdoMappingParam mapping,
                                  TPdoCommunicationParam communication, bool config) {
  const TPdoObjects objects = TxObjects(id, num);
  ConfigurePdoObjects(id, objects.mapping, objects.communication, mapping,
                      communication.TransmissionType, config, CANOPEN_ERR_RXPDO_MAPPING,
                      CANOPEN_ERR_RXPDO_TRANSMISSION_TYPE);
  if (config) WriteObject<uint32_t>(id, objects.communication, 1, objects.cobId);

  const auto table = DriverTable(mapping);
  const uint32_t timing = communication.InhibitTime + communication.EventTime * 0x10000U;
  const uint16_t result = kcoPDO(id, num, KCO_PDO_INSTALL, KCO_PDO_TRANSMIT, table.data(), timing);
  if (result != KCO_PDO_OK) throw ECANopenException(id, result, DriverText(result));

  if (num >= 1 && num <= 4) SetStatistics2(id, st2TxPdo1Count + num - 1, "");
}

void TCANopenMaster::PDOuninstall(uint8_t id, uint8_t num, bool config, uint16_t direction,
                                  uint16_t communicationObject, uint32_t cobId, int firstCountRow) {
  kcoPDO(id, num, KCO_PDO_REMOVE, direction, nullptr, 0);  // a refusal does not matter
  if (config) WriteObject<uint32_t>(id, communicationObject, 1, kCobIdNotValid + cobId);
  if (num >= 1 && num <= 4) SetStatistics2(id, firstCountRow + num - 1, "");
}

void TCANopenMaster::TxPDOuninstall(uint8_t id, uint8_t num, bool config) {
  const TPdoObjects objects = TxObjects(id, num);
  PDOuninstall(id, num, config, KCO_PDO_TRANSMIT, objects.communication, objects.cobId,
               st2TxPdo1Count);
}

void TCANopenMaster::RxPDOinstall(uint8_t id, uint8_t num, TPdoMappingParam mapping,
                                  TPdoCommunicationParam communication, bool config) {
  const TPdoObjects objects = RxObjects(id, num);

  // The timing of a received PDO is the node's; the driver gets 0 (no inhibit time, no
  // reception deadline), so it takes every PDO the node sends as it comes.
  const auto table = DriverTable(mapping);
  const uint16_t result = kcoPDO(id, num, KCO_PDO_INSTALL, KCO_PDO_RECEIVE, table.data(), 0);
  if (result != KCO_PDO_OK) throw ECANopenException(id, result, DriverText(result));

  ConfigurePdoObjects(id, objects.mapping, objects.communication, mapping,
                      communication.TransmissionType, config, CANOPEN_ERR_TXPDO_MAPPING,
                      CANOPEN_ERR_TXPDO_TRANSMISSION_TYPE);

  // Inhibit time and event timer are optional in a node: each is one step whose failures,
  // including a check-mode difference, never stop the installation.
  const auto guardedTiming = [&](uint8_t subindex, uint16_t desired, uint16_t mismatchCode) {
    try {
      [[maybe_unused]] const uint16_t current =
          ReadObject<uint16_t>(id, objects.communication, subindex);
      if (config) {
        WriteObject<uint16_t>(id, objects.communication, subindex, desired);
      } else if (ReadObject<uint16_t>(id, objects.communication, subindex) < desired) {
        throw ECANopenException(id, mismatchCode, GetErrorText(mismatchCode));
      }
    } catch (...) {
    }
  };
  guardedTiming(3, communication.InhibitTime, CANOPEN_ERR_TXPDO_INHIBIT_TIME);
  guardedTiming(5, communication.EventTime, CANOPEN_ERR_TXPDO_EVENT_TIMER);

  if (config) WriteObject<uint32_t>(id, objects.communication, 1, objects.cobId);

  if (num >= 1 && num <= 4) SetStatistics2(id, st2RxPdo1Count + num - 1, "0");
}

void TCANopenMaster::RxPDOuninstall(uint8_t id, uint8_t num, bool config) {
  const TPdoObjects objects = RxObjects(id, num);
  PDOuninstall(id, num, config, KCO_PDO_RECEIVE, objects.communication, objects.cobId,
               st2RxPdo1Count);
}
