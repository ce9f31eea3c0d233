#include "rq730sim/sdo_server.h"

#include <algorithm>
#include <variant>

namespace rq730sim {
namespace {

// No object of the module is larger; a segmented download that grows beyond it is refused
// instead of buffering whatever a client sends.
constexpr std::size_t kMaxDownloadSize = 64;

SdoData header(uint8_t command, uint16_t index, uint8_t subIndex) {
  return {command, static_cast<uint8_t>(index), static_cast<uint8_t>(index >> 8), subIndex, 0, 0, 0,
          0};
}

}  // namespace

SdoServer::SdoServer(ObjectDictionary& dictionary) : dictionary_(dictionary) {}

void SdoServer::reset() {
  mode_ = Mode::idle;
  buffer_.clear();
  size_.reset();
  offset_ = 0;
  toggle_ = 0;
}

SdoData SdoServer::abort(SdoAbort code) {
  SdoData response = header(0x80, index_, subIndex_);
  auto value = static_cast<uint32_t>(code);
  for (int i = 0; i < 4; ++i) response[4 + i] = static_cast<uint8_t>(value >> (8 * i));
  reset();
  return response;
}

std::optional<SdoData> SdoServer::handle(const SdoData& request) {
  switch (request[0] >> 5) {
    case 1:
      return initiateDownload(request);
    case 0:
      return downloadSegment(request);
    case 2:
      return initiateUpload(request);
    case 3:
      return uploadSegment(request);
    case 4:  // the client aborts: forget the transfer, never answer an abort
      reset();
      return std::nullopt;
    default:  // block transfers and undefined specifiers
      if (mode_ == Mode::idle) {
        index_ = static_cast<uint16_t>(request[1] | request[2] << 8);
        subIndex_ = request[3];
      }
      return abort(SdoAbort::unknownCommand);
  }
}

std::optional<SdoData> SdoServer::initiateDownload(const SdoData& request) {
  reset();  // a new initiate replaces any transfer in progress
  index_ = static_cast<uint16_t>(request[1] | request[2] << 8);
  subIndex_ = request[3];
  const bool expedited = (request[0] & 0x02) != 0;
  const bool sizeIndicated = (request[0] & 0x01) != 0;

  if (expedited) {
    std::size_t size = 4;
    if (sizeIndicated) {
      size = 4 - ((request[0] >> 2) & 0x03);
    } else {
      // Size not given: the object's own size, as far as four bytes carry it.
      auto found = dictionary_.find(index_, subIndex_);
      if (auto* entry = std::get_if<const Entry*>(&found)) {
        if ((*entry)->size > 0 && (*entry)->size < 4) size = (*entry)->size;
      }
    }
    if (auto refused = dictionary_.write(index_, subIndex_,
                                         std::span<const uint8_t>(request.data() + 4, size))) {
      return abort(*refused);
    }
    return header(0x60, index_, subIndex_);
  }

  if (sizeIndicated) {
    const std::size_t size = static_cast<std::size_t>(fromBytes({request.data() + 4, 4}));
    if (auto refused = dictionary_.checkWrite(index_, subIndex_, size)) return abort(*refused);
    size_ = size;
  } else {
    auto found = dictionary_.find(index_, subIndex_);
    if (auto* refused = std::get_if<SdoAbort>(&found)) return abort(*refused);
  }
  mode_ = Mode::download;
  return header(0x60, index_, subIndex_);
}

std::optional<SdoData> SdoServer::downloadSegment(const SdoData& request) {
  if (mode_ != Mode::download) {
    index_ = 0;
    subIndex_ = 0;
    return abort(SdoAbort::unknownCommand);
  }
  const uint8_t toggle = (request[0] >> 4) & 0x01;
  if (toggle != toggle_) return abort(SdoAbort::toggleNotAlternated);
  const std::size_t count = 7 - ((request[0] >> 1) & 0x07);
  const bool last = (request[0] & 0x01) != 0;

  const std::size_t limit = size_.value_or(kMaxDownloadSize);
  if (buffer_.size() + count > limit) {
    return abort(size_ ? SdoAbort::lengthMismatch : SdoAbort::lengthTooHigh);
  }
  buffer_.insert(buffer_.end(), request.begin() + 1, request.begin() + 1 + count);

  const SdoData response = header(static_cast<uint8_t>(0x20 | toggle << 4), 0, 0);
  if (!last) {
    toggle_ ^= 1;
    return response;
  }
  if (size_ && buffer_.size() != *size_) return abort(SdoAbort::lengthMismatch);
  if (auto refused = dictionary_.write(index_, subIndex_, buffer_)) return abort(*refused);
  reset();
  return response;
}

std::optional<SdoData> SdoServer::initiateUpload(const SdoData& request) {
  reset();
  index_ = static_cast<uint16_t>(request[1] | request[2] << 8);
  subIndex_ = request[3];
  auto value = dictionary_.read(index_, subIndex_);
  if (auto* refused = std::get_if<SdoAbort>(&value)) return abort(*refused);
  Bytes& bytes = std::get<Bytes>(value);

  if (!bytes.empty() && bytes.size() <= 4) {
    SdoData response =
        header(static_cast<uint8_t>(0x43 | (4 - bytes.size()) << 2), index_, subIndex_);
    std::copy(bytes.begin(), bytes.end(), response.begin() + 4);
    return response;
  }
  SdoData response = header(0x41, index_, subIndex_);
  const auto size = static_cast<uint32_t>(bytes.size());
  for (int i = 0; i < 4; ++i) response[4 + i] = static_cast<uint8_t>(size >> (8 * i));
  buffer_ = std::move(bytes);
  mode_ = Mode::upload;
  return response;
}

std::optional<SdoData> SdoServer::uploadSegment(const SdoData& request) {
  if (mode_ != Mode::upload) {
    index_ = 0;
    subIndex_ = 0;
    return abort(SdoAbort::unknownCommand);
  }
  const uint8_t toggle = (request[0] >> 4) & 0x01;
  if (toggle != toggle_) return abort(SdoAbort::toggleNotAlternated);

  const std::size_t count = std::min<std::size_t>(7, buffer_.size() - offset_);
  const bool last = offset_ + count == buffer_.size();
  SdoData response{};
  response[0] = static_cast<uint8_t>(toggle << 4 | (7 - count) << 1 | (last ? 1 : 0));
  std::copy_n(buffer_.begin() + static_cast<std::ptrdiff_t>(offset_), count, response.begin() + 1);
  offset_ += count;
  toggle_ ^= 1;
  if (last) reset();
  return response;
}

}  // namespace rq730sim
