#include "CPortErrors.h"

#include <array>

namespace {

constexpr std::array<const char*, 24> kErrorTexts{
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
    "Port Not Open",
};

std::string messageFor(int32_t code, int32_t winCode) {
  std::string message = ComErrorText(code);
  if (winCode > 0) message += " (Error: " + std::to_string(winCode) + ")";
  return message;
}

}  // namespace

const char* ComErrorText(int32_t code) {
  if (code < 1 || code > static_cast<int32_t>(kErrorTexts.size())) return "";
  return kErrorTexts[static_cast<size_t>(code - 1)];
}

EComPort::EComPort(int32_t code, int32_t winCode)
    : std::runtime_error(messageFor(code, winCode)),
      FCode(code),
      FWinCode(winCode > 0 ? winCode : -1) {}
