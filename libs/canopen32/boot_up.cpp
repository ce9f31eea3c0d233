#include "boot_up.h"

#include "cia301/cob_id.h"
#include "cia301/nmt.h"

namespace canopen32 {

bool handleBootUp(Context& context, const canbus::Frame& frame) {
  const auto node = cia301::nodeOf(frame.id, cia301::kErrorControlBase);
  if (frame.remote || !node || frame.length != 1 ||
      frame.data[0] != static_cast<uint8_t>(cia301::NmtState::bootUp)) {
    return false;
  }
  context.emit(BootUp{*node});
  return true;
}

}  // namespace canopen32
