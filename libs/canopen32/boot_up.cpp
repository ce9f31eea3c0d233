#include "boot_up.h"

#include "cia301/nmt.h"

namespace canopen32 {

bool handleBootUp(Context& context, uint8_t node, const canbus::Frame& frame) {
  if (frame.remote || frame.length != 1 ||
      frame.data[0] != static_cast<uint8_t>(cia301::NmtState::bootUp)) {
    return false;
  }
  context.emit(BootUp{node});
  return true;
}

}  // namespace canopen32
