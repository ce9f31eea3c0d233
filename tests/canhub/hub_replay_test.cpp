// Record and replay: in process over socket pairs (when the replay starts, what is recorded),
// and canhub as a process (a session recorded, then replayed into another bus; bad files).
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "canbus/candump_log.h"
#include "canbus/channel.h"
#include "canbus/socketcand_channel.h"
#include "canbus/socketcand_protocol.h"
#include "canbus/unique_fd.h"
#include "hub.h"
#include "hub_process.h"
#include "raw_client.h"
#include "support/candump_frames.h"
#include "support/channel_wait.h"
#include "support/socket_pair.h"

namespace canhub {
namespace {

using namespace std::chrono_literals;
using canbus::CandumpLogEntry;
using canbus::Frame;
using canbus::toCandump;
using testing::HubProcess;
using testing::RawClient;
namespace sc = canbus::socketcand;

class TempPath {
 public:
  explicit TempPath(const std::string& content = {}) {
    char name[] = "/tmp/canhub_replay_testXXXXXX";
    const int fd = ::mkstemp(name);
    ::close(fd);
    path_ = name;
    std::ofstream(path_, std::ios::binary) << content;
  }
  ~TempPath() { std::remove(path_.c_str()); }
  const std::string& path() const { return path_; }
  std::string read() const {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }

 private:
  std::string path_;
};

// The file's lines, each parsed: "IFACE FRAME". Every line must be a whole, well-formed one.
std::vector<std::string> recordedFrames(const std::string& content) {
  std::vector<std::string> frames;
  EXPECT_TRUE(content.empty() || content.back() == '\n') << "the last line is not complete";
  std::istringstream lines(content);
  std::string line;
  while (std::getline(lines, line)) {
    const canbus::CandumpLogLine parsed = canbus::parseCandumpLogLine(line);
    EXPECT_EQ(parsed.kind, canbus::CandumpLogLine::Kind::frame) << line;
    frames.push_back(parsed.entry.interface + " " + toCandump(parsed.entry.frame));
  }
  return frames;
}

// The frames (data and remote) among the messages in `bytes`, in candump notation.
std::vector<std::string> framesIn(const std::string& bytes) {
  sc::MessageSplitter splitter;
  splitter.feed(bytes);
  std::vector<std::string> frames;
  while (std::optional<sc::MessageSplitter::Piece> piece = splitter.next()) {
    const sc::ServerMessage message = sc::parseServerMessage(piece->text);
    if (message.kind == sc::ServerMessage::Kind::frame ||
        message.kind == sc::ServerMessage::Kind::rtr) {
      frames.push_back(toCandump(message.frame));
    }
  }
  return frames;
}

// In process: the hub's loop turned by hand, clients on socket pairs, a log held in memory.
class HubReplaySessionTest : public ::testing::Test {
 protected:
  explicit HubReplaySessionTest(HubOptions options = HubOptions{.port = 0, .rawModeHold = 0ms})
      : hub_(std::move(options)) {}

  canbus::UniqueFd connect() {
    test_kit::SocketPair pair;
    EXPECT_TRUE(hub_.addClient(std::move(pair.ours), "test"));
    return std::move(pair.peer);
  }
  // Sends the bytes, lets the hub handle them, returns all the client got since.
  std::string exchange(const canbus::UniqueFd& client, const std::string& bytes) {
    if (!bytes.empty()) test_kit::sendAll(client.get(), bytes);
    for (int round = 0; round < 4; ++round) hub_.serveOnce(-1, 0ms);
    return test_kit::readAvailable(client.get());
  }

  // A log whose frames all fall due at the start.
  std::unique_ptr<ReplayPlayer> player(std::vector<std::string> frames) {
    auto entries = std::make_shared<std::vector<CandumpLogEntry>>();
    for (const std::string& f : frames) {
      entries->push_back(
          CandumpLogEntry{std::chrono::microseconds(1'000'000), "can0", test_kit::frame(f)});
    }
    auto next = std::make_shared<std::size_t>(0);
    return std::make_unique<ReplayPlayer>(
        [entries, next]() -> std::optional<CandumpLogEntry> {
          if (*next == entries->size()) return std::nullopt;
          return (*entries)[(*next)++];
        },
        1.0);
  }

  Hub hub_;
};

// A client that has opened the bus but not asked for frames yet would lose the first frames: the
// replay waits for a client in raw mode.
TEST_F(HubReplaySessionTest, StartsWhenAClientOfTheBusEntersRawModeAndIsRecorded) {
  TempPath recording;
  auto recorder = Recorder::open(recording.path());
  ASSERT_TRUE(std::holds_alternative<std::unique_ptr<Recorder>>(recorder));
  hub_.record(std::move(std::get<std::unique_ptr<Recorder>>(recorder)));
  hub_.replay("sim0", "memory", player({"181#01", "701#R", "12345678#0203"}));

  canbus::UniqueFd other = connect();
  EXPECT_EQ(exchange(other, ""), "< hi >");
  EXPECT_EQ(exchange(other, "< open other >< rawmode >"), "< ok >< ok >");
  canbus::UniqueFd early = connect();
  EXPECT_EQ(exchange(early, ""), "< hi >");
  EXPECT_EQ(exchange(early, "< open sim0 >"), "< ok >");
  EXPECT_EQ(recording.read(), "");  // nothing played yet

  canbus::UniqueFd listener = connect();
  EXPECT_EQ(exchange(listener, ""), "< hi >");
  const std::string got = exchange(listener, "< open sim0 >< rtrmode >< rawmode >");
  EXPECT_EQ(framesIn(got), (std::vector<std::string>{"181#01", "701#R", "12345678#0203"})) << got;
  EXPECT_EQ(framesIn(exchange(other, "")), std::vector<std::string>{});  // other buses: nothing

  exchange(early, "< rawmode >< send 182 1 AA >");
  EXPECT_EQ(framesIn(exchange(listener, "")), std::vector<std::string>{"182#AA"});
  EXPECT_EQ(
      recordedFrames(recording.read()),
      (std::vector<std::string>{"sim0 181#01", "sim0 701#R", "sim0 12345678#0203", "sim0 182#AA"}));
}

// Raw mode's ok is followed by a hold of the client's traffic, for clients that read the ok with
// one recv() (python-can). A client that sends has read its ok: its hold ends there, so that the
// answer to what it sent reaches it at once; a client that only listens stays held.
class HubRawModeHoldTest : public HubReplaySessionTest {
 protected:
  HubRawModeHoldTest() : HubReplaySessionTest(HubOptions{.port = 0, .rawModeHold = 1h}) {}
};

TEST_F(HubRawModeHoldTest, EndsWhenTheClientSends) {
  canbus::UniqueFd listener = connect();
  EXPECT_EQ(exchange(listener, ""), "< hi >");
  EXPECT_EQ(exchange(listener, "< open sim0 >< rawmode >"), "< ok >< ok >");
  canbus::UniqueFd master = connect();
  EXPECT_EQ(exchange(master, ""), "< hi >");
  EXPECT_EQ(exchange(master, "< open sim0 >< rawmode >"), "< ok >< ok >");

  EXPECT_EQ(framesIn(exchange(master, "< send 000 2 81 00 >")), std::vector<std::string>{});
  EXPECT_EQ(framesIn(exchange(listener, "")), std::vector<std::string>{}) << "held";
  // The listener answers: its hold ends with its send, and its answer reaches the master at once.
  EXPECT_EQ(framesIn(exchange(listener, "< send 701 1 00 >")),
            std::vector<std::string>{"000#8100"});
  EXPECT_EQ(framesIn(exchange(master, "")), std::vector<std::string>{"701#00"});
}

// With --bitrate the replay waits while the bus's wire queue is full instead of losing frames.
class HubReplayPacedTest : public HubReplaySessionTest {
 protected:
  HubReplayPacedTest()
      : HubReplaySessionTest(HubOptions{
            .port = 0, .bitrate = 1'000'000, .rawModeHold = 0ms, .pacedQueueLimit = 2}) {}
};

TEST_F(HubReplayPacedTest, AFullWireQueueHoldsTheReplayBackNothingIsLost) {
  const std::vector<std::string> frames = {"181#01", "181#02", "181#03", "181#04",
                                           "181#05", "181#06", "181#07"};
  hub_.replay("sim0", "memory", player(frames));
  canbus::UniqueFd listener = connect();
  EXPECT_EQ(exchange(listener, ""), "< hi >");
  std::string got = exchange(listener, "< open sim0 >< rawmode >");
  // Each frame takes about 60 us on the wire at 1 Mbit/s; far more than enough rounds.
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (framesIn(got).size() < frames.size() && std::chrono::steady_clock::now() < deadline) {
    got += exchange(listener, "");
  }
  EXPECT_EQ(framesIn(got), frames);
}

TEST(RecorderTest, AFailedWriteIsToldOnceAndStopsTheRecording) {
  auto opened = Recorder::open("/dev/full");
  ASSERT_TRUE(std::holds_alternative<std::unique_ptr<Recorder>>(opened));
  Recorder& recorder = *std::get<std::unique_ptr<Recorder>>(opened);
  recorder.add("sim0", test_kit::frame("181#01"), 1s);
  const std::optional<std::string> error = recorder.flush();
  ASSERT_TRUE(error.has_value());
  EXPECT_NE(error->find("writing /dev/full failed: No space left on device"), std::string::npos)
      << *error;
  EXPECT_TRUE(recorder.stopped());
  recorder.add("sim0", test_kit::frame("181#02"), 2s);
  EXPECT_EQ(recorder.flush(), std::nullopt);

  auto bad = Recorder::open("/nonexistent/session.log");
  ASSERT_TRUE(std::holds_alternative<std::string>(bad));
  EXPECT_EQ(std::get<std::string>(bad),
            "cannot record to /nonexistent/session.log: No such file or directory");
}

// canhub as a process.

std::unique_ptr<canbus::Channel> open(const std::string& url) {
  canbus::OpenResult result = canbus::openChannel(url);
  if (auto* error = std::get_if<canbus::Error>(&result)) {
    ADD_FAILURE() << error->message;
    return nullptr;
  }
  return std::move(std::get<std::unique_ptr<canbus::Channel>>(result));
}

// Receives `count` frames (each within a generous time), in candump notation.
std::vector<std::string> receive(canbus::Channel& channel, std::size_t count) {
  std::vector<std::string> frames;
  while (frames.size() < count) {
    const std::optional<Frame> frame = test_kit::receiveWithin(channel, 5s);
    if (!frame) break;
    frames.push_back(toCandump(*frame));
  }
  return frames;
}

TEST(HubRecordReplayTest, ASessionRecordedThenReplayedIntoABusArrivesWholeAndInOrder) {
  TempPath session;
  const std::vector<std::string> sent = {
      "181#D204", "701#R", "080#", "00000701#R2", "12345678#0011223344556677", "581#4300"};
  {
    HubProcess hub({"--listen", "127.0.0.1:0", "--record", session.path()});
    ASSERT_TRUE(hub.started()) << hub.firstLine();
    std::unique_ptr<canbus::Channel> a = open(hub.url("sim0"));
    std::unique_ptr<canbus::Channel> b = open(hub.url("sim0"));
    ASSERT_TRUE(a && b);
    // Alternating senders, each frame received before the next is sent: the order is fixed.
    for (std::size_t i = 0; i < sent.size(); ++i) {
      canbus::Channel& from = i % 2 == 0 ? *a : *b;
      canbus::Channel& to = i % 2 == 0 ? *b : *a;
      ASSERT_FALSE(from.send(test_kit::frame(sent[i])).has_value());
      EXPECT_EQ(receive(to, 1), std::vector<std::string>{sent[i]});
    }
    EXPECT_EQ(hub.stop(SIGINT), 0);
  }
  std::vector<std::string> expected;
  for (const std::string& f : sent) expected.push_back("sim0 " + f);
  EXPECT_EQ(recordedFrames(session.read()), expected);

  // Replayed into another bus, recorded again; a client of a third bus sees none of it.
  TempPath again;
  TempPath errors;
  HubProcess hub({"--listen", "127.0.0.1:0", "--replay", session.path(), "--bus", "bench",
                  "--speed", "10", "--record", again.path()},
                 errors.path());
  ASSERT_TRUE(hub.started()) << hub.firstLine();
  std::unique_ptr<canbus::Channel> elsewhere = open(hub.url("sim0"));
  std::unique_ptr<canbus::Channel> listener = open(hub.url("bench"));
  ASSERT_TRUE(elsewhere && listener);
  EXPECT_EQ(receive(*listener, sent.size()), sent);
  EXPECT_FALSE(test_kit::receiveWithin(*elsewhere, 100ms).has_value());
  EXPECT_EQ(hub.stop(), 0);
  expected.clear();
  for (const std::string& f : sent) expected.push_back("bench " + f);
  EXPECT_EQ(recordedFrames(again.read()), expected);
  EXPECT_NE(errors.read().find("replay done, 6 frames played into bench"), std::string::npos)
      << errors.read();
}

// Paced: the replay's frames wait for the wire, and the last one is not left waiting.
TEST(HubRecordReplayTest, APacedReplayDeliversEveryFrame) {
  TempPath trace(
      "(1.000000) can0 181#01\n"
      "(1.000000) can0 181#02\n"
      "(1.100000) can0 181#03\n");
  HubProcess hub({"--listen", "127.0.0.1:0", "--bitrate", "10000", "--replay", trace.path()});
  ASSERT_TRUE(hub.started()) << hub.firstLine();
  std::unique_ptr<canbus::Channel> listener = open(hub.url("sim0"));
  ASSERT_TRUE(listener);
  EXPECT_EQ(receive(*listener, 3), (std::vector<std::string>{"181#01", "181#02", "181#03"}));
}

TEST(HubRecordReplayTest, BadLinesAreNamedAndSkippedTheRestIsPlayed) {
  TempPath trace(
      "(1735270496.000000) can0 181#01\n"
      "(1735270496.001000) can0 181#0\n"
      "(1735270496.002000) can0 123##1DEADBEEF\n"
      "(1735270495.000000) can1 182#02 R\n"  // back in time: played at once
      "no time stamp\n"
      "(1735270495.001000) can0 183#03\n");
  TempPath errors;
  HubProcess hub({"--listen", "127.0.0.1:0", "--replay", trace.path()}, errors.path());
  ASSERT_TRUE(hub.started()) << hub.firstLine();
  std::unique_ptr<canbus::Channel> listener = open(hub.url("sim0"));
  ASSERT_TRUE(listener);
  EXPECT_EQ(receive(*listener, 3), (std::vector<std::string>{"181#01", "182#02", "183#03"}));
  EXPECT_EQ(hub.stop(), 0);
  const std::string said = errors.read();
  for (const std::string line : {":2: malformed frame", ":3: CAN FD frame skipped", ":5: "}) {
    EXPECT_NE(said.find("canhub: " + trace.path() + line), std::string::npos) << said;
  }
}

// A file of garbage does not flood stderr: 20 lines are named, the rest counted.
TEST(HubRecordReplayTest, ManyBadLinesAreCountedAfterTheFirstTwenty) {
  std::string content;
  for (int i = 0; i < 25; ++i) content += "garbage\n";
  content += "(1.000000) can0 181#01\n";
  TempPath trace(content);
  TempPath errors;
  HubProcess hub({"--listen", "127.0.0.1:0", "--replay", trace.path()}, errors.path());
  ASSERT_TRUE(hub.started()) << hub.firstLine();
  std::unique_ptr<canbus::Channel> listener = open(hub.url("sim0"));
  ASSERT_TRUE(listener);
  EXPECT_EQ(receive(*listener, 1), std::vector<std::string>{"181#01"});
  EXPECT_EQ(hub.stop(), 0);
  const std::string said = errors.read();
  EXPECT_NE(said.find(trace.path() + ":20: "), std::string::npos) << said;
  EXPECT_EQ(said.find(trace.path() + ":21: "), std::string::npos) << said;
  EXPECT_NE(said.find(trace.path() + ": 25 lines skipped in all"), std::string::npos) << said;
}

TEST(HubRecordReplayTest, FilesThatCannotBeUsedStopTheHubBeforeItListens) {
  TempPath onlyFd("(1.000000) can0 123##1DEADBEEF\n");
  TempPath good("(1.000000) can0 181#01\n");
  struct Case {
    std::vector<std::string> args;
    std::string says;
  };
  const std::vector<Case> cases = {
      {{"--replay", "/nonexistent/trace.log"},
       "canhub: cannot read /nonexistent/trace.log: No such file or directory"},
      {{"--replay", "/tmp"}, "canhub: cannot read /tmp: Is a directory"},
      {{"--replay", onlyFd.path()}, "canhub: " + onlyFd.path() + " holds no frame to replay"},
      {{"--record", "/nonexistent/session.log"},
       "canhub: cannot record to /nonexistent/session.log: No such file or directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1]);
    TempPath errors;
    std::vector<std::string> args = {"--listen", "127.0.0.1:0"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    HubProcess hub(args, errors.path());
    EXPECT_FALSE(hub.started());
    EXPECT_EQ(hub.wait(10s), 1);
    EXPECT_NE(errors.read().find(c.says + "\n"), std::string::npos) << errors.read();
  }
  // Argument mistakes are usage errors (exit 2).
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--speed", "2"},
        {"--replay", good.path(), "--speed", "0"},
        {"--replay", good.path(), "--speed", "-1"},
        {"--replay", good.path(), "--speed", "nan"},
        {"--replay", good.path(), "--speed", "fast"},
        {"--replay", good.path(), "--bus", std::string(65, 'b')},
        {"--replay", good.path(), "--bus", "a<b"},
        {"--replay", good.path(), "--record", good.path()},
        {"--replay"},
        {"--record", ""}}) {
    std::vector<std::string> all = args;
    all.insert(all.begin(), {"--listen", "127.0.0.1:0"});
    HubProcess bad(all);
    EXPECT_FALSE(bad.started());
    EXPECT_EQ(bad.wait(10s), 2) << args[0] << " " << (args.size() > 1 ? args[1] : "");
  }
  EXPECT_EQ(good.read(), "(1.000000) can0 181#01\n");  // not overwritten by --record
}

TEST(HubRecordReplayTest, AFailingRecordingIsToldOnceAndTheHubGoesOn) {
  TempPath errors;
  HubProcess hub({"--listen", "127.0.0.1:0", "--record", "/dev/full"}, errors.path());
  ASSERT_TRUE(hub.started()) << hub.firstLine();
  std::unique_ptr<canbus::Channel> a = open(hub.url("sim0"));
  std::unique_ptr<canbus::Channel> b = open(hub.url("sim0"));
  ASSERT_TRUE(a && b);
  for (const char* f : {"181#01", "181#02", "181#03"}) {
    ASSERT_FALSE(a->send(test_kit::frame(f)).has_value());
    EXPECT_EQ(receive(*b, 1), std::vector<std::string>{f});
  }
  EXPECT_EQ(hub.stop(), 0);
  const std::string said = errors.read();
  const std::string failure = "canhub: writing /dev/full failed: No space left on device";
  const std::size_t first = said.find(failure);
  EXPECT_NE(first, std::string::npos) << said;
  EXPECT_EQ(said.find(failure, first + 1), std::string::npos) << said;
}

TEST(HubCommandLineInfoTest, VersionAndHelp) {
  HubProcess version({"--version"});
  EXPECT_EQ(version.firstLine(), std::string("canhub ") + RQ_VERSION);
  EXPECT_EQ(version.wait(10s), 0);

  HubProcess help({"--help"});
  const std::string text = help.firstLine() + "\n" + help.readRest(10s);
  EXPECT_EQ(help.wait(10s), 0);
  for (const char* option : {"--record FILE", "--replay FILE", "--bus NAME", "--speed X",
                             "--version", "canhub --replay "}) {
    EXPECT_NE(text.find(option), std::string::npos) << option;
  }
}

}  // namespace
}  // namespace canhub
