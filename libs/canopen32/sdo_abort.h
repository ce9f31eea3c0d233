// The CiA 301 SDO abort codes, each with its meaning and a completion code of the library.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "codes.h"

namespace canopen32 {

struct SdoAbort {
  uint32_t abortCode;
  std::string_view meaning;
};

// Abort codes the client sends itself.
inline constexpr uint32_t kAbortToggle = 0x05030000;
inline constexpr uint32_t kAbortTimeout = 0x05040000;
inline constexpr uint32_t kAbortCommand = 0x05040001;
inline constexpr uint32_t kAbortOutOfMemory = 0x05040005;
inline constexpr uint32_t kAbortTypeLength = 0x06070010;
inline constexpr uint32_t kAbortGeneral = 0x08000000;

// The known abort codes; entry i has the completion code kSdoAbortFirst + i.
std::span<const SdoAbort> sdoAborts();

// Completion code for an abort code received from a server (kSdoAbortUnknown when unknown).
Code completionForAbort(uint32_t abortCode);

}  // namespace canopen32
