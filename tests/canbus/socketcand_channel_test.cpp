// The socketcand client against a scripted server in a thread of the test.
#include "canbus/socketcand_channel.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "canbus/unique_fd.h"
#include "support/candump_frames.h"
#include "support/channel_wait.h"

namespace canbus {
namespace {

using namespace std::chrono_literals;

// A listening socket on 127.0.0.1 and, when given a script, a thread that accepts one client
// and runs the script on it.
class FakeServer {
 public:
  using Script = std::function<void(int fd)>;

  FakeServer() {
    listener_.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(listener_.get(), 4), 0);
    socklen_t length = sizeof address;
    ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~FakeServer() { join(); }

  // Waits for the script to finish.
  void join() {
    if (thread_.joinable()) thread_.join();
  }
  uint16_t port() const { return port_; }

  void serve(Script script) {
    thread_ = std::thread([this, script = std::move(script)] {
      UniqueFd client(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
      if (client) script(client.get());
    });
  }

  std::string url(const std::string& bus = "sim0") const {
    return "socketcand://127.0.0.1:" + std::to_string(port_) + "/" + bus;
  }

  // Helpers for scripts.
  static void say(int fd, const std::string& text) {
    ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
  }
  // Reads until `text` has arrived (true) or the peer closed or 5 s passed (false).
  static bool await(int fd, const std::string& text) {
    std::string seen;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (seen.find(text) == std::string::npos) {
      pollfd entry{fd, POLLIN, 0};
      if (::poll(&entry, 1, 100) <= 0) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        continue;
      }
      char buffer[512];
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) return false;
      seen.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
  }
  // The standard handshake; rtrmode answered ok or, for a plain socketcand, with an error.
  static bool handshake(int fd, bool rtr) {
    say(fd, "< hi >");
    if (!await(fd, "< open sim0 >")) return false;
    say(fd, "< ok >");
    if (!await(fd, "< rtrmode >")) return false;
    say(fd, rtr ? "< ok >" : "< error unknown command >");
    if (!await(fd, "< rawmode >")) return false;
    say(fd, "< ok >");
    return true;
  }

 private:
  UniqueFd listener_;
  uint16_t port_ = 0;
  std::thread thread_;
};

std::unique_ptr<Channel> openOk(const std::string& url) {
  OpenResult result = openChannel(url, OpenOptions{500000, 2000ms});
  if (auto* error = std::get_if<Error>(&result)) {
    ADD_FAILURE() << error->message;
    return nullptr;
  }
  return std::move(std::get<std::unique_ptr<Channel>>(result));
}

Error openFails(const std::string& url, std::chrono::milliseconds timeout = 2000ms) {
  OpenResult result = openChannel(url, OpenOptions{500000, timeout});
  if (!std::holds_alternative<Error>(result)) {
    ADD_FAILURE() << "opening " << url << " succeeded";
    return Error{ErrorKind::badUrl, ""};
  }
  return std::get<Error>(std::move(result));
}

TEST(SocketcandChannelTest, ARefusedConnectionFailsAtOnceEveryTime) {
  uint16_t port = 0;
  {
    const FakeServer closed;  // take a free port, then close it again
    port = closed.port();
  }
  const std::string url = "socketcand://127.0.0.1:" + std::to_string(port) + "/sim0";
  for (int attempt = 0; attempt < 3; ++attempt) {
    const Error error = openFails(url);
    EXPECT_EQ(error.kind, ErrorKind::noSuchInterface);
    EXPECT_NE(error.message.find("refused"), std::string::npos) << error.message;
    EXPECT_NE(error.message.find("127.0.0.1:" + std::to_string(port)), std::string::npos);
  }
}

TEST(SocketcandChannelTest, ASilentServerTimesOut) {
  FakeServer silent;  // accepts (backlog) but never says hi
  const Error error = openFails(silent.url(), 200ms);
  EXPECT_EQ(error.kind, ErrorKind::noSuchInterface);
  EXPECT_NE(error.message.find("handshake in time"), std::string::npos) << error.message;
}

TEST(SocketcandChannelTest, AServerThatSpeaksSomethingElseIsAProtocolError) {
  FakeServer server;
  server.serve([](int fd) {
    FakeServer::say(fd, "< hello there >");
    FakeServer::await(fd, "never");
  });
  const Error error = openFails(server.url());
  EXPECT_EQ(error.kind, ErrorKind::protocolError);
}

TEST(SocketcandChannelTest, ARefusedBusIsNamed) {
  FakeServer server;
  server.serve([](int fd) {
    FakeServer::say(fd, "< hi >");
    FakeServer::await(fd, "< open sim0 >");
    FakeServer::say(fd, "< error no such bus >");
  });
  const Error error = openFails(server.url());
  EXPECT_EQ(error.kind, ErrorKind::noSuchInterface);
  EXPECT_NE(error.message.find("bus sim0"), std::string::npos) << error.message;
  EXPECT_NE(error.message.find("no such bus"), std::string::npos) << error.message;
}

TEST(SocketcandChannelTest, AServerClosingDuringTheHandshakeIsReported) {
  FakeServer server;
  server.serve([](int fd) { FakeServer::say(fd, "< hi >"); });
  const Error error = openFails(server.url());
  EXPECT_EQ(error.kind, ErrorKind::connectionLost);
}

TEST(SocketcandChannelTest, ReceivesSplitJoinedAndGarbledFramesAndSends) {
  FakeServer server;
  std::string sentByClient;
  server.serve([&](int fd) {
    if (!FakeServer::handshake(fd, false)) return;
    const std::string stream =
        "< frame 181 1.000000 D204 >< frame 12345678 1.5 00 > junk < frame 080 2.0  >" +
        std::string(2000, 'x') + "< frame 7FF 3.0 0102030405060708 >";
    for (std::size_t i = 0; i < stream.size(); i += 7) FakeServer::say(fd, stream.substr(i, 7));
    FakeServer::await(fd, "< send 123 1 AA >");
    sentByClient = "< send 123 1 AA >";
  });
  std::unique_ptr<Channel> channel = openOk(server.url());
  ASSERT_NE(channel, nullptr);
  for (const char* expected : {"181#D204", "12345678#00", "080#", "7FF#0102030405060708"}) {
    const std::optional<Frame> frame = test_kit::receiveWithin(*channel, 5000ms);
    ASSERT_TRUE(frame.has_value()) << "waiting for " << expected;
    EXPECT_EQ(toCandump(*frame), expected);
  }
  auto& socketcand = dynamic_cast<SocketcandChannel&>(*channel);
  EXPECT_GT(socketcand.garbageCount(), 0U);
  EXPECT_FALSE(socketcand.remoteFramesSupported());

  const std::optional<Error> rtr = channel->send(test_kit::frame("701#R"));
  ASSERT_TRUE(rtr.has_value());
  EXPECT_EQ(rtr->kind, ErrorKind::notSupported);
  EXPECT_FALSE(channel->send(test_kit::frame("123#AA")).has_value());
  Frame invalid = test_kit::frame("123#AA");
  invalid.id = 0x800;
  EXPECT_EQ(channel->send(invalid)->kind, ErrorKind::sendFailed);
  server.join();  // the script returns once it has seen the frame
  EXPECT_EQ(sentByClient, "< send 123 1 AA >");
}

// A round of receive() calls ends once the frames of a read that emptied the socket are taken;
// what arrives later comes in a later round, and the descriptor stays readable until then, so a
// caller that sleeps in poll() between rounds never sleeps on a waiting frame.
TEST(SocketcandChannelTest, AFrameArrivingAfterARoundComesWithTheNextRounds) {
  FakeServer server;
  server.serve([](int fd) {
    if (!FakeServer::handshake(fd, true)) return;
    FakeServer::say(fd, " < frame 181 1.0 01 > ");
    // The second frame only once the client has taken the first.
    if (!FakeServer::await(fd, "< send 001 0 >")) return;
    FakeServer::say(fd, " < frame 182 1.1 02 > ");
    FakeServer::await(fd, "never");  // open until the client closes
  });
  std::unique_ptr<Channel> channel = openOk(server.url());
  ASSERT_NE(channel, nullptr);
  const std::optional<Frame> first = test_kit::receiveWithin(*channel, 5000ms);
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(toCandump(*first), "181#01");
  while (channel->receive()) ADD_FAILURE() << "a frame nobody sent";
  ASSERT_FALSE(channel->send(test_kit::frame("001#")).has_value());

  std::vector<std::string> received;
  for (int round = 0; round < 3 && received.empty(); ++round) {
    pollfd entry{channel->pollFd(), POLLIN, 0};
    ASSERT_EQ(::poll(&entry, 1, 5000), 1) << "round " << round << " found nothing to read";
    while (std::optional<Frame> frame = channel->receive()) received.push_back(toCandump(*frame));
  }
  EXPECT_EQ(received, std::vector<std::string>{"182#02"});
  channel.reset();  // ends the script's wait
}

TEST(SocketcandChannelTest, ALostConnectionTakesTheChannelDown) {
  FakeServer server;
  server.serve([](int fd) {
    FakeServer::handshake(fd, true);
    FakeServer::say(fd, "< frame 181 1.0 01 >");
  });  // then closes
  std::unique_ptr<Channel> channel = openOk(server.url());
  ASSERT_NE(channel, nullptr);
  EXPECT_TRUE(dynamic_cast<SocketcandChannel&>(*channel).remoteFramesSupported());
  EXPECT_EQ(channel->state(), ChannelState::active);
  // The frame that came before the close is still delivered.
  const std::optional<Frame> frame = test_kit::receiveWithin(*channel, 5000ms);
  ASSERT_TRUE(frame.has_value());
  EXPECT_EQ(toCandump(*frame), "181#01");
  ASSERT_TRUE(test_kit::waitUntilDown(*channel, 5000ms));
  const std::optional<Error> error = channel->send(test_kit::frame("181#01"));
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->kind, ErrorKind::connectionLost);
  EXPECT_NE(error->message.find("sim0"), std::string::npos) << error->message;
  EXPECT_EQ(channel->pollFd(), -1);
}

}  // namespace
}  // namespace canbus
