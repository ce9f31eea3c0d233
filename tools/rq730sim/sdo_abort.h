// CiA 301 SDO abort codes that the module's SDO server sends.
#pragma once

#include <cstdint>

namespace rq730sim {

enum class SdoAbort : uint32_t {
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
  lengthMismatch = 0x06070010,
  lengthTooHigh = 0x06070012,
  lengthTooLow = 0x06070013,
  noSubIndex = 0x06090011,
  invalidValue = 0x06090030,
  valueTooHigh = 0x06090031,
  generalError = 0x08000000,
  deviceState = 0x08000022,
};

}  // namespace rq730sim
