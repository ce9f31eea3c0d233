// EMCY: a node's emergency message on 0x080 + node, eight bytes [error code LE16, error
// register, five manufacturer-specific bytes], and the bits of the error register (0x1001).
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "cia301/little_endian.h"

namespace cia301 {

using EmcyFrame = std::array<uint8_t, 8>;

// Error codes.
inline constexpr uint16_t kEmcyErrorReset = 0x0000;   // no error (any more)
inline constexpr uint16_t kEmcyLifeGuard = 0x8130;    // life guard or heartbeat error
inline constexpr uint16_t kEmcyPdoLength = 0x8210;    // PDO not processed: length error

// Error register bits.
inline constexpr uint8_t kErrorRegisterGeneric = 0x01;
inline constexpr uint8_t kErrorRegisterCommunication = 0x10;

// An emergency message with code and register; the manufacturer-specific bytes are 0.
constexpr EmcyFrame emcyFrame(uint16_t code, uint8_t errorRegister) {
  EmcyFrame frame{};
  putLe(std::span(frame).first(2), code);
  frame[2] = errorRegister;
  return frame;
}

}  // namespace cia301
