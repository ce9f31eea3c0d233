#include "channel_map.h"

#include <charconv>

namespace canopen32 {
namespace {

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// The URL CANOPEN32_CHANNELS gives the code (the last entry wins), if any.
std::variant<std::optional<std::string>, InitFailure> configuredUrl(uint8_t hardware,
                                                                    const char* channels) {
  std::optional<std::string> configured;
  std::string_view rest = channels ? channels : "";
  while (!rest.empty()) {
    const size_t comma = rest.find(',');
    const std::string_view entry = trim(rest.substr(0, comma));
    rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
    if (entry.empty()) continue;
    const size_t equals = entry.find('=');
    unsigned entryCode = 0;
    const std::string_view codeText =
        equals == std::string_view::npos ? entry : trim(entry.substr(0, equals));
    const auto parsed =
        std::from_chars(codeText.data(), codeText.data() + codeText.size(), entryCode);
    const std::string_view url =
        equals == std::string_view::npos ? std::string_view{} : trim(entry.substr(equals + 1));
    if (equals == std::string_view::npos || parsed.ec != std::errc{} ||
        parsed.ptr != codeText.data() + codeText.size() || entryCode < 1 || entryCode > 9 ||
        url.empty()) {
      return InitFailure{kInitBadChannelsVariable,
                         "kcoInit: CANOPEN32_CHANNELS entry '" + std::string(entry) +
                             "' is malformed (expected CODE=URL with CODE 1..9, e.g. "
                             "9=socketcand://127.0.0.1:29536/sim0)"};
    }
    if (entryCode == hardware) configured = std::string(url);  // the last entry wins
  }
  return configured;
}

}  // namespace

std::variant<std::string, InitFailure> channelUrlFor(uint8_t hardware, const char* channels,
                                                     const InterfaceFinder& findInterface) {
  const std::string code = std::to_string(hardware);
  if (hardware < 1 || hardware > 9) {
    return InitFailure{kInitBadHardwareCode,
                       "kcoInit: unknown hardware code " + code + " (valid codes are 1..9)"};
  }
  auto configured = configuredUrl(hardware, channels);
  if (auto* failure = std::get_if<InitFailure>(&configured)) return std::move(*failure);
  if (auto& url = std::get<std::optional<std::string>>(configured)) return *url;
  switch (hardware) {
    case 1: return std::string("socketcan://vcan0");
    case 2: return std::string("socketcan://vcan1");
    case 8: {
      if (auto name = findInterface ? findInterface("peak_usb") : std::nullopt) {
        return "socketcan://" + *name;
      }
      return InitFailure{kInitNoInterface,
                         "kcoInit: hardware code 8 (PEAK PCAN-USB): no CAN interface with kernel "
                         "driver peak_usb found. Plug in the adapter and check with `ip link "
                         "show type can` that it appears; or set CANOPEN32_CHANNELS=8=URL"};
    }
    default:
      return InitFailure{kInitNotConfigured,
                         "kcoInit: no CAN interface configured for hardware "
                         "code " +
                             code + "; set CANOPEN32_CHANNELS=" + code + "=URL (e.g. " + code +
                             "=socketcand://127.0.0.1:29536/sim0)"};
  }
}

std::optional<std::string> driverFor(uint8_t hardware, const char* channels) {
  if (hardware != 8) return std::nullopt;
  auto configured = configuredUrl(hardware, channels);
  if (std::holds_alternative<InitFailure>(configured) ||
      std::get<std::optional<std::string>>(configured)) {
    return std::nullopt;
  }
  return std::string("peak_usb");
}

}  // namespace canopen32
