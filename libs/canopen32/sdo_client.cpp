#include "sdo_client.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "drivers/canopen.h"
#include "error_text.h"
#include "sdo_abort.h"

namespace canopen32 {
namespace {

// Command specifiers (bits 5..7 of byte 0).
constexpr uint8_t kCsDownloadSegmentResponse = 1;   // server: 001t 0000
constexpr uint8_t kCsUploadInitiateResponse = 2;    // server: 010. nnes
constexpr uint8_t kCsDownloadInitiateResponse = 3;  // server: 0110 0000
constexpr uint8_t kCsUploadSegmentResponse = 0;     // server: 000t nnnc
constexpr uint8_t kCsAbort = 4;                     // both:   1000 0000

size_t widthOf(uint16_t datatype) {
  switch (datatype) {
    case KCO_TYPE_U8: return 1;
    case KCO_TYPE_U16: return 2;
    case KCO_TYPE_U32: return 4;
    default: return 0;  // text: any length
  }
}

// The last text uploaded from each node. Process-wide, so that a text handed out survives a
// new kcoInit (which replaces the engine) until that node's next text upload.
std::string& textOf(uint8_t node) {
  static std::array<std::string, 128> texts;
  return texts[node];
}

uint32_t le32(const uint8_t* bytes) {
  return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

}  // namespace

Code SdoClient::request(Now now, uint8_t node, uint16_t index, uint8_t subindex, uint16_t function,
                        uint16_t datatype, void* data) {
  if (!validNode(node)) return kBadNode;
  if (function != KCO_SDO_UPLOAD && function != KCO_SDO_DOWNLOAD) return kSdoBadFunction;
  if (datatype != KCO_TYPE_U8 && datatype != KCO_TYPE_U16 && datatype != KCO_TYPE_U32 &&
      datatype != KCO_TYPE_TEXT) {
    return kSdoBadType;
  }
  if (data == nullptr) return kSdoNullData;
  if (busy(node)) return kSdoBusy;
  if (function == KCO_SDO_DOWNLOAD) {
    if (datatype == KCO_TYPE_TEXT) return kSdoTextDownload;
    // The variable is read now, in its own width and the host's order; the wire is LE.
    uint32_t value = 0;
    switch (datatype) {
      case KCO_TYPE_U8: {
        uint8_t v;
        std::memcpy(&v, data, 1);
        value = v;
        break;
      }
      case KCO_TYPE_U16: {
        uint16_t v;
        std::memcpy(&v, data, 2);
        value = v;
        break;
      }
      default: std::memcpy(&value, data, 4); break;
    }
    std::vector<uint8_t> bytes(widthOf(datatype));
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
    return download(now, node, index, subindex, std::move(bytes));
  }
  Transfer transfer;
  transfer.upload = true;
  transfer.index = index;
  transfer.subindex = subindex;
  transfer.datatype = datatype;
  transfer.data = data;
  return start(now, node, std::move(transfer));
}

Code SdoClient::download(Now now, uint8_t node, uint16_t index, uint8_t subindex,
                         std::vector<uint8_t> bytes, bool forceSegmented) {
  if (!validNode(node)) return kBadNode;
  if (busy(node)) return kSdoBusy;
  Transfer transfer;
  transfer.upload = false;
  transfer.index = index;
  transfer.subindex = subindex;
  transfer.bytes = std::move(bytes);
  transfer.announced = forceSegmented || transfer.bytes.size() > 4 || transfer.bytes.empty()
                           ? std::optional<size_t>(transfer.bytes.size())
                           : std::nullopt;  // set: segmented
  return start(now, node, std::move(transfer));
}

Code SdoClient::start(Now now, uint8_t node, Transfer transfer) {
  std::array<uint8_t, 8> data{0, static_cast<uint8_t>(transfer.index),
                              static_cast<uint8_t>(transfer.index >> 8), transfer.subindex};
  if (transfer.upload) {
    data[0] = 0x40;
  } else if (!transfer.announced) {
    const size_t size = transfer.bytes.size();
    data[0] = static_cast<uint8_t>(0x23 | (4 - size) << 2);  // expedited, size indicated
    std::copy(transfer.bytes.begin(), transfer.bytes.end(), data.begin() + 4);
  } else {
    data[0] = 0x21;  // segmented, size indicated
    const auto size = static_cast<uint32_t>(transfer.bytes.size());
    for (int i = 0; i < 4; ++i) data[4 + i] = static_cast<uint8_t>(size >> (8 * i));
  }
  const Code sent = context_.send(0x600 + node, data);
  if (sent != kSent) return sent;
  transfer.deadline = now.steady + timeout_;
  transfers_[node] = std::move(transfer);
  return KCO_SDO_ACCEPTED;
}

bool SdoClient::busy(uint8_t node) const {
  if (!validNode(node)) return false;
  if (transfers_[node]) return true;
  return std::ranges::any_of(context_.events(), [node](const Event& event) {
    return (event.kind == Event::Kind::sdoUpload || event.kind == Event::Kind::sdoDownload) &&
           event.node == node;
  });
}

void SdoClient::handle(Now now, const canbus::Frame& frame) {
  if (frame.remote || frame.id < 0x581 || frame.id > 0x5FF) return;
  const auto node = static_cast<uint8_t>(frame.id - 0x580);
  if (!transfers_[node]) return;  // a response for no request
  if (frame.length != 8) return abort(node, kAbortCommand, kSdoMalformedResponse);
  const uint8_t* data = frame.data.data();
  if (data[0] >> 5 == kCsAbort) {
    const uint32_t abortCode = le32(data + 4);
    lastAbort_[node] = abortCode;
    const Code code = completionForAbort(abortCode);
    if (code == kSdoAbortUnknown) {
      char text[80];
      std::snprintf(text, sizeof text, "SDO abort 0x%08X: unknown SDO abort code", abortCode);
      setDetail(kSdoAbortUnknown, text);
    }
    return complete(node, code);
  }
  Transfer& transfer = *transfers_[node];
  if (transfer.upload) {
    onUploadResponse(now, node, transfer, frame);
  } else {
    onDownloadResponse(now, node, transfer, frame);
  }
}

void SdoClient::onUploadResponse(Now now, uint8_t node, Transfer& transfer,
                                 const canbus::Frame& frame) {
  const uint8_t* data = frame.data.data();
  const uint8_t command = data[0];
  const size_t width = widthOf(transfer.datatype);
  if (transfer.phase == Phase::initiate) {
    if (command >> 5 != kCsUploadInitiateResponse) {
      return abort(node, kAbortCommand, kSdoUnexpectedResponse);
    }
    if ((data[1] | data[2] << 8) != transfer.index || data[3] != transfer.subindex) {
      return abort(node, kAbortGeneral, kSdoWrongObject);
    }
    const bool expedited = command & 0x02;
    const bool sizeIndicated = command & 0x01;
    if (expedited) {
      size_t size = sizeIndicated ? 4 - ((command >> 2) & 0x03) : 4;
      if (!sizeIndicated && width != 0) size = width;  // no size given: take the type's width
      transfer.bytes.assign(data + 4, data + 4 + size);
      return finishUpload(node);
    }
    if (sizeIndicated) {
      const uint32_t size = le32(data + 4);
      if (size > kSdoMaxUpload) return abort(node, kAbortOutOfMemory, kSdoTooLarge);
      if (width != 0 && size != width) return abort(node, kAbortTypeLength, kSdoLengthMismatch);
      transfer.announced = size;
    }
    transfer.phase = Phase::segment;
    transfer.toggle = 0;
    sendStep(now, node, transfer, {0x60, 0, 0, 0, 0, 0, 0, 0});
    return;
  }
  if (command >> 5 != kCsUploadSegmentResponse) {
    return abort(node, kAbortCommand, kSdoUnexpectedResponse);
  }
  if (((command >> 4) & 1) != transfer.toggle) return abort(node, kAbortToggle, kSdoToggleError);
  const size_t count = 7 - ((command >> 1) & 0x07);
  const bool last = command & 0x01;
  // A segment without data that announces more would let the node hold the transfer open for
  // ever, one step time-out after the other; every step must bring data.
  if (count == 0 && !last) return abort(node, kAbortCommand, kSdoUnexpectedResponse);
  transfer.bytes.insert(transfer.bytes.end(), data + 1, data + 1 + count);
  if (transfer.bytes.size() > kSdoMaxUpload) return abort(node, kAbortOutOfMemory, kSdoTooLarge);
  if ((transfer.announced && transfer.bytes.size() > *transfer.announced) ||
      (width != 0 && transfer.bytes.size() > width)) {
    return abort(node, kAbortTypeLength, kSdoLengthMismatch);
  }
  if (last) return finishUpload(node);
  transfer.toggle ^= 1;
  sendStep(now, node, transfer,
           {static_cast<uint8_t>(0x60 | transfer.toggle << 4), 0, 0, 0, 0, 0, 0, 0});
}

void SdoClient::onDownloadResponse(Now now, uint8_t node, Transfer& transfer,
                                   const canbus::Frame& frame) {
  const uint8_t* data = frame.data.data();
  const uint8_t command = data[0];
  if (transfer.phase == Phase::initiate) {
    if (command >> 5 != kCsDownloadInitiateResponse) {
      return abort(node, kAbortCommand, kSdoUnexpectedResponse);
    }
    if ((data[1] | data[2] << 8) != transfer.index || data[3] != transfer.subindex) {
      return abort(node, kAbortGeneral, kSdoWrongObject);
    }
    if (!transfer.announced) return complete(node, KCO_SDO_DONE);  // expedited
    transfer.phase = Phase::segment;
    transfer.toggle = 0;
    return sendNextSegment(now, node, transfer);
  }
  if (command >> 5 != kCsDownloadSegmentResponse) {
    return abort(node, kAbortCommand, kSdoUnexpectedResponse);
  }
  if (((command >> 4) & 1) != transfer.toggle) return abort(node, kAbortToggle, kSdoToggleError);
  if (transfer.lastSegmentSent) return complete(node, KCO_SDO_DONE);
  transfer.toggle ^= 1;
  sendNextSegment(now, node, transfer);
}

void SdoClient::sendNextSegment(Now now, uint8_t node, Transfer& transfer) {
  const size_t remaining = transfer.bytes.size() - transfer.sent;
  const size_t count = std::min<size_t>(7, remaining);
  const bool last = count == remaining;
  std::array<uint8_t, 8> data{};
  data[0] = static_cast<uint8_t>(transfer.toggle << 4 | (7 - count) << 1 | (last ? 1 : 0));
  std::copy_n(transfer.bytes.begin() + static_cast<std::ptrdiff_t>(transfer.sent), count,
              data.begin() + 1);
  transfer.sent += count;
  transfer.lastSegmentSent = last;
  sendStep(now, node, transfer, data);
}

bool SdoClient::sendStep(Now now, uint8_t node, Transfer& transfer,
                         const std::array<uint8_t, 8>& data) {
  if (const Code sent = context_.send(0x600 + node, data); sent != kSent) {
    complete(node, sent == kBusOff ? kBusOff : kSdoSendFailed);
    return false;
  }
  transfer.deadline = now.steady + timeout_;
  return true;
}

void SdoClient::finishUpload(uint8_t node) {
  Transfer& transfer = *transfers_[node];
  const size_t width = widthOf(transfer.datatype);
  const std::vector<uint8_t>& bytes = transfer.bytes;
  if ((width != 0 && bytes.size() != width) ||
      (transfer.announced && bytes.size() != *transfer.announced)) {
    return complete(node, kSdoLengthMismatch);
  }
  if (width == 0) {
    const auto end = std::find(bytes.begin(), bytes.end(), uint8_t{0});
    textOf(node).assign(bytes.begin(), end);
    const char* text = textOf(node).c_str();
    std::memcpy(transfer.data, &text, sizeof text);
    return complete(node, KCO_SDO_DONE);
  }
  uint32_t value = 0;
  for (size_t i = 0; i < width; ++i) value |= static_cast<uint32_t>(bytes[i]) << (8 * i);
  switch (transfer.datatype) {
    case KCO_TYPE_U8: {
      const auto v = static_cast<uint8_t>(value);
      std::memcpy(transfer.data, &v, 1);
      break;
    }
    case KCO_TYPE_U16: {
      const auto v = static_cast<uint16_t>(value);
      std::memcpy(transfer.data, &v, 2);
      break;
    }
    default: std::memcpy(transfer.data, &value, 4); break;
  }
  complete(node, KCO_SDO_DONE);
}

void SdoClient::abort(uint8_t node, uint32_t abortCode, Code completion) {
  const Transfer& transfer = *transfers_[node];
  std::array<uint8_t, 8> data{0x80, static_cast<uint8_t>(transfer.index),
                              static_cast<uint8_t>(transfer.index >> 8), transfer.subindex};
  for (int i = 0; i < 4; ++i) data[4 + i] = static_cast<uint8_t>(abortCode >> (8 * i));
  context_.send(0x600 + node, data);  // best effort: the completion follows in any case
  complete(node, completion);
}

void SdoClient::complete(uint8_t node, Code code) {
  const bool upload = transfers_[node]->upload;
  transfers_[node].reset();
  context_.emit({upload ? Event::Kind::sdoUpload : Event::Kind::sdoDownload, node, code});
}

void SdoClient::tick(Now now) {
  for (uint8_t node = 1; node <= 127; ++node) {
    if (transfers_[node] && now.steady >= transfers_[node]->deadline) {
      abort(node, kAbortTimeout, kSdoTimeout);
    }
  }
}

void SdoClient::failAll(Code code) {
  for (uint8_t node = 1; node <= 127; ++node) {
    if (transfers_[node]) complete(node, code);
  }
}

}  // namespace canopen32
