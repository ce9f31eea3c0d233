#include "emcy_consumer.h"

#include <span>

#include "cia301/little_endian.h"

namespace canopen32 {

void handleEmcy(Context& context, uint8_t node, const canbus::Frame& frame) {
  if (frame.remote || frame.length != 8) return;
  context.emit(Emergency{node, cia301::getLe16(std::span(frame.data).first(2)), frame.data[2]});
}

}  // namespace canopen32
