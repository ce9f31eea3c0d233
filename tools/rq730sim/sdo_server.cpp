#include "rq730sim/sdo_server.h"

#include <algorithm>
#include <variant>

namespace rq730sim {
namespace {

using cia301::SdoClientCommand;

// No object of the module is larger; a segmented download that grows beyond it is refused
// instead of buffering whatever a client sends.
constexpr std::size_t kMaxDownloadSize = 64;

}  // namespace

SdoServer::SdoServer(ObjectDictionary& dictionary) : dictionary_(dictionary) {}

void SdoServer::reset() {
  state_ = State::idle;
  buffer_.clear();
  size_.reset();
  offset_ = 0;
  toggle_ = 0;
}

void SdoServer::begin(const SdoData& request) {
  reset();
  index_ = cia301::sdoIndex(request);
  subIndex_ = cia301::sdoSubIndex(request);
}

SdoData SdoServer::abort(SdoAbortCode code) {
  const SdoData response = cia301::sdoAbort(index_, subIndex_, static_cast<uint32_t>(code));
  reset();
  return response;
}

std::optional<SdoData> SdoServer::handle(const SdoData& request) {
  switch (static_cast<SdoClientCommand>(cia301::sdoCommand(request))) {
    case SdoClientCommand::initiateDownload:  // any state: a new transfer replaces the old
      return initiateDownload(request);
    case SdoClientCommand::initiateUpload:
      return initiateUpload(request);
    case SdoClientCommand::downloadSegment:
      if (state_ == State::downloading) return downloadSegment(request);
      index_ = 0;  // no transfer this segment could belong to
      subIndex_ = 0;
      return abort(SdoAbortCode::unknownCommand);
    case SdoClientCommand::uploadSegment:
      if (state_ == State::uploading) return uploadSegment(request);
      index_ = 0;
      subIndex_ = 0;
      return abort(SdoAbortCode::unknownCommand);
    case SdoClientCommand::abort:  // forget the transfer, never answer an abort
      reset();
      return std::nullopt;
    case SdoClientCommand::blockUpload:
    case SdoClientCommand::blockDownload:
    default:  // not offered; the abort names the transfer in progress, else the request's object
      if (state_ == State::idle) {
        index_ = cia301::sdoIndex(request);
        subIndex_ = cia301::sdoSubIndex(request);
      }
      return abort(SdoAbortCode::unknownCommand);
  }
}

std::optional<SdoData> SdoServer::initiateDownload(const SdoData& request) {
  begin(request);
  if (cia301::sdoExpedited(request)) {
    std::size_t size = cia301::kSdoExpeditedMax;
    if (cia301::sdoSizeIndicated(request)) {
      size = cia301::sdoExpeditedSize(request);
    } else {
      // Size not given: the object's own size, as far as four bytes carry it.
      auto found = dictionary_.find(index_, subIndex_);
      if (auto* entry = std::get_if<const Entry*>(&found)) {
        if ((*entry)->size > 0 && (*entry)->size < cia301::kSdoExpeditedMax) size = (*entry)->size;
      }
    }
    if (auto refused = dictionary_.write(index_, subIndex_,
                                         std::span<const uint8_t>(request.data() + 4, size))) {
      return abort(*refused);
    }
    return cia301::sdoInitiateDownloadResponse(index_, subIndex_);
  }

  if (cia301::sdoSizeIndicated(request)) {
    const std::size_t size = cia301::sdoAnnouncedSize(request);
    if (auto refused = dictionary_.checkWrite(index_, subIndex_, size)) return abort(*refused);
    size_ = size;
  } else {
    auto found = dictionary_.find(index_, subIndex_);
    if (auto* refused = std::get_if<SdoAbortCode>(&found)) return abort(*refused);
  }
  state_ = State::downloading;
  return cia301::sdoInitiateDownloadResponse(index_, subIndex_);
}

SdoData SdoServer::downloadSegment(const SdoData& request) {
  const uint8_t toggle = cia301::sdoToggle(request);
  if (toggle != toggle_) return abort(SdoAbortCode::toggleNotAlternated);
  const std::size_t count = cia301::sdoSegmentSize(request);

  const std::size_t limit = size_.value_or(kMaxDownloadSize);
  if (buffer_.size() + count > limit) {
    return abort(size_ ? SdoAbortCode::lengthMismatch : SdoAbortCode::lengthTooHigh);
  }
  buffer_.insert(buffer_.end(), request.begin() + 1,
                 request.begin() + 1 + static_cast<std::ptrdiff_t>(count));

  const SdoData response = cia301::sdoDownloadSegmentResponse(toggle);
  if (!cia301::sdoLastSegment(request)) {
    toggle_ ^= 1;
    return response;
  }
  if (size_ && buffer_.size() != *size_) return abort(SdoAbortCode::lengthMismatch);
  if (auto refused = dictionary_.write(index_, subIndex_, buffer_)) return abort(*refused);
  reset();
  return response;
}

std::optional<SdoData> SdoServer::initiateUpload(const SdoData& request) {
  begin(request);
  auto value = dictionary_.read(index_, subIndex_);
  if (auto* refused = std::get_if<SdoAbortCode>(&value)) return abort(*refused);
  Bytes& bytes = std::get<Bytes>(value);

  if (!bytes.empty() && bytes.size() <= cia301::kSdoExpeditedMax) {
    return cia301::sdoExpeditedUploadResponse(index_, subIndex_, bytes);
  }
  const SdoData response =
      cia301::sdoSegmentedUploadResponse(index_, subIndex_, static_cast<uint32_t>(bytes.size()));
  buffer_ = std::move(bytes);
  state_ = State::uploading;
  return response;
}

SdoData SdoServer::uploadSegment(const SdoData& request) {
  const uint8_t toggle = cia301::sdoToggle(request);
  if (toggle != toggle_) return abort(SdoAbortCode::toggleNotAlternated);

  const std::size_t count = std::min(cia301::kSdoSegmentMax, buffer_.size() - offset_);
  const bool last = offset_ + count == buffer_.size();
  const SdoData response = cia301::sdoUploadSegment(
      toggle, std::span<const uint8_t>(buffer_).subspan(offset_, count), last);
  offset_ += count;
  toggle_ ^= 1;
  if (last) reset();
  return response;
}

}  // namespace rq730sim
