// How long a classic CAN frame occupies the wire: its bits including stuff bits, CRC delimiter,
// ACK, end of frame and the 3-bit intermission.
#pragma once

#include <chrono>
#include <cstdint>

#include "canbus/frame.h"

namespace canbus {

// Bits without stuffing: 47 + 8n (standard id) or 67 + 8n (extended id); remote frames carry
// no data bits.
uint32_t unstuffedBits(const Frame& frame);
// The exact bit count of this frame on the wire: the unstuffed bits plus the stuff bits that its
// id, DLC, data and CRC-15 need (a stuff bit after five equal bits, SOF through CRC).
uint32_t wireBits(const Frame& frame);
// Wire time of the frame at the bit rate (bit/s, > 0).
std::chrono::nanoseconds wireTime(const Frame& frame, uint32_t bitrate);

}  // namespace canbus
