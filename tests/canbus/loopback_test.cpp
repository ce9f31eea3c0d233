#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "canbus/loopback_bus.h"

namespace canbus {
namespace {

Frame frame(uint32_t id, uint8_t byte = 0) {
  Frame f;
  f.id = id;
  f.length = 1;
  f.data[0] = byte;
  return f;
}

std::unique_ptr<Channel> open(const std::string& url) {
  OpenResult result = openChannel(url);
  if (auto* error = std::get_if<Error>(&result)) ADD_FAILURE() << error->message;
  return std::move(std::get<std::unique_ptr<Channel>>(result));
}

TEST(LoopbackTest, EveryOtherEndpointSeesAFrameButNotTheSender) {
  auto a = open("loopback://lb-three");
  auto b = open("loopback://lb-three");
  auto c = open("loopback://lb-three");
  auto elsewhere = open("loopback://lb-other");

  ASSERT_FALSE(a->send(frame(0x181, 1)).has_value());
  ASSERT_FALSE(b->send(frame(0x182, 2)).has_value());

  EXPECT_EQ(a->receive(), frame(0x182, 2));
  EXPECT_EQ(a->receive(), std::nullopt);
  EXPECT_EQ(b->receive(), frame(0x181, 1));
  EXPECT_EQ(b->receive(), std::nullopt);
  EXPECT_EQ(c->receive(), frame(0x181, 1));
  EXPECT_EQ(c->receive(), frame(0x182, 2));
  EXPECT_EQ(c->receive(), std::nullopt);
  EXPECT_EQ(elsewhere->receive(), std::nullopt);
  EXPECT_EQ(a->name(), "lb-three");
  EXPECT_EQ(a->state(), ChannelState::active);
}

TEST(LoopbackTest, RemoteFramesTravelWithoutData) {
  auto a = openLoopback("lb-rtr");
  auto b = openLoopback("lb-rtr");
  Frame rtr;
  rtr.id = 0x701;
  rtr.remote = true;
  rtr.length = 1;
  rtr.data[0] = 0xAA;  // not part of a remote frame
  ASSERT_FALSE(a->send(rtr).has_value());
  const std::optional<Frame> got = b->receive();
  ASSERT_TRUE(got.has_value());
  EXPECT_TRUE(got->remote);
  EXPECT_EQ(got->length, 1);
  EXPECT_EQ(got->data[0], 0);
}

TEST(LoopbackTest, InvalidFramesAreNotSent) {
  auto a = openLoopback("lb-invalid");
  auto b = openLoopback("lb-invalid");
  Frame bad = frame(0x800);
  const std::optional<Error> error = a->send(bad);
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->kind, ErrorKind::sendFailed);
  EXPECT_EQ(b->receive(), std::nullopt);
}

TEST(LoopbackTest, AFullQueueDropsItsOldestFramesAndCountsThem) {
  auto sender = openLoopback("lb-bounded");
  auto receiver = openLoopback("lb-bounded", 3);
  for (uint32_t id = 1; id <= 5; ++id) ASSERT_FALSE(sender->send(frame(id)).has_value());
  EXPECT_EQ(receiver->droppedFrames(), 2U);
  EXPECT_EQ(receiver->pendingFrames(), 3U);
  EXPECT_EQ(receiver->receive()->id, 3U);
  EXPECT_EQ(receiver->receive()->id, 4U);
  EXPECT_EQ(receiver->receive()->id, 5U);
  EXPECT_EQ(sender->droppedFrames(), 0U);
}

TEST(LoopbackTest, PollFdIsReadableExactlyWhileFramesWait) {
  auto a = openLoopback("lb-poll");
  auto b = openLoopback("lb-poll");
  auto readable = [&] {
    pollfd entry{b->pollFd(), POLLIN, 0};
    return ::poll(&entry, 1, 0) == 1;
  };
  ASSERT_GE(b->pollFd(), 0);
  EXPECT_FALSE(readable());
  a->send(frame(1));
  a->send(frame(2));
  EXPECT_TRUE(readable());
  b->receive();
  EXPECT_TRUE(readable());
  b->receive();
  EXPECT_FALSE(readable());
}

TEST(LoopbackTest, ABusEndsWithItsLastEndpoint) {
  {
    auto a = openLoopback("lb-lifetime");
    auto b = openLoopback("lb-lifetime");
    a->send(frame(1));
  }
  auto fresh = openLoopback("lb-lifetime");
  auto other = openLoopback("lb-lifetime");
  EXPECT_EQ(fresh->receive(), std::nullopt);
  EXPECT_EQ(other->receive(), std::nullopt);
}

// Endpoints used from different threads at once: every frame arrives once, in each sender's
// order. Meant to run under ThreadSanitizer too.
TEST(LoopbackThreadTest, ConcurrentSendersAndReceiversLoseNothing) {
  constexpr int kSenders = 3;
  constexpr int kFramesEach = 2000;
  auto listener = openLoopback("lb-threads");
  std::vector<std::unique_ptr<LoopbackChannel>> senders;
  for (int i = 0; i < kSenders; ++i) senders.push_back(openLoopback("lb-threads"));

  std::atomic<int> received{0};
  std::vector<uint32_t> lastSeen(kSenders, 0);
  bool inOrder = true;
  std::thread reader([&] {
    while (received.load() < kSenders * kFramesEach) {
      if (std::optional<Frame> f = listener->receive()) {
        const uint32_t sender = f->id >> 8;
        const uint32_t sequence =
            static_cast<uint32_t>(f->data[0]) | (static_cast<uint32_t>(f->data[1]) << 8);
        if (sequence != lastSeen[sender]) inOrder = false;
        lastSeen[sender] = sequence + 1;
        ++received;
      } else {
        pollfd entry{listener->pollFd(), POLLIN, 0};
        ::poll(&entry, 1, 100);
      }
    }
  });
  std::vector<std::thread> writers;
  for (int s = 0; s < kSenders; ++s) {
    writers.emplace_back([&, s] {
      for (int i = 0; i < kFramesEach; ++i) {
        Frame f;
        f.id = static_cast<uint32_t>(s) << 8;
        f.length = 2;
        f.data[0] = static_cast<uint8_t>(i & 0xFF);
        f.data[1] = static_cast<uint8_t>(i >> 8);
        senders[static_cast<std::size_t>(s)]->send(f);
        // Each sender also drains what the others send, from its own thread.
        while (senders[static_cast<std::size_t>(s)]->receive()) {
        }
      }
    });
  }
  for (std::thread& t : writers) t.join();
  reader.join();
  EXPECT_EQ(received.load(), kSenders * kFramesEach);
  EXPECT_TRUE(inOrder);
  EXPECT_EQ(listener->droppedFrames(), 0U);
}

}  // namespace
}  // namespace canbus
