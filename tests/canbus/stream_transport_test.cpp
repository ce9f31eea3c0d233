// The stream transport over socket pairs: what it writes arrives whole and in order however
// little the socket takes at a time, its queue holds no more than its bound, and the ends of a
// connection are reported as such.
#include "canbus/stream_transport.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "canbus/socketcand_protocol.h"
#include "support/socket_pair.h"

namespace canbus {
namespace {

using namespace std::chrono_literals;
using Framing = OutputQueue::Framing;
using ReadStatus = StreamTransport::ReadStatus;

using Pair = test_kit::SocketPair;

std::string numbered(int i) {
  return "< frame " + std::to_string(i) + std::string(i % 37, 'x') + " >";
}

TEST(StreamTransportTest, AFullSocketKeepsTheRestQueuedAndEverythingArrivesInOrder) {
  for (const Framing framing : {Framing::messages, Framing::stream}) {
    SCOPED_TRACE(framing == Framing::messages ? "messages" : "stream");
    Pair pair;
    const int small = 4096;
    ::setsockopt(pair.ours.get(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    StreamTransport transport(std::move(pair.ours), {1024 * 1024, framing, 4096});
    std::string sent;
    for (int i = 0; i < 5000; ++i) {
      ASSERT_TRUE(transport.queue(numbered(i)));
      sent += numbered(i);
    }
    // The socket cannot take it all: the write stops at EAGAIN or a partial write, without an
    // error, and the rest stays queued.
    EXPECT_EQ(transport.flush(), 0);
    EXPECT_TRUE(transport.hasOutput());
    std::string received = pair.peerReads();
    EXPECT_LT(received.size(), sent.size());
    for (int round = 0; round < 10000 && transport.hasOutput(); ++round) {
      ASSERT_EQ(transport.flush(), 0);
      received += pair.peerReads();
    }
    EXPECT_FALSE(transport.hasOutput());
    EXPECT_EQ(received, sent);
  }
}

TEST(StreamTransportTest, TheQueueRefusesWhatWouldPassItsBoundAndKeepsWhatItTook) {
  struct Case {
    Framing framing;
    std::size_t fits;  // 10-byte messages in a 100-byte queue
  };
  // Framing::messages spends two bytes of length on each message.
  for (const Case& c : {Case{Framing::stream, 10}, Case{Framing::messages, 8}}) {
    Pair pair;
    StreamTransport transport(std::move(pair.ours), {100, c.framing, 4096});
    const std::string message = "< 123456 >";
    std::size_t taken = 0;
    while (transport.queue(message)) ++taken;
    EXPECT_EQ(taken, c.fits);
    EXPECT_LE(transport.queueFootprint(), 100U);
    EXPECT_EQ(transport.flush(), 0);
    std::string expected;
    for (std::size_t i = 0; i < c.fits; ++i) expected += message;
    EXPECT_EQ(pair.peerReads(), expected);
    // Room again once written.
    EXPECT_TRUE(transport.queue(message));
  }
}

TEST(StreamTransportTest, ReadsInChunksAndAMessageCutBetweenReadsComesOutWhole) {
  Pair pair;
  StreamTransport transport(std::move(pair.ours), {1024, Framing::stream, 5});
  socketcand::MessageSplitter splitter;
  std::vector<std::string> reads;
  const auto take = [&](std::string_view bytes) {
    reads.emplace_back(bytes);
    splitter.feed(bytes);
  };
  pair.peerSays("< frame 181 1.0 01 ");
  EXPECT_EQ(transport.read(2, take).status, ReadStatus::more);  // two full chunks taken
  EXPECT_EQ(reads, (std::vector<std::string>{"< fra", "me 18"}));
  EXPECT_EQ(transport.read(10, take).status, ReadStatus::drained);
  EXPECT_FALSE(splitter.next().has_value());  // the message is not complete yet
  pair.peerSays(">");
  EXPECT_EQ(transport.read(10, take).status, ReadStatus::drained);
  const std::optional<socketcand::MessageSplitter::Piece> piece = splitter.next();
  ASSERT_TRUE(piece.has_value());
  EXPECT_EQ(piece->text, " frame 181 1.0 01 ");
  // Nothing waiting: drained without handing anything on.
  const std::size_t before = reads.size();
  EXPECT_EQ(transport.read(10, take).status, ReadStatus::drained);
  EXPECT_EQ(reads.size(), before);
}

TEST(StreamTransportTest, APeerThatHangsUpIsReportedAfterWhatItSentAndWritesFail) {
  Pair pair;
  StreamTransport transport(std::move(pair.ours), {1024, Framing::stream, 4096});
  pair.peerSays("< hi >");
  pair.peer.reset();
  std::string got;
  const auto take = [&](std::string_view bytes) { got += bytes; };
  // A short read ends the reading (the socket is drained for now); the next finds the end.
  EXPECT_EQ(transport.read(8, take).status, ReadStatus::drained);
  EXPECT_EQ(got, "< hi >");
  EXPECT_EQ(transport.read(8, take).status, ReadStatus::closed);
  EXPECT_EQ(transport.read(8, take).status, ReadStatus::closed);
  EXPECT_EQ(got, "< hi >");
  // Writing to the closed peer fails with its errno (and raises no SIGPIPE).
  ASSERT_TRUE(transport.queue("< ok >"));
  EXPECT_EQ(transport.flush(), EPIPE);
  // Closing drops what is queued.
  transport.close();
  EXPECT_FALSE(transport.isOpen());
  EXPECT_FALSE(transport.hasOutput());
  EXPECT_EQ(transport.fd(), -1);
}

TEST(StreamTransportTest, WaitingForAPeerThatDoesNotReadEndsAtTheDeadline) {
  Pair pair;
  StreamTransport transport(std::move(pair.ours), {4 * 1024 * 1024, Framing::stream, 4096});
  for (int i = 0; i < 100000; ++i) ASSERT_TRUE(transport.queue(numbered(i)));
  EXPECT_EQ(transport.flushUntil(std::chrono::steady_clock::now() + 20ms), ETIMEDOUT);
  EXPECT_TRUE(transport.hasOutput());
  EXPECT_FALSE(transport.waitReadable(std::chrono::steady_clock::now()));
}

// A read on a socket asked for receive time stamps tells when the kernel received the bytes;
// without the request it tells nothing. (The kernel may switch time stamping on only after the
// first packets, so the stamped case sends until a read carries one.)
TEST(StreamTransportTest, AReadTellsWhenTheBytesArrivedWhereTheSocketWasAskedTo) {
  for (const bool asked : {false, true}) {
    SCOPED_TRACE(asked ? "asked" : "not asked");
    test_kit::TcpPair pair;
    ASSERT_TRUE(pair.ours && pair.peer);
    const int one = 1;
    if (asked) ::setsockopt(pair.ours.get(), SOL_SOCKET, SO_TIMESTAMPNS, &one, sizeof one);
    const int peer = pair.peer.get();
    StreamTransport transport(std::move(pair.ours), {});
    std::size_t bytes = 0;
    const auto count = [&bytes](std::string_view read) { bytes += read.size(); };
    const auto giveUp = std::chrono::steady_clock::now() + 5s;
    std::optional<std::chrono::system_clock::time_point> arrived;
    std::chrono::system_clock::time_point before;
    std::chrono::system_clock::time_point after;
    for (int sent = 1; !arrived && std::chrono::steady_clock::now() < giveUp && sent <= 100000;
         ++sent) {
      before = std::chrono::system_clock::now();
      ASSERT_EQ(::send(peer, "x", 1, MSG_NOSIGNAL), 1);
      while (bytes < static_cast<std::size_t>(sent)) {
        ASSERT_TRUE(transport.waitReadable(giveUp));
        const StreamTransport::ReadResult read = transport.read(1, count);
        ASSERT_EQ(read.status, ReadStatus::drained);
        if (read.arrived) arrived = read.arrived;
      }
      after = std::chrono::system_clock::now();
      if (!asked && sent == 100) break;  // a hundred reads told nothing, as they should not
    }
    if (asked) {
      ASSERT_TRUE(arrived.has_value());
      EXPECT_LE(before, *arrived);
      EXPECT_LE(*arrived, after);
    } else {
      EXPECT_FALSE(arrived.has_value());
    }
  }
}

}  // namespace
}  // namespace canbus
