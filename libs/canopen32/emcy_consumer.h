// EMCY consumer: 0x080 + node, DLC 8 = [error code LE16, error register, 5 manufacturer bytes].
// The application gets the error register (object 0x1001 of the node), the one byte of the
// message that says which kind of error is present.
#pragma once

#include "service_context.h"

namespace canopen32 {

// A frame of the node's EMCY COB-ID: reported when it is an emergency message; remote frames
// and frames of the wrong length are ignored.
void handleEmcy(Context& context, uint8_t node, const canbus::Frame& frame);

}  // namespace canopen32
