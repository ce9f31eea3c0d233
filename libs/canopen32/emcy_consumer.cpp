#include "emcy_consumer.h"

#include "cia301/cob_id.h"

namespace canopen32 {

bool handleEmcy(Context& context, const canbus::Frame& frame) {
  const auto node = cia301::nodeOf(frame.id, cia301::kEmcyBase);
  if (frame.remote || !node) return false;
  if (frame.length != 8) return true;  // not a valid EMCY: dropped
  context.emit(Emergency{*node, frame.data[2]});
  return true;
}

}  // namespace canopen32
