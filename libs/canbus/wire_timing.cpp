#include "canbus/wire_timing.h"

#include <vector>

namespace canbus {
namespace {

constexpr uint32_t kTrailerBits = 1 + 1 + 1 + 7 + 3;  // CRC delimiter, ACK, ACK delimiter, EOF, IFS

void appendBits(std::vector<bool>& bits, uint32_t value, int count) {
  for (int i = count - 1; i >= 0; --i) bits.push_back(((value >> i) & 1U) != 0);
}

// The bits from SOF to the end of the data field, as the controller sends them before stuffing.
std::vector<bool> headerAndData(const Frame& frame) {
  std::vector<bool> bits;
  bits.push_back(false);  // SOF (dominant)
  const bool rtr = frame.remote;
  if (frame.extended) {
    appendBits(bits, frame.id >> 18, 11);  // base id
    bits.push_back(true);                  // SRR (recessive)
    bits.push_back(true);                  // IDE (recessive: extended)
    appendBits(bits, frame.id & 0x3FFFF, 18);
    bits.push_back(rtr);
    bits.push_back(false);  // r1
    bits.push_back(false);  // r0
  } else {
    appendBits(bits, frame.id, 11);
    bits.push_back(rtr);
    bits.push_back(false);  // IDE (dominant: standard)
    bits.push_back(false);  // r0
  }
  appendBits(bits, frame.length, 4);
  if (!rtr) {
    for (uint8_t i = 0; i < frame.length && i < kMaxDataLength; ++i)
      appendBits(bits, frame.data[i], 8);
  }
  return bits;
}

uint32_t crc15(const std::vector<bool>& bits) {
  uint32_t crc = 0;
  for (const bool bit : bits) {
    const bool feedback = bit != (((crc >> 14) & 1U) != 0);
    crc = (crc << 1) & 0x7FFF;
    if (feedback) crc ^= 0x4599;
  }
  return crc;
}

}  // namespace

uint32_t unstuffedBits(const Frame& frame) {
  const uint32_t dataBits = frame.remote ? 0 : 8U * frame.length;
  return (frame.extended ? 67U : 47U) + dataBits;
}

uint32_t wireBits(const Frame& frame) {
  std::vector<bool> bits = headerAndData(frame);
  appendBits(bits, crc15(bits), 15);
  uint32_t stuffBits = 0;
  int run = 0;
  bool last = false;
  for (const bool bit : bits) {
    if (run > 0 && bit == last) {
      ++run;
    } else {
      last = bit;
      run = 1;
    }
    if (run == 5) {
      // The stuff bit has the opposite level and starts a new run of its own.
      ++stuffBits;
      last = !bit;
      run = 1;
    }
  }
  return static_cast<uint32_t>(bits.size()) + kTrailerBits + stuffBits;
}

std::chrono::nanoseconds wireTime(const Frame& frame, uint32_t bitrate) {
  if (bitrate == 0) return std::chrono::nanoseconds(0);
  return std::chrono::nanoseconds(static_cast<int64_t>(wireBits(frame)) * 1'000'000'000 / bitrate);
}

}  // namespace canbus
