// SDO client: one transfer per node at a time, requests on 0x600 + node, responses on
// 0x580 + node, always DLC 8 (the frames of cia301/sdo.h). Uploads take expedited or segmented
// responses; downloads carry the 1, 2 or 4 bytes of a number, always expedited (kcoSDO refuses
// to download text). Each transfer is a small state machine, one state per frame it waits for:
//
//   uploadInitiate    sent [0x40 idx sub 0]; expects [0x4N idx sub d0..d3]:
//                       expedited (e = 1): its bytes end the upload;
//                       segmented (e = 0, size in d0..d3 when s = 1): answered with the first
//                       segment request [0x60 0 ...] → uploadSegment
//   uploadSegment     sent [0x60 | t<<4 0 ...]; expects [t<<4 | n<<1 | c, 7 - n bytes] with the
//                     same toggle t: c = 1 ends the upload, else the next request with t flipped
//   downloadInitiate  sent [0x2N idx sub d0..d3] (expedited, size indicated); expects
//                     [0x60 idx sub 0], which ends the download
//
// In every state: [0x80 idx sub code] from the node ends the transfer with the abort's code; a
// frame that is not 8 bytes long, or any response but the one expected, makes the client abort
// (abort frame to the node, error completion); no response within the time-out of the step
// makes it send abort 0x05040000 and complete with kSdoTimeout. A response while no transfer
// runs is ignored. Every accepted request completes exactly once; the caller's variable is
// written only on success and never beyond its type's width. An upload segment without data
// that announces more breaks the protocol too: so every response that does not end a transfer
// brings it at least one byte nearer its end, and a transfer ends after at most
// kSdoMaxUpload + 2 responses, each within the step time-out, whatever the node sends.
// A text upload hands out the library's NUL-terminated copy; it stays valid until the next text
// upload from the same node, also across kcoInit.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "cia301/sdo.h"
#include "cia301/sdo_abort_codes.h"
#include "service_context.h"

namespace canopen32 {

// The largest value a segmented upload may announce or deliver.
inline constexpr size_t kSdoMaxUpload = 4096;
inline constexpr Duration kSdoDefaultTimeout = std::chrono::milliseconds(1000);

class SdoClient {
 public:
  SdoClient(Context& context, Duration timeout) : context_(context), timeout_(timeout) {}

  // kcoSDO: KCO_SDO_ACCEPTED or why the request was refused.
  Code request(Now now, uint8_t node, uint16_t index, uint8_t subindex, uint16_t function,
               uint16_t datatype, void* data);

  // A frame on the node's SDO response COB-ID (0x580 + node).
  void handle(Now now, uint8_t node, const canbus::Frame& frame);
  void tick(Now now);
  // When tick next has something to do: the earliest step time-out; nothing while idle.
  std::optional<Duration> nextDeadline() const;
  // Ends every running transfer with the code (the channel went away).
  void failAll(Code code);

  // True while a transfer with the node runs or its completion has not been handed out yet: a
  // new request before that would be taken for the one whose completion is still to come.
  bool busy(uint8_t node) const;

 private:
  enum class State { uploadInitiate, uploadSegment, downloadInitiate };
  struct Transfer {
    State state;
    uint16_t index = 0;
    uint8_t subindex = 0;
    uint16_t datatype = 0;
    void* data = nullptr;             // upload: the caller's variable
    uint8_t toggle = 0;               // uploadSegment: the toggle of the segment awaited
    std::vector<uint8_t> bytes;       // upload: received so far
    std::optional<size_t> announced;  // upload: size the server announced
    Duration deadline{0};
  };

  Code start(Now now, uint8_t node, Transfer transfer, const cia301::SdoFrame& request);
  // An initiate response must answer the request's command for the request's object; else the
  // transfer is aborted and this is false.
  bool acceptInitiate(uint8_t node, const Transfer& transfer, const cia301::SdoFrame& response,
                      cia301::SdoServerCommand expected);
  void onUploadInitiate(Now now, uint8_t node, Transfer& transfer,
                        const cia301::SdoFrame& response);
  void onUploadSegment(Now now, uint8_t node, Transfer& transfer, const cia301::SdoFrame& response);
  void onDownloadInitiate(uint8_t node, const Transfer& transfer, const cia301::SdoFrame& response);
  void sendStep(Now now, uint8_t node, Transfer& transfer, const cia301::SdoFrame& request);
  void abort(uint8_t node, cia301::SdoAbortCode abortCode, Code completion);
  void finishUpload(uint8_t node);
  void complete(uint8_t node, Code code, std::optional<uint32_t> abortCode = std::nullopt);

  Context& context_;
  Duration timeout_;
  std::array<std::optional<Transfer>, kNodeSlots> transfers_{};
};

}  // namespace canopen32
