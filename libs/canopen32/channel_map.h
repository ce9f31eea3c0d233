// Which CAN channel a kcoInit hardware code stands for. Defaults:
//   8 (PEAK PCAN-USB)         the first SocketCAN interface whose kernel driver is peak_usb
//   1, 2 (virtual channels)   socketcan://vcan0, socketcan://vcan1
//   3..7, 9                   only by configuration
// CANOPEN32_CHANNELS ("CODE=URL,CODE=URL", e.g. "9=socketcand://127.0.0.1:29536/sim0") adds codes
// and overrides the defaults.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "codes.h"

namespace canopen32 {

struct InitFailure {
  Code code;
  std::string text;
};

// The kernel's name of a SocketCAN interface driven by the driver, if there is one.
using InterfaceFinder = std::function<std::optional<std::string>(std::string_view driver)>;

// The channel URL for the hardware code. `channels` is the value of CANOPEN32_CHANNELS (null
// when unset).
std::variant<std::string, InitFailure> channelUrlFor(uint8_t hardware, const char* channels,
                                                     const InterfaceFinder& findInterface);

// The kernel driver whose first interface the code stands for at every open and reopen
// ("peak_usb" for 8, unless configured otherwise); nullopt when the code means its URL.
std::optional<std::string> driverFor(uint8_t hardware, const char* channels);

}  // namespace canopen32
