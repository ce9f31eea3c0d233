#include "boot_up.h"

namespace canopen32 {

bool handleBootUp(Context& context, const canbus::Frame& frame) {
  const uint32_t node = frame.id - 0x700;
  if (frame.remote || frame.id < 0x701 || frame.id > 0x77F || frame.length != 1 ||
      frame.data[0] != 0x00) {
    return false;
  }
  context.emit({Event::Kind::boot, static_cast<uint8_t>(node)});
  return true;
}

}  // namespace canopen32
