// SDO client: one transfer per node at a time, over 0x600 + node (requests) and 0x580 + node
// (responses), always DLC 8:
//   byte 0 command specifier, bytes 1..2 index LE, byte 3 sub-index, bytes 4..7 data.
// Uploads take expedited or segmented responses; downloads of up to 4 bytes are expedited, longer
// ones segmented. Each step waits at most the time-out for its response; then the client sends
// abort 0x05040000 and the transfer completes with kSdoTimeout. Every accepted request completes
// exactly once; the caller's variable is written only on success and never beyond its type's
// width. A response that breaks the protocol aborts the transfer (abort frame to the node, error
// completion); a response while no transfer runs is ignored. An upload segment without data that
// announces more breaks it too: so every response that does not end a transfer brings it at least
// one byte nearer its end, and a transfer ends after at most kSdoMaxUpload + 2 responses, each
// within the step time-out, whatever the node sends.
// A text upload hands out the library's NUL-terminated copy; it stays valid until the next text
// upload from the same node, also across kcoInit.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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
  // A download of any bytes (segmented when longer than 4 or when forced); completes like
  // kcoSDO's download.
  Code download(Now now, uint8_t node, uint16_t index, uint8_t subindex, std::vector<uint8_t> bytes,
                bool forceSegmented = false);

  void handle(Now now, const canbus::Frame& frame);
  void tick(Now now);
  // Ends every running transfer with the code (the channel went away).
  void failAll(Code code);

  // True while a transfer with the node runs or its completion has not been handed out yet: a
  // new request before that would be taken for the one whose completion is still to come.
  bool busy(uint8_t node) const;
  // The last abort code a node sent, 0 when none yet.
  uint32_t lastAbort(uint8_t node) const { return validNode(node) ? lastAbort_[node] : 0; }

 private:
  enum class Phase { initiate, segment };
  struct Transfer {
    bool upload = true;
    uint16_t index = 0;
    uint8_t subindex = 0;
    uint16_t datatype = 0;
    void* data = nullptr;
    Phase phase = Phase::initiate;
    uint8_t toggle = 0;
    std::vector<uint8_t> bytes;       // upload: received so far; download: to send
    size_t sent = 0;                  // download: bytes sent in segments
    bool lastSegmentSent = false;     // download
    std::optional<size_t> announced;  // upload: size the server announced
    Duration deadline{0};
  };

  Code start(Now now, uint8_t node, Transfer transfer);
  void onUploadResponse(Now now, uint8_t node, Transfer& transfer, const canbus::Frame& frame);
  void onDownloadResponse(Now now, uint8_t node, Transfer& transfer, const canbus::Frame& frame);
  bool sendStep(Now now, uint8_t node, Transfer& transfer, const std::array<uint8_t, 8>& data);
  void sendNextSegment(Now now, uint8_t node, Transfer& transfer);
  void abort(uint8_t node, uint32_t abortCode, Code completion);
  void finishUpload(uint8_t node);
  void complete(uint8_t node, Code code);

  Context& context_;
  Duration timeout_;
  std::array<std::optional<Transfer>, 128> transfers_{};
  std::array<uint32_t, 128> lastAbort_{};
};

}  // namespace canopen32
