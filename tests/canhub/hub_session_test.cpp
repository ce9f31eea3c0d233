// The hub's session handling in process, over a socket pair (Hub::addClient, Hub::serveOnce):
// what a client receives for what it sends, byte for byte, without timing.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "hub.h"
#include "support/socket_pair.h"

namespace canhub {
namespace {

class HubSessionTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(hub_.addClient(std::move(client_.ours), "test")); }

  // Sends the bytes in one write, lets the hub handle them, returns all it wrote since.
  std::string exchange(const std::string& bytes) {
    if (!bytes.empty()) client_.peerSays(bytes);
    for (int round = 0; round < 3; ++round) hub_.serveOnce(-1, std::chrono::milliseconds(0));
    return client_.peerReads(&closed_);
  }

  Hub hub_{HubOptions{.port = 0}};
  test_kit::SocketPair client_;  // the hub has one end, the test plays the client on the other
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
