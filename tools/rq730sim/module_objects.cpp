// The module's object dictionary: which objects exist, their access, and where each value
// lives (communication state, PDOs, weight model, parameters).
#include <algorithm>
#include <bit>
#include <type_traits>

#include "cia301/little_endian.h"
#include "cia301/objects.h"
#include "rq730sim/simulator_impl.h"

namespace rq730sim {
namespace {

constexpr char kDeviceName[] = "RQ 730 weighing module";
constexpr uint32_t kDeviceType = 0x00000000;  // no standard device profile

bool isPdoObject(uint16_t index, int count) {
  return (index >= cia301::kTpdoCommunicationBase &&
          index < cia301::kTpdoCommunicationBase + count) ||
         (index >= cia301::kTpdoMappingBase && index < cia301::kTpdoMappingBase + count);
}

// A value of `size` bytes as the dictionary holds it (little endian).
Bytes valueBytes(uint32_t value, std::size_t size) {
  Bytes bytes(size);
  cia301::putLe(bytes, value);
  return bytes;
}

Entry constant(Bytes value) {
  Entry entry;
  entry.size = value.size();
  entry.read = [value = std::move(value)] { return value; };
  return entry;
}

template <typename T>
Entry readOnly(std::function<T()> get, bool mappable = false) {
  Entry entry;
  entry.size = sizeof(T);
  entry.mappable = mappable;
  entry.read = [get = std::move(get)] {
    if constexpr (std::is_floating_point_v<T>) {
      return valueBytes(std::bit_cast<uint32_t>(get()), sizeof(T));
    } else {
      return valueBytes(static_cast<uint32_t>(get()), sizeof(T));
    }
  };
  return entry;
}

template <typename T>
Entry readWrite(std::function<T()> get, std::function<std::optional<SdoAbortCode>(T)> set) {
  Entry entry = readOnly<T>(std::move(get));
  entry.access = Access::readWrite;
  entry.write = [set = std::move(set)](std::span<const uint8_t> data) {
    return set(static_cast<T>(cia301::getLe(data)));
  };
  return entry;
}

}  // namespace

void Simulator::Impl::buildDictionary() {
  ObjectDictionary& od = dictionary;
  od.setAccessGate([this](uint16_t index, uint8_t) -> std::optional<SdoAbortCode> {
    if (options.faults.missingObjects.contains(index)) return SdoAbortCode::noObject;
    if (isPdoObject(index, kPdos) && !isPdoObject(index, tpdos.present())) {
      return SdoAbortCode::noObject;
    }
    return std::nullopt;
  });
  od.setWriteGate([this](uint16_t index, uint8_t) -> std::optional<SdoAbortCode> {
    if (options.faults.rejectPdoConfig && isPdoObject(index, kPdos)) {
      return SdoAbortCode::parameterIncompatible;
    }
    return std::nullopt;
  });

  od.add(cia301::kDeviceTypeObject, 0, constant(valueBytes(kDeviceType, 4)));
  od.add(cia301::kErrorRegisterObject, 0,
         readOnly<uint8_t>([this] { return emcy.errorRegister(); }, true));
  od.add(cia301::kDeviceNameObject, 0,
         constant(Bytes(std::begin(kDeviceName), std::end(kDeviceName) - 1)));
  od.add(cia301::kGuardTimeObject, 0,
         readWrite<uint16_t>([this] { return guarding.guardTime(); },
                             [this](uint16_t value) -> std::optional<SdoAbortCode> {
                               guarding.setGuardTime(value);
                               return std::nullopt;
                             }));
  od.add(cia301::kLifeTimeFactorObject, 0,
         readWrite<uint8_t>([this] { return guarding.lifeTimeFactor(); },
                            [this](uint8_t value) -> std::optional<SdoAbortCode> {
                              guarding.setLifeTimeFactor(value);
                              return std::nullopt;
                            }));
  od.add(cia301::kHeartbeatTimeObject, 0,
         readWrite<uint16_t>([this] { return heartbeat.time(); },
                             [this](uint16_t value) -> std::optional<SdoAbortCode> {
                               heartbeat.setTime(value, now);
                               return std::nullopt;
                             }));
  const Parameters& p = options.parameters;
  od.add(cia301::kIdentityObject, 0, constant({4}));
  od.add(cia301::kIdentityObject, 1, constant(valueBytes(p.vendorId, 4)));
  od.add(cia301::kIdentityObject, 2, constant(valueBytes(p.productCode, 4)));
  od.add(cia301::kIdentityObject, 3, constant(valueBytes(p.revision, 4)));
  od.add(cia301::kIdentityObject, 4, constant(valueBytes(p.serialNumber, 4)));

  for (int k = 0; k < kPdos; ++k) {
    addPdoObjects(static_cast<uint16_t>(cia301::kTpdoCommunicationBase + k),
                  static_cast<uint16_t>(cia301::kTpdoMappingBase + k), tpdos.at(k), false);
    addPdoObjects(static_cast<uint16_t>(cia301::kRpdoCommunicationBase + k),
                  static_cast<uint16_t>(cia301::kRpdoMappingBase + k), rpdos.at(k), true);
  }

  // Zero command: writing 0 makes the current gross load the zero point.
  Entry zero;
  zero.access = Access::writeOnly;
  zero.size = 1;
  zero.receivable = true;
  zero.write = [this](std::span<const uint8_t> data) -> std::optional<SdoAbortCode> {
    if (data[0] != 0) return SdoAbortCode::invalidValue;
    weight.zero();
    return std::nullopt;
  };
  od.add(0x2003, 0, std::move(zero));

  od.add(0x2100, 0, readOnly<int16_t>([this] { return weight.legalWeight(); }, true));
  od.add(0x2101, 0, readOnly<uint8_t>([this] { return weight.zeroIndication(); }, true));
  od.add(0x2200, 0, readOnly<uint16_t>([this] { return weight.weightSignature(); }, true));
  od.add(0x2201, 0, readOnly<uint16_t>([this] { return weight.zeroIndicationSignature(); }, true));
  od.add(0x3004, 0, readOnly<float>([this] { return weight.unroundedKg(); }, true));

  od.add(0x3104, 0, constant({p.unit}));
  od.add(0x3105, 0, constant({p.division}));
  od.add(0x3106, 0, constant(valueBytes(p.capacity, 2)));
  od.add(0x3107, 0, constant(valueBytes(p.adjustmentCounter, 2)));
  od.add(0x3108, 0, constant(valueBytes(p.checksum, 2)));
}

void Simulator::Impl::addPdoObjects(uint16_t communication, uint16_t mapping, Pdo& pdo,
                                    bool receive) {
  ObjectDictionary& od = dictionary;
  Pdo::MappableBits mappable = [this, receive](uint16_t index, uint8_t subIndex) {
    return dictionary.mappableBits(index, subIndex, receive);
  };
  od.add(communication, cia301::kPdoHighestSub, constant({cia301::kPdoEventTimerSub}));
  od.add(communication, cia301::kPdoCobIdSub,
         readWrite<uint32_t>([&pdo] { return pdo.settings().cobId; },
                             [&pdo](uint32_t v) { return pdo.writeCobId(v); }));
  od.add(communication, cia301::kPdoTransmissionTypeSub,
         readWrite<uint8_t>([&pdo] { return pdo.settings().transmissionType; },
                            [&pdo](uint8_t v) { return pdo.writeTransmissionType(v); }));
  od.add(communication, cia301::kPdoInhibitTimeSub,
         readWrite<uint16_t>([&pdo] { return pdo.settings().inhibitTime; },
                             [&pdo](uint16_t v) { return pdo.writeInhibitTime(v); }));
  od.add(communication, cia301::kPdoEventTimerSub,
         readWrite<uint16_t>([&pdo] { return pdo.settings().eventTimer; },
                             [&pdo](uint16_t v) { return pdo.writeEventTimer(v); }));
  od.add(mapping, 0,
         readWrite<uint8_t>([&pdo] { return pdo.settings().count; },
                            [&pdo, mappable](uint8_t v) { return pdo.writeCount(v, mappable); }));
  for (int sub = 1; sub <= cia301::kMaxPdoMappedObjects; ++sub) {
    od.add(mapping, static_cast<uint8_t>(sub),
           readWrite<uint32_t>(
               [&pdo, sub] { return pdo.settings().entries[static_cast<std::size_t>(sub - 1)]; },
               [&pdo, sub, mappable](uint32_t v) { return pdo.writeEntry(sub, v, mappable); }));
  }
}

}  // namespace rq730sim
