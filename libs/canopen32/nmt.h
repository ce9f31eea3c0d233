// NMT master: one command frame on COB-ID 0x000, [command specifier, node (0 = all)].
#pragma once

#include <cstdint>

#include "service_context.h"

namespace canopen32 {

// KCO_NMT_OK, or why nothing was sent.
Code sendNmt(Context& context, uint8_t node, uint16_t command);

}  // namespace canopen32
