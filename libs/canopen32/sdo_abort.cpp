#include "sdo_abort.h"

#include <array>

namespace canopen32 {
namespace {

constexpr std::array<SdoAbort, 28> kAborts{{
    {0x05030000, "toggle bit not alternated"},
    {0x05040000, "SDO protocol timed out"},
    {0x05040001, "client/server command specifier not valid or unknown"},
    {0x05040005, "out of memory"},
    {0x06010000, "unsupported access to an object"},
    {0x06010001, "attempt to read a write-only object"},
    {0x06010002, "attempt to write a read-only object"},
    {0x06020000, "object does not exist in the object dictionary"},
    {0x06040041, "object cannot be mapped to the PDO"},
    {0x06040042, "number and length of mapped objects would exceed PDO length"},
    {0x06040043, "general parameter incompatibility"},
    {0x06040047, "general internal incompatibility in the device"},
    {0x06060000, "access failed due to a hardware error"},
    {0x06070010, "data type does not match, length of service parameter does not match"},
    {0x06070012, "data type does not match, length too high"},
    {0x06070013, "data type does not match, length too low"},
    {0x06090011, "sub-index does not exist"},
    {0x06090030, "invalid value for parameter"},
    {0x06090031, "value of parameter written too high"},
    {0x06090032, "value of parameter written too low"},
    {0x06090036, "maximum value is less than minimum value"},
    {0x060A0023, "resource not available"},
    {0x08000000, "general error"},
    {0x08000020, "data cannot be transferred or stored to the application"},
    {0x08000021,
     "data cannot be transferred or stored to the application because of local control"},
    {0x08000022,
     "data cannot be transferred or stored to the application because of the present device state"},
    {0x08000023, "object dictionary not present"},
    {0x08000024, "no data available"},
}};

}  // namespace

std::span<const SdoAbort> sdoAborts() { return kAborts; }

Code completionForAbort(uint32_t abortCode) {
  for (size_t i = 0; i < kAborts.size(); ++i) {
    if (kAborts[i].abortCode == abortCode) return static_cast<Code>(kSdoAbortFirst + i);
  }
  return kSdoAbortUnknown;
}

}  // namespace canopen32
