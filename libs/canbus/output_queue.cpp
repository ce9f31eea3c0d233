#include "canbus/output_queue.h"

#include <algorithm>
#include <cstring>

namespace canbus {

unsigned char OutputQueue::at(std::size_t offset) const {
  return static_cast<unsigned char>(ring_[(start_ + offset) % capacity_]);
}

void OutputQueue::copyIn(std::size_t offset, std::string_view bytes) {
  const std::size_t position = (start_ + offset) % capacity_;
  const std::size_t first = std::min(bytes.size(), capacity_ - position);
  std::memcpy(ring_.get() + position, bytes.data(), first);
  std::memcpy(ring_.get(), bytes.data() + first, bytes.size() - first);
}

bool OutputQueue::reserve(std::size_t needed) {
  if (needed <= capacity_) return true;
  if (needed > limit_) return false;
  // Doubling keeps appending cheap; the limit caps it.
  const std::size_t grown =
      std::min(limit_, std::max({needed, 2 * capacity_, std::min(kFirstAllocation, limit_)}));
  auto ring = std::make_unique_for_overwrite<char[]>(grown);
  const std::size_t first = std::min(used_, capacity_ - start_);
  if (used_ > 0) {
    std::memcpy(ring.get(), ring_.get() + start_, first);
    std::memcpy(ring.get() + first, ring_.get(), used_ - first);
  }
  ring_ = std::move(ring);
  capacity_ = grown;
  start_ = 0;
  return true;
}

bool OutputQueue::push(std::string_view message) {
  if (message.empty()) return true;  // nothing to write; a zero length would end no message
  if (framing_ == Framing::stream) {
    if (!reserve(used_ + message.size())) return false;
    copyIn(used_, message);
    used_ += message.size();
    return true;
  }
  if (message.size() > kMaxMessage || !reserve(used_ + kHeader + message.size())) return false;
  const char header[kHeader] = {static_cast<char>(message.size() >> 8),
                                static_cast<char>(message.size() & 0xFF)};
  copyIn(used_, std::string_view(header, kHeader));
  copyIn(used_ + kHeader, message);
  used_ += kHeader + message.size();
  return true;
}

std::array<std::string_view, 2> OutputQueue::front() {
  if (used_ == 0) return {};
  if (framing_ == Framing::stream) {
    frontLeft_ = used_;
  } else if (frontLeft_ == 0) {
    // Take the header of the next message.
    frontLength_ = static_cast<std::size_t>(at(0)) << 8 | at(1);
    frontLeft_ = frontLength_;
    start_ = (start_ + kHeader) % capacity_;
    used_ -= kHeader;
  }
  const std::size_t first = std::min(frontLeft_, capacity_ - start_);
  return {std::string_view(ring_.get() + start_, first),
          std::string_view(ring_.get(), frontLeft_ - first)};
}

void OutputQueue::clear() {
  ring_.reset();
  capacity_ = 0;
  start_ = 0;
  used_ = 0;
  frontLength_ = 0;
  frontLeft_ = 0;
}

void OutputQueue::written(std::size_t n) {
  n = std::min(n, frontLeft_);
  start_ = (start_ + n) % capacity_;
  used_ -= n;
  frontLeft_ -= n;
  if (used_ == 0) {
    start_ = 0;
    if (capacity_ > kKeptWhenEmpty) {
      ring_.reset();
      capacity_ = 0;
    }
  }
}

}  // namespace canbus
