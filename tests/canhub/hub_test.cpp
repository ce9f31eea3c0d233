// tools/canhub as a process: our socketcand client and raw TCP clients against it.
#include "hub.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "canbus/channel.h"
#include "canbus/socketcand_channel.h"
#include "canbus/socketcand_protocol.h"
#include "hub_process.h"
#include "raw_client.h"
#include "support/candump_frames.h"
#include "support/channel_wait.h"

namespace canhub {
namespace {

using namespace std::chrono_literals;
using canbus::Channel;
using canbus::ChannelState;
using canbus::ErrorKind;
using canbus::Frame;
using canbus::toCandump;
using test_kit::receiveWithin;
using testing::HubProcess;
using testing::RawClient;

std::unique_ptr<Channel> open(const std::string& url) {
  canbus::OpenResult result = canbus::openChannel(url);
  if (auto* error = std::get_if<canbus::Error>(&result)) {
    ADD_FAILURE() << error->message;
    return nullptr;
  }
  return std::move(std::get<std::unique_ptr<Channel>>(result));
}

// Receives until nothing more comes for a moment; the frames as candump text.
std::vector<std::string> drain(Channel& channel, std::chrono::milliseconds quiet = 100ms) {
  std::vector<std::string> frames;
  while (std::optional<Frame> frame = receiveWithin(channel, quiet))
    frames.push_back(toCandump(*frame));
  return frames;
}

// The messages a raw client receives until a complete frame with this id came (or the time is
// up), each as "frame 181#01", "rtr 701#R1" or "other"; `raw` gets the bytes. Parsed, not
// searched as text: the digits of a time stamp could match an id.
std::vector<std::string> messagesUntilFrame(RawClient& client, uint32_t id,
                                            std::string* raw = nullptr) {
  namespace sc = canbus::socketcand;
  sc::MessageSplitter splitter;
  std::vector<std::string> messages;
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (std::chrono::steady_clock::now() < deadline) {
    const std::string bytes = client.readOnce(100ms);
    if (raw) *raw += bytes;
    splitter.feed(bytes);
    while (std::optional<sc::MessageSplitter::Piece> piece = splitter.next()) {
      const sc::ServerMessage message = sc::parseServerMessage(piece->text);
      if (message.kind == sc::ServerMessage::Kind::frame) {
        messages.push_back("frame " + toCandump(message.frame));
        if (!message.frame.remote && message.frame.id == id) return messages;
      } else if (message.kind == sc::ServerMessage::Kind::rtr) {
        messages.push_back("rtr " + toCandump(message.frame));
      } else {
        messages.push_back("other");
      }
    }
  }
  return messages;
}

class HubTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(hub_.started()) << "canhub printed: " << hub_.firstLine(); }
  HubProcess hub_{{"--listen", "127.0.0.1:0"}};
};

TEST_F(HubTest, PrintsTheAddressItListensOn) {
  EXPECT_TRUE(std::regex_match(hub_.firstLine(), std::regex("listening on 127\\.0\\.0\\.1:[0-9]+")))
      << hub_.firstLine();
}

TEST_F(HubTest, AnswersEachCommandInAWriteOfItsOwn) {
  RawClient client(hub_.port());
  ASSERT_TRUE(client.connected());
  EXPECT_EQ(client.readOnce(), "< hi >");
  struct Exchange {
    const char* say;
    const char* answer;
  };
  const std::vector<Exchange> script = {
      {"< rawmode >", "< error no bus open >"},
      {"< send 181 0 >", "< error no bus open >"},
      {"< open bus1 >", "< ok >"},
      {"< open bus2 >", "< error bus already open >"},
      {"< echo >", "< echo >"},
      {"< bcmmode >", "< error unknown command >"},
      {"< rawmode >", "< ok >"},
      {"< echo >", "< echo >"},
  };
  for (const Exchange& e : script) {
    SCOPED_TRACE(e.say);
    ASSERT_TRUE(client.send(e.say));
    EXPECT_EQ(client.readOnce(), e.answer);
  }
}

TEST_F(HubTest, MalformedInputIsAnsweredAndTheHubGoesOn) {
  RawClient client(hub_.port());
  ASSERT_TRUE(client.join("bad"));
  const std::vector<const char*> inputs = {
      "< send 181 2 00 >",                 // fewer bytes than the DLC
      "< send 181 1 00 11 >",              // more bytes than the DLC
      "< send 181 9 0 0 0 0 0 0 0 0 0 >",  // DLC > 8
      "< send 1G1 0 >",                    // bad hex id
      "< send 181 1 XY >",                 // bad hex byte
      "< send 800 0 >",                    // 11-bit id out of range
      "< send >",                          //
      "< sendrtr 701 0 >",                 // remote frames need rtrmode
      "hello",                             // text outside a message
      "< open >",
  };
  for (const char* input : inputs) {
    SCOPED_TRACE(input);
    ASSERT_TRUE(client.send(input));
    const std::string answer = client.readOnce();
    EXPECT_EQ(answer.rfind("< error ", 0), 0U) << answer;
    EXPECT_EQ(answer.back(), '>');
  }
  // Still serving: a good frame from another client arrives.
  std::unique_ptr<Channel> sender = open(hub_.url("bad"));
  ASSERT_NE(sender, nullptr);
  ASSERT_FALSE(sender->send(test_kit::frame("181#01")).has_value());
  EXPECT_NE(client.readUntil("< frame 181 ").find("< frame 181 "), std::string::npos);
}

TEST_F(HubTest, AnOverlongLineIsAnsweredThenTheConnectionClosed) {
  RawClient client(hub_.port());
  ASSERT_TRUE(client.join("long"));
  ASSERT_TRUE(client.send("< send 181 1 " + std::string(5000, '0')));
  EXPECT_NE(client.readUntil("< error message too long >").find("< error message too long >"),
            std::string::npos);
  EXPECT_TRUE(client.closedWithin(5s));

  RawClient next(hub_.port());
  EXPECT_EQ(next.readOnce(), "< hi >");
}

TEST_F(HubTest, RelaysBetweenOurClientsInBothDirectionsNeverToTheSender) {
  std::unique_ptr<Channel> a = open(hub_.url("x"));
  std::unique_ptr<Channel> b = open(hub_.url("x"));
  std::unique_ptr<Channel> c = open(hub_.url("x"));
  std::unique_ptr<Channel> other = open(hub_.url("y"));
  ASSERT_TRUE(a && b && c && other);

  const std::vector<std::string> fromA = {"181#D204", "12345678#0011223344556677", "080#",
                                          "00000001#FF", "7FF#01"};
  for (const std::string& text : fromA) ASSERT_FALSE(a->send(test_kit::frame(text)).has_value());
  ASSERT_FALSE(b->send(test_kit::frame("582#4300100000000000")).has_value());

  std::vector<std::string> expectedByC = fromA;
  expectedByC.push_back("582#4300100000000000");
  EXPECT_EQ(drain(*a), std::vector<std::string>{"582#4300100000000000"});
  EXPECT_EQ(drain(*b), fromA);
  EXPECT_EQ(drain(*c), expectedByC);
  EXPECT_TRUE(drain(*other).empty());
}

TEST_F(HubTest, FramesGoOutInSocketcandNotationWithSeparators) {
  RawClient raw(hub_.port());
  ASSERT_TRUE(raw.join("fmt"));
  std::unique_ptr<Channel> sender = open(hub_.url("fmt"));
  ASSERT_NE(sender, nullptr);
  ASSERT_FALSE(sender->send(test_kit::frame("181#D204")).has_value());
  ASSERT_FALSE(sender->send(test_kit::frame("080#")).has_value());
  ASSERT_FALSE(sender->send(test_kit::frame("12345678#AB")).has_value());
  const std::string received = raw.readUntil(" AB > ");
  EXPECT_TRUE(std::regex_match(received, std::regex(" < frame 181 [0-9]+\\.[0-9]{6} D204 >  "
                                                    "< frame 080 [0-9]+\\.[0-9]{6}  >  "
                                                    "< frame 12345678 [0-9]+\\.[0-9]{6} AB > ")))
      << "'" << received << "'";
}

TEST_F(HubTest, RemoteFramesReachOnlyClientsThatOptedIn) {
  std::unique_ptr<Channel> a = open(hub_.url("rtr"));
  std::unique_ptr<Channel> b = open(hub_.url("rtr"));
  ASSERT_TRUE(a && b);
  EXPECT_TRUE(dynamic_cast<canbus::SocketcandChannel&>(*a).remoteFramesSupported());
  RawClient standard(hub_.port());
  ASSERT_TRUE(standard.join("rtr"));
  RawClient optedIn(hub_.port());
  ASSERT_EQ(optedIn.readOnce(), "< hi >");
  ASSERT_TRUE(optedIn.send("< open rtr >"));
  ASSERT_EQ(optedIn.readOnce(), "< ok >");
  ASSERT_TRUE(optedIn.send("< rtrmode >"));
  ASSERT_EQ(optedIn.readOnce(), "< ok >");
  ASSERT_TRUE(optedIn.send("< rawmode >"));
  ASSERT_EQ(optedIn.readOnce(), "< ok >");

  ASSERT_FALSE(a->send(test_kit::frame("701#R1")).has_value());
  ASSERT_FALSE(a->send(test_kit::frame("181#01")).has_value());

  EXPECT_EQ(drain(*b), (std::vector<std::string>{"701#R1", "181#01"}));
  // The standard client's first message is the data frame: the remote frame never came.
  EXPECT_EQ(messagesUntilFrame(standard, 0x181), std::vector<std::string>{"frame 181#01"});
  std::string extended;
  EXPECT_EQ(messagesUntilFrame(optedIn, 0x181, &extended),
            (std::vector<std::string>{"rtr 701#R1", "frame 181#01"}));
  EXPECT_TRUE(std::regex_search(extended, std::regex("^ < rtr 701 [0-9]+\\.[0-9]{6} 1 > ")))
      << extended;

  // The opted-in raw client may send one too.
  ASSERT_TRUE(optedIn.send("< sendrtr 00000702 0 >"));
  EXPECT_EQ(drain(*a), std::vector<std::string>{"00000702#R"});
}

TEST_F(HubTest, StopsCleanlyOnSigterm) {
  std::unique_ptr<Channel> client = open(hub_.url("stop"));
  ASSERT_NE(client, nullptr);
  EXPECT_EQ(hub_.stop(SIGTERM), 0);
}

TEST(HubSignalTest, StopsCleanlyOnSigint) {
  HubProcess hub({"--listen", "127.0.0.1:0"});
  ASSERT_TRUE(hub.started());
  EXPECT_EQ(hub.stop(SIGINT), 0);
}

TEST(HubReconnectTest, ClientsNoticeALostHubAndReconnectToANewOne) {
  auto first = std::make_unique<HubProcess>(std::vector<std::string>{"--listen", "127.0.0.1:0"});
  ASSERT_TRUE(first->started());
  const uint16_t port = first->port();
  const std::string url = first->url("re");
  std::unique_ptr<Channel> channel = open(url);
  ASSERT_NE(channel, nullptr);

  ASSERT_EQ(first->stop(), 0);
  ASSERT_TRUE(test_kit::waitUntilDown(*channel, 5s));
  const std::optional<canbus::Error> lost = channel->send(test_kit::frame("181#01"));
  ASSERT_TRUE(lost.has_value());
  EXPECT_EQ(lost->kind, ErrorKind::connectionLost);

  // While no hub runs, reopening fails at once and cleanly, as often as it is tried.
  for (int attempt = 0; attempt < 3; ++attempt) {
    canbus::OpenResult again = canbus::openChannel(url);
    ASSERT_TRUE(std::holds_alternative<canbus::Error>(again));
    EXPECT_EQ(std::get<canbus::Error>(again).kind, ErrorKind::noSuchInterface);
  }

  HubProcess second({"--listen", "127.0.0.1:" + std::to_string(port)});
  ASSERT_TRUE(second.started()) << second.firstLine();
  channel = open(url);
  std::unique_ptr<Channel> peer = open(url);
  ASSERT_TRUE(channel && peer);
  ASSERT_FALSE(channel->send(test_kit::frame("181#02")).has_value());
  const std::optional<Frame> frame = receiveWithin(*peer, 5s);
  ASSERT_TRUE(frame.has_value());
  EXPECT_EQ(toCandump(*frame), "181#02");
}

TEST(HubPacingTest, PacedFramesArriveInOrderNoFasterThanTheWire) {
  constexpr uint32_t kBitrate = 10000;
  HubProcess hub({"--listen", "127.0.0.1:0", "--bitrate", std::to_string(kBitrate)});
  ASSERT_TRUE(hub.started());
  std::unique_ptr<Channel> a = open(hub.url("paced"));
  std::unique_ptr<Channel> b = open(hub.url("paced"));
  ASSERT_TRUE(a && b);
  std::vector<std::string> sent;
  for (int i = 0; i < 10; ++i) {
    Frame f = test_kit::frame("181#0011223344556677");
    f.data[0] = static_cast<uint8_t>(i);
    sent.push_back(toCandump(f));
  }
  const auto start = std::chrono::steady_clock::now();
  for (const std::string& text : sent) ASSERT_FALSE(a->send(test_kit::frame(text)).has_value());
  std::vector<std::string> received;
  while (received.size() < sent.size()) {
    const std::optional<Frame> f = receiveWithin(*b, 5s);
    ASSERT_TRUE(f.has_value());
    received.push_back(toCandump(*f));
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(received, sent);
  // Each 8-byte frame is at least 111 bits; at 10 kbit/s ten of them need 111 ms at least.
  EXPECT_GE(elapsed, std::chrono::microseconds(10 * 111 * 1'000'000 / kBitrate));
}

TEST(HubCommandLineTest, RejectsBadArgumentsAndBusyPorts) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--bitrate", "fast"},
                                               {"--bitrate", "0"},
                                               {"--listen", "nowhere"},
                                               {"--listen", "127.0.0.1:70000"},
                                               {"--handshake-timeout-ms", "0"},
                                               {"--handshake-timeout-ms", "soon"},
                                               {"--frobnicate"},
                                               {"--listen"}}) {
    HubProcess bad(args);
    EXPECT_FALSE(bad.started());
    EXPECT_EQ(bad.wait(10s), 2) << args[0];
  }
  HubProcess first({"--listen", "127.0.0.1:0"});
  ASSERT_TRUE(first.started());
  // SO_REUSEADDR does not let a second listener share a port that is in use.
  HubProcess second({"--listen", "127.0.0.1:" + std::to_string(first.port())});
  EXPECT_FALSE(second.started());
  EXPECT_EQ(second.wait(10s), 1);
}

// In process, with a small output limit: a client that does not read is dropped, the others
// get every frame.
TEST(HubSlowClientTest, AClientThatDoesNotReadIsDisconnectedOthersGetEverything) {
  HubOptions options;
  options.port = 0;
  options.clientOutputLimit = 64 * 1024;
  Hub hub(options);
  ASSERT_EQ(hub.listen(), std::nullopt);
  int stop[2];
  ASSERT_EQ(::pipe(stop), 0);
  std::thread loop([&] { hub.run(stop[0]); });
  const uint16_t port =
      static_cast<uint16_t>(std::stoi(hub.address().substr(hub.address().rfind(':') + 1)));
  const std::string url = "socketcand://127.0.0.1:" + std::to_string(port) + "/slow";

  RawClient slow(port, 4096);
  ASSERT_TRUE(slow.join("slow"));
  std::unique_ptr<Channel> sender = open(url);
  std::unique_ptr<Channel> fast = open(url);
  ASSERT_TRUE(sender && fast);

  constexpr int kFrames =
      40000;  // about 1.4 MB for each receiver: far past what the slow one holds
  int sent = 0;
  int received = 0;
  while (received < kFrames) {
    // At most 500 frames (about 17 kB) in flight, so the fast client keeps within the limit.
    while (sent < kFrames && sent - received < 500) {
      Frame f = test_kit::frame("181#0011223344556677");
      f.data[0] = static_cast<uint8_t>(sent);
      if (sender->send(f)) break;  // our send buffer is full: let the hub catch up
      ++sent;
    }
    sender->receive();  // flushes what is left of our send buffer
    if (!receiveWithin(*fast, 5s)) break;
    ++received;
    while (fast->receive()) ++received;
  }
  EXPECT_EQ(received, kFrames);
  EXPECT_TRUE(slow.closedWithin(10s));

  const char byte = 1;
  ASSERT_EQ(::write(stop[1], &byte, 1), 1);
  loop.join();
  ::close(stop[0]);
  ::close(stop[1]);
}

// A client that never opens a bus is closed after the handshake time-out, so stalled
// connections cannot keep the client places filled; a client that opened one stays.
TEST(HubHandshakeTest, StalledHandshakesTimeOutAndANewClientIsGreeted) {
  constexpr int kMaxClients = 256;
  HubProcess hub({"--listen", "127.0.0.1:0", "--handshake-timeout-ms", "300"});
  ASSERT_TRUE(hub.started());
  RawClient member(hub.port());
  ASSERT_TRUE(member.join("stay"));
  std::vector<std::unique_ptr<RawClient>> stalled;
  for (int i = 1; i < kMaxClients; ++i) {
    stalled.push_back(std::make_unique<RawClient>(hub.port()));
    ASSERT_TRUE(stalled.back()->connected());
    ASSERT_TRUE(stalled.back()->send("<"));
  }
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  for (const std::unique_ptr<RawClient>& client : stalled) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    ASSERT_TRUE(client->closedWithin(std::max(left, 0ms))) << "a stalled handshake stayed open";
  }

  RawClient next(hub.port());
  EXPECT_EQ(next.readOnce(), "< hi >");
  ASSERT_TRUE(member.send("< echo >"));
  EXPECT_EQ(member.readOnce(), "< echo >");
}

// VmHWM (peak resident memory) of a process in bytes, or 0 when it cannot be read.
std::size_t peakResidentBytes(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string key;
  while (status >> key) {
    std::size_t kib = 0;
    if (key == "VmHWM:" && status >> kib) return kib * 1024;
    status.ignore(1 << 16, '\n');
  }
  return 0;
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kMemoryIsTheSanitizers = true;
#else
constexpr bool kMemoryIsTheSanitizers = false;
#endif

// Clients that never read while another floods the bus cost the hub no more than the output
// bound each: it counts what the hub allocates, not only the bytes of the messages.
TEST(HubMemoryTest, ClientsThatDoNotReadCostNoMoreThanTheOutputBound) {
  if (kMemoryIsTheSanitizers) GTEST_SKIP() << "a sanitizer's allocator decides the memory here";
  constexpr std::size_t kSilent = 16;
  constexpr std::size_t kOutputBound = 4 * 1024 * 1024;  // tools/canhub/README.md
  constexpr std::size_t kMargin = 16 * 1024 * 1024;      // the hub's own fixed needs
  HubProcess hub({"--listen", "127.0.0.1:0"});
  ASSERT_TRUE(hub.started());
  std::vector<std::unique_ptr<RawClient>> silent;
  for (std::size_t i = 0; i < kSilent; ++i) {
    silent.push_back(std::make_unique<RawClient>(hub.port(), 4096));
    ASSERT_TRUE(silent.back()->join("flood"));
  }
  RawClient flooder(hub.port());
  ASSERT_TRUE(flooder.join("flood"));
  const std::size_t before = peakResidentBytes(hub.pid());
  ASSERT_GT(before, 0U);

  // About 50 bytes reach each silent client per frame: 120000 frames overflow every one.
  std::string batch;
  for (int i = 0; i < 1000; ++i) batch += "< send 181 8 00 11 22 33 44 55 66 77 >";
  for (int i = 0; i < 120; ++i) ASSERT_TRUE(flooder.send(batch));
  // The echo comes back once the hub has handled every frame before it.
  ASSERT_TRUE(flooder.send("< echo >"));
  ASSERT_NE(flooder.readUntil("< echo >", 60s).find("< echo >"), std::string::npos);

  const std::size_t after = peakResidentBytes(hub.pid());
  EXPECT_LE(after - before, kSilent * kOutputBound + kMargin)
      << "peak resident memory grew from " << before << " to " << after << " bytes";
}

}  // namespace
}  // namespace canhub
