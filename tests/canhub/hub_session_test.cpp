// The hub's session handling in process, over a socket pair (Hub::addClient, Hub::serveOnce):
// what a client receives for what it sends, byte for byte, without timing.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <chrono>
#include <string>

#include "canbus/unique_fd.h"
#include "hub.h"

namespace canhub {
namespace {

class HubSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair), 0);
    client_ = canbus::UniqueFd(pair[0]);
    ASSERT_TRUE(hub_.addClient(canbus::UniqueFd(pair[1]), "test"));
  }

  // Sends the bytes in one write, lets the hub handle them, returns all it wrote since.
  std::string exchange(const std::string& bytes) {
    if (!bytes.empty()) {
      EXPECT_EQ(::send(client_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL),
                static_cast<ssize_t>(bytes.size()));
    }
    for (int round = 0; round < 3; ++round) hub_.serveOnce(-1, std::chrono::milliseconds(0));
    std::string received;
    char buffer[4096];
    for (;;) {
      const ssize_t n = ::recv(client_.get(), buffer, sizeof buffer, MSG_DONTWAIT);
      if (n == 0) closed_ = true;
      if (n <= 0) break;
      received.append(buffer, static_cast<std::size_t>(n));
    }
    return received;
  }

  Hub hub_{HubOptions{.port = 0}};
  canbus::UniqueFd client_;
  bool closed_ = false;
};

TEST_F(HubSessionTest, AnswersDueBeforeAnOverlongMessageStillComeFirst) {
  EXPECT_EQ(exchange(""), "< hi >");
  EXPECT_EQ(exchange("< echo >< open a >< " + std::string(400, 'x')),
            "< echo >< ok >< error message too long >");
  EXPECT_TRUE(closed_);
  EXPECT_EQ(hub_.clientCount(), 0U);
}

}  // namespace
}  // namespace canhub
