// One connected, non-blocking stream socket (TCP, or a socket pair in tests) as both ends of the
// socketcand protocol use it: a bounded queue of messages to send, written as far as the socket
// takes them without blocking, and reads that hand the received bytes on (to a message
// splitter). It knows no protocol; the socketcand client channel and tools/canhub share it.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string_view>

#include "canbus/output_queue.h"
#include "canbus/unique_fd.h"

namespace canbus {

// Waits until poll() reports one of the events (POLLIN, POLLOUT) on fd, or the deadline passes;
// false on time-out or failure.
bool waitForSocket(int fd, short events, std::chrono::steady_clock::time_point deadline);

class StreamTransport {
 public:
  // The most one read takes: reads go into a buffer on the stack of this size.
  static constexpr std::size_t kMaxReadChunk = 64 * 1024;

  struct Options {
    std::size_t sendLimit = 256 * 1024;  // what the send queue may hold (see OutputQueue)
    // messages: each queued message goes out in a send() of its own; stream: as many bytes as
    // the socket takes per send().
    OutputQueue::Framing framing = OutputQueue::Framing::stream;
    std::size_t readChunk = 16 * 1024;  // bytes per read, at most kMaxReadChunk
  };

  StreamTransport(UniqueFd fd, Options options);

  // -1 once closed.
  int fd() const { return fd_.get(); }
  bool isOpen() const { return static_cast<bool>(fd_); }
  // Closes the socket and drops what is queued.
  void close();

  // Queues one message. False, and nothing queued, when the queue would pass its limit.
  bool queue(std::string_view message) { return output_.push(message); }
  bool hasOutput() const { return !output_.empty(); }
  // Writes what is queued as far as the socket takes it, without blocking. 0, or the errno
  // value of a write that failed (the connection is broken; what was queued stays queued).
  int flush();
  // Writes all that is queued, waiting for the socket until the deadline: 0, ETIMEDOUT, or the
  // errno value of a failed write.
  int flushUntil(std::chrono::steady_clock::time_point deadline);

  enum class ReadStatus {
    drained,  // the socket has nothing more for now
    more,     // maxReads reads were made and more may be waiting
    closed,   // the peer closed the connection (bytes before the close were handed on)
    failed    // a read failed; error holds its errno value
  };
  struct ReadResult {
    ReadStatus status;
    int error = 0;
    // When the kernel received the last bytes handed on (wall clock), if the socket was asked
    // to tell (SO_TIMESTAMPNS) and did; absent otherwise.
    std::optional<std::chrono::system_clock::time_point> arrived{};
  };
  // Reads without blocking, at most maxReads times, and hands each read's bytes to onBytes.
  ReadResult read(int maxReads, const std::function<void(std::string_view)>& onBytes);
  // Waits until the socket is readable or the deadline passes; false on time-out.
  bool waitReadable(std::chrono::steady_clock::time_point deadline) const;

  // Bytes allocated for the send queue.
  std::size_t queueFootprint() const { return output_.footprint(); }

 private:
  UniqueFd fd_;
  Options options_;
  OutputQueue output_;
};

}  // namespace canbus
