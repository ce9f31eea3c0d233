// The module's object dictionary: which objects exist, their access, and where each value
// lives (communication state, PDOs, weight model, parameters).
#include <algorithm>
#include <bit>
#include <type_traits>

#include "rq730sim/simulator_impl.h"

namespace rq730sim {
namespace {

constexpr char kDeviceName[] = "RQ 730 weighing module";
constexpr uint32_t kDeviceType = 0x00000000;  // no standard device profile

bool isPdoObject(uint16_t index, int count) {
  return (index >= kTpdoCommunicationBase && index < kTpdoCommunicationBase + count) ||
         (index >= kTpdoMappingBase && index < kTpdoMappingBase + count);
}

// Default mapping as the module leaves the factory: PDO 1 the legal weight with its signature,
// PDO 2 the zero indication with its signature, PDO 3 the unrounded weight, PDO 4 unused.
PdoSettings defaultTpdo(int k, uint8_t nodeId) {
  PdoSettings settings;
  settings.cobId = (0x180 + 0x100 * static_cast<uint32_t>(k) + nodeId);
  settings.transmissionType = 255;
  settings.eventTimer = 1000;
  switch (k) {
    case 0:
      settings.count = 2;
      settings.entries = {0x21000010, 0x22000010};
      break;
    case 1:
      settings.count = 2;
      settings.entries = {0x21010008, 0x22010010};
      break;
    case 2:
      settings.count = 1;
      settings.entries = {0x30040020};
      break;
    default:
      settings.cobId |= kCobIdInvalid;
      settings.eventTimer = 0;
      break;
  }
  return settings;
}

// Receive PDOs 0x200 / 0x300 / 0x400 / 0x500 + node id, not valid and empty until configured;
// the zero command is the object they can carry.
PdoSettings defaultRpdo(int k, uint8_t nodeId) {
  PdoSettings settings;
  settings.cobId = kCobIdInvalid | (0x200 + 0x100 * static_cast<uint32_t>(k) + nodeId);
  settings.transmissionType = 255;
  return settings;
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
      return toBytes(std::bit_cast<uint32_t>(get()), sizeof(T));
    } else {
      return toBytes(static_cast<uint64_t>(get()), sizeof(T));
    }
  };
  return entry;
}

template <typename T>
Entry readWrite(std::function<T()> get, std::function<std::optional<SdoAbort>(T)> set) {
  Entry entry = readOnly<T>(std::move(get));
  entry.access = Access::readWrite;
  entry.write = [set = std::move(set)](std::span<const uint8_t> data) {
    return set(static_cast<T>(fromBytes(data)));
  };
  return entry;
}

template <typename T>
Entry variable(T& storage) {
  return readWrite<T>([&storage] { return storage; },
                      [&storage](T value) -> std::optional<SdoAbort> {
                        storage = value;
                        return std::nullopt;
                      });
}

}  // namespace

Simulator::Impl::Impl(std::unique_ptr<canbus::Channel> channelIn, Options optionsIn)
    : channel(std::move(channelIn)), options(std::move(optionsIn)), weight(options) {
  if (options.nodeId < 1 || options.nodeId > 127) options.nodeId = 1;
  options.faults.tpdoCount = std::clamp(options.faults.tpdoCount, 0, kPdos);
  for (int k = 0; k < kPdos; ++k) {
    tpdos.emplace_back(defaultTpdo(k, options.nodeId));
    rpdos.emplace_back(defaultRpdo(k, options.nodeId));
  }
  buildDictionary();
}

void Simulator::Impl::buildDictionary() {
  ObjectDictionary& od = dictionary;
  od.setAccessGate([this](uint16_t index, uint8_t) -> std::optional<SdoAbort> {
    if (options.faults.missingObjects.contains(index)) return SdoAbort::noObject;
    if (isPdoObject(index, kPdos) && !isPdoObject(index, presentTpdos())) {
      return SdoAbort::noObject;
    }
    return std::nullopt;
  });
  od.setWriteGate([this](uint16_t index, uint8_t) -> std::optional<SdoAbort> {
    if (options.faults.rejectPdoConfig && isPdoObject(index, kPdos)) {
      return SdoAbort::parameterIncompatible;
    }
    return std::nullopt;
  });

  od.add(0x1000, 0, constant(toBytes(kDeviceType, 4)));
  od.add(0x1001, 0, readOnly<uint8_t>([this] { return errorRegister; }, true));
  od.add(0x1008, 0, constant(Bytes(std::begin(kDeviceName), std::end(kDeviceName) - 1)));
  od.add(0x100C, 0, variable(guardTime));
  od.add(0x100D, 0, variable(lifeTimeFactor));
  od.add(0x1017, 0,
         readWrite<uint16_t>([this] { return heartbeatTime; },
                             [this](uint16_t value) -> std::optional<SdoAbort> {
                               heartbeatTime = value;
                               nextHeartbeat = now + Milliseconds(value);
                               return std::nullopt;
                             }));
  const Parameters& p = options.parameters;
  od.add(0x1018, 0, constant({4}));
  od.add(0x1018, 1, constant(toBytes(p.vendorId, 4)));
  od.add(0x1018, 2, constant(toBytes(p.productCode, 4)));
  od.add(0x1018, 3, constant(toBytes(p.revision, 4)));
  od.add(0x1018, 4, constant(toBytes(p.serialNumber, 4)));

  for (int k = 0; k < kPdos; ++k) {
    addPdoObjects(static_cast<uint16_t>(kTpdoCommunicationBase + k),
                  static_cast<uint16_t>(kTpdoMappingBase + k), tpdos[static_cast<std::size_t>(k)],
                  false);
    addPdoObjects(static_cast<uint16_t>(kRpdoCommunicationBase + k),
                  static_cast<uint16_t>(kRpdoMappingBase + k), rpdos[static_cast<std::size_t>(k)],
                  true);
  }

  // Zero command: writing 0 makes the current gross load the zero point.
  Entry zero;
  zero.access = Access::writeOnly;
  zero.size = 1;
  zero.receivable = true;
  zero.write = [this](std::span<const uint8_t> data) -> std::optional<SdoAbort> {
    if (data[0] != 0) return SdoAbort::invalidValue;
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
  od.add(0x3106, 0, constant(toBytes(p.capacity, 2)));
  od.add(0x3107, 0, constant(toBytes(p.adjustmentCounter, 2)));
  od.add(0x3108, 0, constant(toBytes(p.checksum, 2)));
}

void Simulator::Impl::addPdoObjects(uint16_t communication, uint16_t mapping, Pdo& pdo,
                                    bool receive) {
  ObjectDictionary& od = dictionary;
  Pdo::MappableBits mappable = [this, receive](uint16_t index, uint8_t subIndex) {
    return dictionary.mappableBits(index, subIndex, receive);
  };
  od.add(communication, 0, constant({5}));
  od.add(communication, 1,
         readWrite<uint32_t>([&pdo] { return pdo.settings().cobId; },
                             [&pdo](uint32_t v) { return pdo.writeCobId(v); }));
  od.add(communication, 2,
         readWrite<uint8_t>([&pdo] { return pdo.settings().transmissionType; },
                            [&pdo](uint8_t v) { return pdo.writeTransmissionType(v); }));
  od.add(communication, 3,
         readWrite<uint16_t>([&pdo] { return pdo.settings().inhibitTime; },
                             [&pdo](uint16_t v) { return pdo.writeInhibitTime(v); }));
  od.add(communication, 5,
         readWrite<uint16_t>([&pdo] { return pdo.settings().eventTimer; },
                             [&pdo](uint16_t v) { return pdo.writeEventTimer(v); }));
  od.add(mapping, 0,
         readWrite<uint8_t>([&pdo] { return pdo.settings().count; },
                            [&pdo, mappable](uint8_t v) { return pdo.writeCount(v, mappable); }));
  for (int sub = 1; sub <= kMaxMappedObjects; ++sub) {
    od.add(mapping, static_cast<uint8_t>(sub),
           readWrite<uint32_t>(
               [&pdo, sub] { return pdo.settings().entries[static_cast<std::size_t>(sub - 1)]; },
               [&pdo, sub, mappable](uint32_t v) { return pdo.writeEntry(sub, v, mappable); }));
  }
}

}  // namespace rq730sim
