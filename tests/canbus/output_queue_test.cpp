#include "canbus/output_queue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace canbus {
namespace {

// Takes the front message whole, as a socket that accepts `chunk` bytes at a time would.
std::string takeFront(OutputQueue& queue, std::size_t chunk) {
  std::string message;
  do {
    const auto rest = queue.front();
    const std::string bytes = std::string(rest[0]) + std::string(rest[1]);
    if (bytes.empty()) break;
    const std::size_t n = std::min(chunk, bytes.size());
    message += bytes.substr(0, n);
    queue.written(n);
    if (n == bytes.size()) break;
  } while (true);
  return message;
}

TEST(OutputQueueTest, KeepsMessagesWholeAndInOrderAcrossTheRingsEnd) {
  for (const std::size_t chunk : {std::size_t{1}, std::size_t{7}, std::size_t{1000}}) {
    SCOPED_TRACE(chunk);
    OutputQueue queue(16 * 1024);
    std::vector<std::string> pushed;
    std::vector<std::string> taken;
    for (int i = 0; i < 400; ++i) {
      const std::string message = "< frame " + std::to_string(i) + std::string(i % 50, 'x') + " >";
      ASSERT_TRUE(queue.push(message));
      pushed.push_back(message);
      if (i % 3 == 2) taken.push_back(takeFront(queue, chunk));  // the ring wraps now and then
    }
    while (!queue.empty()) taken.push_back(takeFront(queue, chunk));
    EXPECT_EQ(taken.size(), pushed.size());
    EXPECT_EQ(taken, std::vector<std::string>(pushed.begin(), pushed.begin() + taken.size()));
  }
}

TEST(OutputQueueTest, TheLimitBoundsTheAllocationNotOnlyTheMessageBytes) {
  constexpr std::size_t kLimit = 128 * 1024;
  OutputQueue queue(kLimit);
  const std::string message = "< ok >";
  std::size_t pushed = 0;
  while (queue.push(message)) ++pushed;
  EXPECT_LE(queue.footprint(), kLimit);
  // Each message costs its bytes plus its length: fewer than limit / size of them fit.
  EXPECT_EQ(pushed, kLimit / (message.size() + 2));
  // Nothing was queued by the refused push: the queue gives back exactly what it took.
  std::size_t taken = 0;
  while (!queue.empty()) {
    EXPECT_EQ(takeFront(queue, 4096), message);
    ++taken;
  }
  EXPECT_EQ(taken, pushed);
  // An emptied large queue gives its memory back.
  EXPECT_EQ(queue.footprint(), 0U);
}

}  // namespace
}  // namespace canbus
