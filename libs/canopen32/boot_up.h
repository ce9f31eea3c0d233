// Boot-up detection: a node that (re)starts sends 0x700 + node, DLC 1, [0x00].
#pragma once

#include "service_context.h"

namespace canopen32 {

// A frame of the node's error control COB-ID: true when it is a boot-up message; reports it.
bool handleBootUp(Context& context, uint8_t node, const canbus::Frame& frame);

}  // namespace canopen32
