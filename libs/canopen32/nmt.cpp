#include "nmt.h"

#include "drivers/canopen.h"

namespace canopen32 {

Code sendNmt(Context& context, uint8_t node, uint16_t command) {
  uint8_t specifier = 0;
  switch (command) {
    case KCO_NMT_START:
      specifier = 0x01;
      break;
    case KCO_NMT_STOP:
      specifier = 0x02;
      break;
    case KCO_NMT_PREOPERATIONAL:
      specifier = 0x80;
      break;
    case KCO_NMT_RESET_NODE:
      specifier = 0x81;
      break;
    case KCO_NMT_RESET_COMMUNICATION:
      specifier = 0x82;
      break;
    default:
      return kNmtBadCommand;
  }
  if (node > 127) return kBadNodeOrAll;
  const Code sent = context.send(0x000, {specifier, node});
  return sent == kSent ? Code{KCO_NMT_OK} : sent;
}

}  // namespace canopen32
