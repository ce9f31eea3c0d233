#include "client_connection.h"

namespace canhub {
namespace {

constexpr std::size_t kReadChunk = 64 * 1024;
// What is dropped at most after the last words: 256 KiB.
constexpr int kLastWordsReads = 4;

}  // namespace

ClientConnection::ClientConnection(canbus::UniqueFd fd, uint64_t id, std::string peer,
                                   std::size_t outputLimit)
    : transport_(std::move(fd), {outputLimit, canbus::OutputQueue::Framing::messages, kReadChunk}),
      id_(id),
      peer_(std::move(peer)) {}

bool ClientConnection::flush(Clock::time_point now) {
  if (held(now)) return true;
  if (const int error = transport_.flush(); error != 0) {
    closeReason = canbus::errnoText(error);
    return false;
  }
  return true;
}

canbus::StreamTransport::ReadResult ClientConnection::read() {
  return transport_.read(1, [this](std::string_view bytes) { session_.feed(bytes); });
}

void ClientConnection::sayLast(const std::string& message) {
  // After what is queued (the answers to the client's earlier commands), despite a hold; what
  // the socket does not take now is lost with the connection.
  heldUntil_ = {};
  if (queue(message)) flush(Clock::now());
  transport_.read(kLastWordsReads, [](std::string_view) {});
}

}  // namespace canhub
