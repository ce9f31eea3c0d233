// SDO frames (8 bytes each way, client on 0x600 + node, server on 0x580 + node): the command
// byte's fields, the multiplexer (index, sub-index) and the frames of expedited and segmented
// transfers, encoded and decoded in one place for the client and the server.
//
//   initiate     [ccs/scs<<5 | n<<2 | e<<1 | s, index lo, index hi, sub, d0..d3]
//   segment      [cs<<5 | t<<4 | n<<1 | c, d0..d6]        n: bytes NOT used, c: last segment
//   segment ack  [cs<<5 | t<<4, 0 ...]
//   abort        [0x80, index lo, index hi, sub, code LE32]
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "cia301/little_endian.h"

namespace cia301 {

using SdoFrame = std::array<uint8_t, 8>;

// Client command specifiers (requests).
enum class SdoClientCommand : uint8_t {
  downloadSegment = 0,
  initiateDownload = 1,
  initiateUpload = 2,
  uploadSegment = 3,
  abort = 4,
  blockUpload = 5,
  blockDownload = 6,
};
// Server command specifiers (responses).
enum class SdoServerCommand : uint8_t {
  uploadSegment = 0,
  downloadSegment = 1,
  initiateUpload = 2,
  initiateDownload = 3,
  abort = 4,
};

inline constexpr std::size_t kSdoExpeditedMax = 4;  // bytes an initiate frame carries
inline constexpr std::size_t kSdoSegmentMax = 7;    // bytes a segment carries

constexpr uint8_t sdoCommand(const SdoFrame& frame) { return frame[0] >> 5; }
constexpr uint16_t sdoIndex(const SdoFrame& frame) {
  return static_cast<uint16_t>(frame[1] | frame[2] << 8);
}
constexpr uint8_t sdoSubIndex(const SdoFrame& frame) { return frame[3]; }

// Initiate frames.
constexpr bool sdoExpedited(const SdoFrame& frame) { return (frame[0] & 0x02) != 0; }
constexpr bool sdoSizeIndicated(const SdoFrame& frame) { return (frame[0] & 0x01) != 0; }
// Bytes of an expedited initiate with its size indicated (1..4).
constexpr std::size_t sdoExpeditedSize(const SdoFrame& frame) {
  return kSdoExpeditedMax - ((frame[0] >> 2) & 0x03);
}
// The size of a segmented transfer, announced in an initiate with its size indicated.
constexpr uint32_t sdoAnnouncedSize(const SdoFrame& frame) {
  return getLe(std::span(frame).subspan(4, 4));
}

// Segments.
constexpr uint8_t sdoToggle(const SdoFrame& frame) { return (frame[0] >> 4) & 0x01; }
constexpr std::size_t sdoSegmentSize(const SdoFrame& frame) {
  return kSdoSegmentMax - ((frame[0] >> 1) & 0x07);
}
constexpr bool sdoLastSegment(const SdoFrame& frame) { return (frame[0] & 0x01) != 0; }

// Aborts.
constexpr uint32_t sdoAbortCode(const SdoFrame& frame) {
  return getLe(std::span(frame).subspan(4, 4));
}

namespace sdo_detail {
constexpr SdoFrame initiate(uint8_t command, uint16_t index, uint8_t subIndex) {
  return {command, static_cast<uint8_t>(index), static_cast<uint8_t>(index >> 8), subIndex, 0, 0, 0,
          0};
}
constexpr uint8_t cs(auto command) {
  return static_cast<uint8_t>(static_cast<uint8_t>(command) << 5);
}
// An expedited initiate of 1..4 bytes with its size indicated.
constexpr SdoFrame expedited(uint8_t command, uint16_t index, uint8_t subIndex,
                             std::span<const uint8_t> data) {
  const std::size_t size = std::min(data.size(), kSdoExpeditedMax);
  SdoFrame frame = initiate(static_cast<uint8_t>(command | (kSdoExpeditedMax - size) << 2 | 0x03),
                            index, subIndex);
  std::copy_n(data.begin(), size, frame.begin() + 4);
  return frame;
}
// A segmented initiate announcing size bytes.
constexpr SdoFrame segmented(uint8_t command, uint16_t index, uint8_t subIndex, uint32_t size) {
  SdoFrame frame = initiate(static_cast<uint8_t>(command | 0x01), index, subIndex);
  putLe(std::span(frame).subspan(4, 4), size);
  return frame;
}
// A frame that carries only its command and toggle bit.
constexpr SdoFrame toggled(uint8_t command, uint8_t toggle) {
  return {static_cast<uint8_t>(command | (toggle & 1) << 4), 0, 0, 0, 0, 0, 0, 0};
}
}  // namespace sdo_detail

// Client: upload request.
constexpr SdoFrame sdoInitiateUploadRequest(uint16_t index, uint8_t subIndex) {
  return sdo_detail::initiate(sdo_detail::cs(SdoClientCommand::initiateUpload), index, subIndex);
}
// Client: expedited download of 1..4 bytes, size indicated.
constexpr SdoFrame sdoExpeditedDownloadRequest(uint16_t index, uint8_t subIndex,
                                               std::span<const uint8_t> data) {
  return sdo_detail::expedited(sdo_detail::cs(SdoClientCommand::initiateDownload), index, subIndex,
                               data);
}
// Client: segmented download of size bytes, size indicated.
constexpr SdoFrame sdoSegmentedDownloadRequest(uint16_t index, uint8_t subIndex, uint32_t size) {
  return sdo_detail::segmented(sdo_detail::cs(SdoClientCommand::initiateDownload), index, subIndex,
                               size);
}

// Server: expedited upload response of 1..4 bytes, size indicated.
constexpr SdoFrame sdoExpeditedUploadResponse(uint16_t index, uint8_t subIndex,
                                              std::span<const uint8_t> data) {
  return sdo_detail::expedited(sdo_detail::cs(SdoServerCommand::initiateUpload), index, subIndex,
                               data);
}
// Server: segmented upload response announcing size bytes.
constexpr SdoFrame sdoSegmentedUploadResponse(uint16_t index, uint8_t subIndex, uint32_t size) {
  return sdo_detail::segmented(sdo_detail::cs(SdoServerCommand::initiateUpload), index, subIndex,
                               size);
}
// Server: download initiated (or expedited download done).
constexpr SdoFrame sdoInitiateDownloadResponse(uint16_t index, uint8_t subIndex) {
  return sdo_detail::initiate(sdo_detail::cs(SdoServerCommand::initiateDownload), index, subIndex);
}

// A segment of up to seven bytes: a download segment (client) or an upload segment (server).
constexpr SdoFrame sdoSegment(uint8_t commandBits, uint8_t toggle, std::span<const uint8_t> data,
                              bool last) {
  const std::size_t size = std::min(data.size(), kSdoSegmentMax);
  SdoFrame frame{};
  frame[0] = static_cast<uint8_t>(commandBits | (toggle & 1) << 4 | (kSdoSegmentMax - size) << 1 |
                                  (last ? 1 : 0));
  std::copy_n(data.begin(), size, frame.begin() + 1);
  return frame;
}
constexpr SdoFrame sdoDownloadSegment(uint8_t toggle, std::span<const uint8_t> data, bool last) {
  return sdoSegment(sdo_detail::cs(SdoClientCommand::downloadSegment), toggle, data, last);
}
constexpr SdoFrame sdoUploadSegment(uint8_t toggle, std::span<const uint8_t> data, bool last) {
  return sdoSegment(sdo_detail::cs(SdoServerCommand::uploadSegment), toggle, data, last);
}
// Client: the next upload segment, please.
constexpr SdoFrame sdoUploadSegmentRequest(uint8_t toggle) {
  return sdo_detail::toggled(sdo_detail::cs(SdoClientCommand::uploadSegment), toggle);
}
// Server: download segment received.
constexpr SdoFrame sdoDownloadSegmentResponse(uint8_t toggle) {
  return sdo_detail::toggled(sdo_detail::cs(SdoServerCommand::downloadSegment), toggle);
}

// Either side: abort the transfer of index/subIndex with code.
constexpr SdoFrame sdoAbort(uint16_t index, uint8_t subIndex, uint32_t code) {
  SdoFrame frame = sdo_detail::initiate(sdo_detail::cs(SdoClientCommand::abort), index, subIndex);
  putLe(std::span(frame).subspan(4, 4), code);
  return frame;
}

}  // namespace cia301
