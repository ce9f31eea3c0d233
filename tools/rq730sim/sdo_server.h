// The module's SDO server: expedited and segmented upload and download on the object
// dictionary, with the CiA 301 abort codes. One request in, at most one response out.
//
// Request byte 0 (client command specifier in bits 5..7):
//   0x2N initiate download (bit 1 expedited, bit 0 size indicated, bits 2..3 unused bytes)
//   0x0N download segment   (bit 4 toggle, bits 1..3 unused bytes, bit 0 last)
//   0x40 initiate upload, 0x60/0x70 upload segment (bit 4 toggle), 0x80 abort
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "rq730sim/object_dictionary.h"

namespace rq730sim {

using SdoData = std::array<uint8_t, 8>;

class SdoServer {
 public:
  explicit SdoServer(ObjectDictionary& dictionary);

  // Handles one request of 8 bytes; nullopt when no answer is due (a client abort).
  std::optional<SdoData> handle(const SdoData& request);
  // Drops a transfer in progress (NMT reset, stop).
  void reset();

 private:
  enum class Mode { idle, download, upload };

  std::optional<SdoData> initiateDownload(const SdoData& request);
  std::optional<SdoData> downloadSegment(const SdoData& request);
  std::optional<SdoData> initiateUpload(const SdoData& request);
  std::optional<SdoData> uploadSegment(const SdoData& request);
  SdoData abort(SdoAbort code);

  ObjectDictionary& dictionary_;
  Mode mode_ = Mode::idle;
  uint16_t index_ = 0;
  uint8_t subIndex_ = 0;
  uint8_t toggle_ = 0;
  std::optional<std::size_t> size_;  // announced size of a segmented download
  Bytes buffer_;                     // download: bytes so far; upload: the value
  std::size_t offset_ = 0;           // upload: bytes sent so far
};

}  // namespace rq730sim
