// The hub's session handling in process, over a socket pair (Hub::addClient, Hub::serveOnce):
// what a client receives for what it sends, byte for byte, without timing.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
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

// When a frame reached the hub, on the steady clock, from the kernel's wall-clock stamp: the
// stamp's age taken back from now, unless the stamp is missing, from the future or too old to
// trust (the wall clock was set meanwhile).
TEST(HubArrivalTest, AStampsAgeOnTheWallClockIsTakenBackFromTheSteadyNow) {
  using std::chrono::microseconds;
  const std::chrono::system_clock::time_point wallNow{std::chrono::hours(500000)};
  const Clock::time_point steadyNow{std::chrono::hours(7)};
  struct Case {
    const char* what;
    std::optional<std::chrono::system_clock::time_point> arrived;
    Clock::time_point expected;
  };
  const Case cases[] = {
      {"no stamp", std::nullopt, steadyNow},
      {"just now", wallNow, steadyNow},
      {"30 us ago", wallNow - microseconds(30), steadyNow - microseconds(30)},
      {"as old as trusted", wallNow - kMaxArrivalAge, steadyNow - kMaxArrivalAge},
      {"older", wallNow - kMaxArrivalAge - microseconds(1), steadyNow},
      {"an hour ago", wallNow - std::chrono::hours(1), steadyNow},
      {"from the future", wallNow + microseconds(1), steadyNow},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(arrivalTime(c.arrived, wallNow, steadyNow), c.expected) << c.what;
  }
}

}  // namespace
}  // namespace canhub
