#include "monitor_options.h"

#include "cia301/cob_id.h"

namespace can_monitor {
namespace {

std::optional<uint32_t> number(const QString& text, uint32_t low, uint32_t high) {
  bool ok = false;
  const qulonglong value = text.trimmed().toULongLong(&ok, 0);
  if (!ok || value < low || value > high) return std::nullopt;
  return static_cast<uint32_t>(value);
}

// "A:B" with A in 1..127 and B in low..high.
std::optional<std::pair<uint8_t, uint32_t>> nodeAndValue(const QString& text, uint32_t low,
                                                         uint32_t high) {
  const QStringList parts = text.split(':');
  if (parts.size() != 2) return std::nullopt;
  const auto node = number(parts[0], cia301::kFirstNodeId, cia301::kLastNodeId);
  const auto value = number(parts[1], low, high);
  if (!node || !value) return std::nullopt;
  return std::pair{static_cast<uint8_t>(*node), *value};
}

}  // namespace

const std::vector<HardwareKind>& hardwareKinds() {
  static const std::vector<HardwareKind> kinds = {
      {haAutoSearch, "auto", "Auto search"},
      {haPeak_CAN_USB, "peak", "PEAK PCAN-USB"},
      {haTovald_CAN_USB, "tovald", "TOVALD CAN-USB"},
      {haVector_virtual_channel1, "virtual1", "VECTOR virtual channel 1"},
      {haVector_virtual_channel2, "virtual2", "VECTOR virtual channel 2"},
      {haVector_CANcardX1_channel1, "cancardx1-1", "VECTOR CANcardX 1 channel 1"},
      {haVector_CANcardX1_channel2, "cancardx1-2", "VECTOR CANcardX 1 channel 2"},
      {haVector_CANcardX2_channel1, "cancardx2-1", "VECTOR CANcardX 2 channel 1"},
      {haVector_CANcardX2_channel2, "cancardx2-2", "VECTOR CANcardX 2 channel 2"},
      {haVector_CANPari1_channel1, "canpari1-1", "VECTOR CANpari 1 channel 1"}};
  return kinds;
}

const std::vector<std::pair<TCANopenBitrate, uint32_t>>& bitrates() {
  static const std::vector<std::pair<TCANopenBitrate, uint32_t>> rates = {
      {br10kBit, 10000},   {br20kBit, 20000},   {br50kBit, 50000},   {br100kBit, 100000},
      {br125kBit, 125000}, {br250kBit, 250000}, {br500kBit, 500000}, {br1000kBit, 1000000}};
  return rates;
}

std::variant<Options, std::string> parseOptions(const QStringList& arguments) {
  Options options;
  for (int k = 0; k < arguments.size(); ++k) {
    QString name = arguments[k];
    QString value;
    bool hasValue = false;
    if (const qsizetype equals = name.indexOf('='); name.startsWith("--") && equals > 0) {
      value = name.mid(equals + 1);
      name = name.left(equals);
      hasValue = true;
    }
    const auto takeValue = [&]() -> bool {
      if (hasValue) return true;
      if (k + 1 >= arguments.size()) return false;
      value = arguments[++k];
      return true;
    };
    const std::string shown = name.toStdString();
    if (name == "--extended" || name == "--reset") {
      if (hasValue) return shown + " takes no value";
      (name == "--reset" ? options.reset : options.extendedId) = true;
      continue;
    }
    if (name != "--hardware" && name != "--bitrate" && name != "--heartbeat" &&
        name != "--receive" && name != "--start") {
      return "unknown argument '" + arguments[k].toStdString() + "'";
    }
    if (!takeValue()) return shown + " needs a value";
    const std::string given = value.toStdString();
    if (name == "--hardware") {
      bool found = false;
      for (const HardwareKind& kind : hardwareKinds()) {
        if (value == kind.option) {
          options.hardware = kind.hardware;
          found = true;
        }
      }
      if (!found) return "unknown interface kind '" + given + "'";
    } else if (name == "--bitrate") {
      const auto bps = number(value, 1, UINT32_MAX);
      bool found = false;
      for (const auto& [rate, perSecond] : bitrates()) {
        if (bps && *bps == perSecond) {
          options.bitrate = rate;
          found = true;
        }
      }
      if (!found) return "unsupported bit rate '" + given + "'";
    } else if (name == "--heartbeat") {
      const auto parsed = nodeAndValue(value, 1, 65535);
      if (!parsed)
        return "--heartbeat needs NODE:MS (node 1..127, 1..65535 ms), not '" + given + "'";
      options.heartbeats.push_back({parsed->first, static_cast<uint16_t>(parsed->second)});
    } else if (name == "--receive") {
      const auto parsed = nodeAndValue(value, 1, 4);
      if (!parsed) return "--receive needs NODE:NUM (node 1..127, PDO 1..4), not '" + given + "'";
      options.receives.push_back({parsed->first, static_cast<uint8_t>(parsed->second)});
    } else {
      const auto node = number(value, cia301::kFirstNodeId, cia301::kLastNodeId);
      if (!node) return "--start needs a node 1..127, not '" + given + "'";
      options.starts.push_back(static_cast<uint8_t>(*node));
    }
  }
  return options;
}

}  // namespace can_monitor
