#include "emcy_consumer.h"

namespace canopen32 {

bool handleEmcy(Context& context, const canbus::Frame& frame) {
  if (frame.remote || frame.id < 0x081 || frame.id > 0x0FF) return false;
  if (frame.length != 8) return true;  // not a valid EMCY: dropped
  context.emit({Event::Kind::emcy, static_cast<uint8_t>(frame.id - 0x080), frame.data[2]});
  return true;
}

}  // namespace canopen32
