#include "nmt.h"

#include <optional>

#include "cia301/cob_id.h"
#include "cia301/nmt.h"
#include "drivers/canopen.h"

namespace canopen32 {
namespace {

std::optional<cia301::NmtCommand> commandFor(uint16_t command) {
  using cia301::NmtCommand;
  switch (command) {
    case KCO_NMT_START: return NmtCommand::start;
    case KCO_NMT_STOP: return NmtCommand::stop;
    case KCO_NMT_PREOPERATIONAL: return NmtCommand::enterPreOperational;
    case KCO_NMT_RESET_NODE: return NmtCommand::resetNode;
    case KCO_NMT_RESET_COMMUNICATION: return NmtCommand::resetCommunication;
    default: return std::nullopt;
  }
}

}  // namespace

Code sendNmt(Context& context, uint8_t node, uint16_t command) {
  const auto specifier = commandFor(command);
  if (!specifier) return kNmtBadCommand;
  if (node > cia301::kLastNodeId) return kBadNodeOrAll;
  const Code sent = context.send(cia301::kNmt, {static_cast<uint8_t>(*specifier), node});
  return sent == kSent ? Code{KCO_NMT_OK} : sent;
}

}  // namespace canopen32
