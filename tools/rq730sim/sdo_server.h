// The module's SDO server: expedited and segmented upload and download on the object dictionary,
// answered with the CiA 301 abort codes, as an explicit state machine. One 8-byte request in, at
// most one 8-byte response out; handle() is the one place where the state changes.
//
//   idle         expects an initiate download [0x2N idx sub data] or an initiate upload
//                [0x40 idx sub 0]; a segment here is answered "command unknown" naming 0x0000/0
//   downloading  after a segmented initiate download: expects a download segment
//                [0x0N/0x1N data] with the next toggle; the last one writes the object
//   uploading    after a segmented initiate upload: expects an upload segment request
//                [0x60/0x70 0 ...] with the next toggle; the last segment ends the transfer
//
// In every state an initiate replaces the transfer in progress, a client abort [0x80 ...] ends
// it without an answer, and block transfers or undefined specifiers are answered "command
// unknown"; every abort the server sends ends the transfer (back to idle).
#pragma once

#include <cstdint>
#include <optional>

#include "cia301/sdo.h"
#include "rq730sim/object_dictionary.h"

namespace rq730sim {

using SdoData = cia301::SdoFrame;

class SdoServer {
 public:
  enum class State { idle, downloading, uploading };

  explicit SdoServer(ObjectDictionary& dictionary);

  // Handles one request; nullopt when no answer is due (a client abort).
  std::optional<SdoData> handle(const SdoData& request);
  // Drops a transfer in progress (NMT reset, stop).
  void reset();
  State state() const { return state_; }

 private:
  // What the request does in the present state, and the state it leads to.
  std::optional<SdoData> initiateDownload(const SdoData& request);
  std::optional<SdoData> initiateUpload(const SdoData& request);
  SdoData downloadSegment(const SdoData& request);
  SdoData uploadSegment(const SdoData& request);
  // Answers with an abort for the transfer's object and goes back to idle.
  SdoData abort(SdoAbortCode code);
  void begin(const SdoData& request);  // a new transfer of the request's object

  ObjectDictionary& dictionary_;
  State state_ = State::idle;
  uint16_t index_ = 0;
  uint8_t subIndex_ = 0;
  uint8_t toggle_ = 0;
  std::optional<std::size_t> size_;  // announced size of a segmented download
  Bytes buffer_;                     // downloading: bytes so far; uploading: the value
  std::size_t offset_ = 0;           // uploading: bytes sent so far
};

}  // namespace rq730sim
