#include "sdo_client.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <string>

#include "cia301/cob_id.h"
#include "cia301/little_endian.h"
#include "drivers/canopen.h"
#include "error_catalogue.h"

namespace canopen32 {
namespace {

using cia301::SdoAbortCode;
using cia301::SdoFrame;
using cia301::SdoServerCommand;

size_t widthOf(uint16_t datatype) {
  switch (datatype) {
    case KCO_TYPE_U8: return 1;
    case KCO_TYPE_U16: return 2;
    case KCO_TYPE_U32: return 4;
    default: return 0;  // text: any length
  }
}

bool answers(const SdoFrame& response, SdoServerCommand command) {
  return cia301::sdoCommand(response) == static_cast<uint8_t>(command);
}

// The last text uploaded from each node. Process-wide, so that a text handed out survives a
// new kcoInit (which replaces the engine) until that node's next text upload.
std::string& textOf(uint8_t node) {
  static std::array<std::string, kNodeSlots> texts;
  return texts[node];
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
  Transfer transfer;
  transfer.index = index;
  transfer.subindex = subindex;
  transfer.datatype = datatype;
  if (function == KCO_SDO_UPLOAD) {
    transfer.state = State::uploadInitiate;
    transfer.data = data;
    return start(now, node, std::move(transfer), cia301::sdoInitiateUploadRequest(index, subindex));
  }
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
  std::array<uint8_t, cia301::kSdoExpeditedMax> bytes{};
  const auto wire = std::span(bytes).first(widthOf(datatype));
  cia301::putLe(wire, value);
  transfer.state = State::downloadInitiate;
  return start(now, node, std::move(transfer),
               cia301::sdoExpeditedDownloadRequest(index, subindex, wire));
}

Code SdoClient::start(Now now, uint8_t node, Transfer transfer, const SdoFrame& request) {
  const Code sent = context_.send(cia301::kSdoRequestBase + node, request);
  if (sent != kSent) return sent;
  transfer.deadline = now.steady + timeout_;
  transfers_[node] = std::move(transfer);
  return KCO_SDO_ACCEPTED;
}

bool SdoClient::busy(uint8_t node) const {
  if (!validNode(node)) return false;
  return transfers_[node].has_value() || context_.pending<SdoCompleted>(node);
}

void SdoClient::handle(Now now, uint8_t node, const canbus::Frame& frame) {
  if (frame.remote || !transfers_[node]) return;  // a response for no request
  if (frame.length != 8) {
    return abort(node, SdoAbortCode::unknownCommand, kSdoMalformedResponse);
  }
  const SdoFrame& response = frame.data;
  if (answers(response, SdoServerCommand::abort)) {
    const uint32_t abortCode = cia301::sdoAbortCode(response);
    return complete(node, completionForAbort(abortCode), abortCode);
  }
  Transfer& transfer = *transfers_[node];
  switch (transfer.state) {
    case State::uploadInitiate: return onUploadInitiate(now, node, transfer, response);
    case State::uploadSegment: return onUploadSegment(now, node, transfer, response);
    case State::downloadInitiate: return onDownloadInitiate(node, transfer, response);
  }
}

bool SdoClient::acceptInitiate(uint8_t node, const Transfer& transfer, const SdoFrame& response,
                               SdoServerCommand expected) {
  if (!answers(response, expected)) {
    abort(node, SdoAbortCode::unknownCommand, kSdoUnexpectedResponse);
    return false;
  }
  if (cia301::sdoIndex(response) != transfer.index ||
      cia301::sdoSubIndex(response) != transfer.subindex) {
    abort(node, SdoAbortCode::generalError, kSdoWrongObject);
    return false;
  }
  return true;
}

void SdoClient::onUploadInitiate(Now now, uint8_t node, Transfer& transfer,
                                 const SdoFrame& response) {
  if (!acceptInitiate(node, transfer, response, SdoServerCommand::initiateUpload)) return;
  const size_t width = widthOf(transfer.datatype);
  if (cia301::sdoExpedited(response)) {
    // Without its size given, the value has the type's width (a text: all four bytes).
    const size_t size = cia301::sdoSizeIndicated(response) ? cia301::sdoExpeditedSize(response)
                        : width != 0                       ? width
                                                           : cia301::kSdoExpeditedMax;
    const auto data = std::span(response).subspan(4, size);
    transfer.bytes.assign(data.begin(), data.end());
    return finishUpload(node);
  }
  if (cia301::sdoSizeIndicated(response)) {
    const uint32_t size = cia301::sdoAnnouncedSize(response);
    if (size > kSdoMaxUpload) return abort(node, SdoAbortCode::outOfMemory, kSdoTooLarge);
    if (width != 0 && size != width) {
      return abort(node, SdoAbortCode::lengthMismatch, kSdoLengthMismatch);
    }
    transfer.announced = size;
  }
  transfer.state = State::uploadSegment;
  transfer.toggle = 0;
  sendStep(now, node, transfer, cia301::sdoUploadSegmentRequest(transfer.toggle));
}

void SdoClient::onUploadSegment(Now now, uint8_t node, Transfer& transfer,
                                const SdoFrame& response) {
  if (!answers(response, SdoServerCommand::uploadSegment)) {
    return abort(node, SdoAbortCode::unknownCommand, kSdoUnexpectedResponse);
  }
  if (cia301::sdoToggle(response) != transfer.toggle) {
    return abort(node, SdoAbortCode::toggleNotAlternated, kSdoToggleError);
  }
  const size_t count = cia301::sdoSegmentSize(response);
  const bool last = cia301::sdoLastSegment(response);
  // A segment without data that announces more would let the node hold the transfer open for
  // ever, one step time-out after the other; every step must bring data.
  if (count == 0 && !last) {
    return abort(node, SdoAbortCode::unknownCommand, kSdoUnexpectedResponse);
  }
  const auto data = std::span(response).subspan(1, count);
  transfer.bytes.insert(transfer.bytes.end(), data.begin(), data.end());
  if (transfer.bytes.size() > kSdoMaxUpload) {
    return abort(node, SdoAbortCode::outOfMemory, kSdoTooLarge);
  }
  const size_t width = widthOf(transfer.datatype);
  if ((transfer.announced && transfer.bytes.size() > *transfer.announced) ||
      (width != 0 && transfer.bytes.size() > width)) {
    return abort(node, SdoAbortCode::lengthMismatch, kSdoLengthMismatch);
  }
  if (last) return finishUpload(node);
  transfer.toggle ^= 1;
  sendStep(now, node, transfer, cia301::sdoUploadSegmentRequest(transfer.toggle));
}

void SdoClient::onDownloadInitiate(uint8_t node, const Transfer& transfer,
                                   const SdoFrame& response) {
  if (acceptInitiate(node, transfer, response, SdoServerCommand::initiateDownload)) {
    complete(node, KCO_SDO_DONE);
  }
}

void SdoClient::sendStep(Now now, uint8_t node, Transfer& transfer, const SdoFrame& request) {
  if (const Code sent = context_.send(cia301::kSdoRequestBase + node, request); sent != kSent) {
    return complete(node, sent == kBusOff ? kBusOff : kSdoSendFailed);
  }
  transfer.deadline = now.steady + timeout_;
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
  const uint32_t value = cia301::getLe(bytes);
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

void SdoClient::abort(uint8_t node, SdoAbortCode abortCode, Code completion) {
  const Transfer& transfer = *transfers_[node];
  // Best effort: the completion follows in any case.
  context_.send(cia301::kSdoRequestBase + node, cia301::sdoAbort(transfer.index, transfer.subindex,
                                                                 static_cast<uint32_t>(abortCode)));
  complete(node, completion);
}

void SdoClient::complete(uint8_t node, Code code, std::optional<uint32_t> abortCode) {
  const SdoDirection direction = transfers_[node]->state == State::downloadInitiate
                                     ? SdoDirection::download
                                     : SdoDirection::upload;
  transfers_[node].reset();
  context_.emit(SdoCompleted{node, direction, code, abortCode});
}

void SdoClient::tick(Now now) {
  for (uint8_t node = cia301::kFirstNodeId; node <= cia301::kLastNodeId; ++node) {
    if (transfers_[node] && now.steady >= transfers_[node]->deadline) {
      abort(node, SdoAbortCode::timedOut, kSdoTimeout);
    }
  }
}

std::optional<Duration> SdoClient::nextDeadline() const {
  std::optional<Duration> next;
  for (const auto& transfer : transfers_) {
    if (transfer) next = earliest(next, transfer->deadline);
  }
  return next;
}

void SdoClient::failAll(Code code) {
  for (uint8_t node = cia301::kFirstNodeId; node <= cia301::kLastNodeId; ++node) {
    if (transfers_[node]) complete(node, code);
  }
}

}  // namespace canopen32
