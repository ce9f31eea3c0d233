// The messages waiting to be written to one stream socket, in one ring of bytes whose allocation
// is what the limit bounds: a peer that does not read costs at most `limit` bytes here, however
// small the messages are. With Framing::messages each message keeps its boundary (a two-byte
// length before it), so that it can go out in a send() of its own (the hub's clients need
// that); with Framing::stream the messages are one run of bytes, written as far as the socket
// takes them, and the limit counts exactly the bytes of the messages.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <string_view>

namespace canbus {

class OutputQueue {
 public:
  // Messages longer than this are refused.
  static constexpr std::size_t kMaxMessage = 0xFFFF;

  enum class Framing { messages, stream };

  explicit OutputQueue(std::size_t limit, Framing framing = Framing::messages)
      : limit_(limit), framing_(framing) {}

  // Appends one message. False, and nothing queued, when the allocation would pass the limit.
  bool push(std::string_view message);
  bool empty() const { return used_ == 0; }
  // The unwritten rest of the front message (Framing::stream: all unwritten bytes), in up to two
  // pieces (where the ring wraps); the second is empty when the rest lies in one piece. Empty
  // pieces when the queue is empty.
  std::array<std::string_view, 2> front();
  // The first `n` bytes of front() have been written.
  void written(std::size_t n);
  // Bytes allocated for the queue.
  std::size_t footprint() const { return capacity_; }
  // Drops everything queued and gives the memory back.
  void clear();

 private:
  static constexpr std::size_t kHeader = 2;
  // Keeps an emptied ring up to this size; a larger one is released (a burst is over).
  static constexpr std::size_t kKeptWhenEmpty = 64 * 1024;
  static constexpr std::size_t kFirstAllocation = 4096;

  unsigned char at(std::size_t offset) const;
  void copyIn(std::size_t offset, std::string_view bytes);
  bool reserve(std::size_t needed);

  std::size_t limit_;
  Framing framing_;
  std::unique_ptr<char[]> ring_;
  std::size_t capacity_ = 0;
  std::size_t start_ = 0;        // first byte in use
  std::size_t used_ = 0;         // bytes in use, headers included
  std::size_t frontLength_ = 0;  // length of the front message once its header was taken
  std::size_t frontLeft_ = 0;    // its bytes not written yet (0: header not taken)
};

}  // namespace canbus
