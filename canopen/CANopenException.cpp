#include "CANopenException.h"

#include <cstdio>

namespace {

std::string BuildMessage(uint8_t id, uint16_t code, const std::string& descr) {
  char head[64];
  if (id == 0) {
    std::snprintf(head, sizeof head, "CANopen exception (code %Xh). ", unsigned{code});
  } else {
    std::snprintf(head, sizeof head, "CANopen exception (node id : %u / code %Xh). ", unsigned{id},
                  unsigned{code});
  }
  return head + descr;
}

}  // namespace

ECANopenException::ECANopenException(uint8_t id, uint16_t code, std::string descr)
    : std::runtime_error(BuildMessage(id, code, descr)),
      FId(id),
      FCode(code),
      FDescr(std::move(descr)) {}
