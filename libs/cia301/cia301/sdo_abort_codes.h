// The SDO abort codes of CiA 301 with their meanings, in one table. The driver library numbers
// its completion codes after this order (entry i: first abort completion code + i), so new
// codes go at the end.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace cia301 {

enum class SdoAbortCode : uint32_t {
  toggleNotAlternated = 0x05030000,
  timedOut = 0x05040000,
  unknownCommand = 0x05040001,
  outOfMemory = 0x05040005,
  unsupportedAccess = 0x06010000,
  writeOnly = 0x06010001,  // attempt to read a write-only object
  readOnly = 0x06010002,   // attempt to write a read-only object
  noObject = 0x06020000,
  notMappable = 0x06040041,
  pdoLengthExceeded = 0x06040042,
  parameterIncompatible = 0x06040043,
  internalIncompatible = 0x06040047,
  hardwareError = 0x06060000,
  lengthMismatch = 0x06070010,
  lengthTooHigh = 0x06070012,
  lengthTooLow = 0x06070013,
  noSubIndex = 0x06090011,
  invalidValue = 0x06090030,
  valueTooHigh = 0x06090031,
  valueTooLow = 0x06090032,
  maxBelowMin = 0x06090036,
  resourceNotAvailable = 0x060A0023,
  generalError = 0x08000000,
  cannotStore = 0x08000020,
  localControl = 0x08000021,
  deviceState = 0x08000022,
  noObjectDictionary = 0x08000023,
  noData = 0x08000024,
};

struct SdoAbortInfo {
  SdoAbortCode code;
  std::string_view meaning;
};

inline constexpr std::array<SdoAbortInfo, 28> kSdoAborts{{
    {SdoAbortCode::toggleNotAlternated, "toggle bit not alternated"},
    {SdoAbortCode::timedOut, "SDO protocol timed out"},
    {SdoAbortCode::unknownCommand, "client/server command specifier not valid or unknown"},
    {SdoAbortCode::outOfMemory, "out of memory"},
    {SdoAbortCode::unsupportedAccess, "unsupported access to an object"},
    {SdoAbortCode::writeOnly, "attempt to read a write-only object"},
    {SdoAbortCode::readOnly, "attempt to write a read-only object"},
    {SdoAbortCode::noObject, "object does not exist in the object dictionary"},
    {SdoAbortCode::notMappable, "object cannot be mapped to the PDO"},
    {SdoAbortCode::pdoLengthExceeded,
     "number and length of mapped objects would exceed PDO length"},
    {SdoAbortCode::parameterIncompatible, "general parameter incompatibility"},
    {SdoAbortCode::internalIncompatible, "general internal incompatibility in the device"},
    {SdoAbortCode::hardwareError, "access failed due to a hardware error"},
    {SdoAbortCode::lengthMismatch,
     "data type does not match, length of service parameter does not match"},
    {SdoAbortCode::lengthTooHigh, "data type does not match, length too high"},
    {SdoAbortCode::lengthTooLow, "data type does not match, length too low"},
    {SdoAbortCode::noSubIndex, "sub-index does not exist"},
    {SdoAbortCode::invalidValue, "invalid value for parameter"},
    {SdoAbortCode::valueTooHigh, "value of parameter written too high"},
    {SdoAbortCode::valueTooLow, "value of parameter written too low"},
    {SdoAbortCode::maxBelowMin, "maximum value is less than minimum value"},
    {SdoAbortCode::resourceNotAvailable, "resource not available"},
    {SdoAbortCode::generalError, "general error"},
    {SdoAbortCode::cannotStore, "data cannot be transferred or stored to the application"},
    {SdoAbortCode::localControl,
     "data cannot be transferred or stored to the application because of local control"},
    {SdoAbortCode::deviceState,
     "data cannot be transferred or stored to the application because of the present device "
     "state"},
    {SdoAbortCode::noObjectDictionary, "object dictionary not present"},
    {SdoAbortCode::noData, "no data available"},
}};

// The position of code in kSdoAborts; nothing for a code CiA 301 does not define.
constexpr std::optional<std::size_t> sdoAbortPosition(uint32_t code) {
  for (std::size_t i = 0; i < kSdoAborts.size(); ++i) {
    if (static_cast<uint32_t>(kSdoAborts[i].code) == code) return i;
  }
  return std::nullopt;
}

}  // namespace cia301
