#include "canbus/socketcand_protocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/candump_frames.h"

namespace canbus::socketcand {
namespace {

using Piece = MessageSplitter::Piece;

// What a client makes of a byte stream that arrives in the given pieces: the frames it
// decodes, in order, as candump text, plus a count of the pieces it had to skip.
struct Decoded {
  std::vector<std::string> frames;
  int skipped = 0;
};

Decoded decode(const std::vector<std::string>& chunks) {
  MessageSplitter splitter;
  Decoded out;
  for (const std::string& chunk : chunks) {
    splitter.feed(chunk);
    while (std::optional<Piece> piece = splitter.next()) {
      if (piece->kind != Piece::Kind::message) {
        ++out.skipped;
        continue;
      }
      const ServerMessage message = parseServerMessage(piece->text);
      if (message.kind == ServerMessage::Kind::frame || message.kind == ServerMessage::Kind::rtr) {
        out.frames.push_back(toCandump(message.frame));
      } else if (message.kind == ServerMessage::Kind::malformed) {
        ++out.skipped;
      }
    }
  }
  return out;
}

const std::string kStream =
    "< hi >< ok >< frame 181 1.000001 D204 > < frame 12345678 2.5 00 >\n"
    "< frame 080 3.000000  >< rtr 701 4.000000 1 >";
const std::vector<std::string> kFrames = {"181#D204", "12345678#00", "080#", "701#R1"};

TEST(SocketcandSplitterTest, DecodesAStreamInOnePiece) {
  const Decoded d = decode({kStream});
  EXPECT_EQ(d.frames, kFrames);
  EXPECT_EQ(d.skipped, 0);
}

TEST(SocketcandSplitterTest, DecodesTheSameStreamSplitAtEveryByte) {
  for (std::size_t cut = 1; cut < kStream.size(); ++cut) {
    SCOPED_TRACE(cut);
    const Decoded two = decode({kStream.substr(0, cut), kStream.substr(cut)});
    EXPECT_EQ(two.frames, kFrames);
    EXPECT_EQ(two.skipped, 0);
  }
  std::vector<std::string> bytes;
  for (const char c : kStream) bytes.emplace_back(1, c);
  EXPECT_EQ(decode(bytes).frames, kFrames);
}

TEST(SocketcandSplitterTest, SkipsGarbageAndResynchronises) {
  struct Case {
    std::string stream;
    std::vector<std::string> frames;
    int skipped;
  };
  const std::vector<Case> cases = {
      {"junk< frame 181 1.0 01 >", {"181#01"}, 1},
      {"< frame 181 1.0 01 >junk >< frame 182 1.0 02 >", {"181#01", "182#02"}, 2},
      {"< frame 181 1.0 < frame 182 1.0 02 >", {"182#02"}, 1},  // unfinished, then a new one
      {"< frame 1X1 1.0 01 >< frame 182 1.0 02 >", {"182#02"}, 1},
      {"< frame 181 1.0 0 >< frame 181 x 00 >< frame 181 1.0 001122334455667788 >", {}, 3},
      {"< frame 800 1.0 00 >< frame 20000000 1.0 00 >< frame 181 1.0 00 >", {"181#00"}, 2},
      {"< rtr 701 1.0 9 >< rtr 701 1.0 >< rtr 701 1.0 0 >", {"701#R"}, 2},
      {"< frame 181 1.0 00 extra >< frame >", {}, 2},
      {"\x01\xff\r\n\t< frame 181 1.0 AB >", {"181#AB"}, 1},
      {"<><   >< frame 181 1.0 ab >", {"181#AB"}, 0},  // empty messages are unknown, not frames
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stream);
    const Decoded d = decode({c.stream});
    EXPECT_EQ(d.frames, c.frames);
    EXPECT_EQ(d.skipped, c.skipped);
  }
}

TEST(SocketcandSplitterTest, DropsAHugeLineAndKeepsGoing) {
  MessageSplitter splitter;
  splitter.feed("< frame 181 1.0 01 >< ");
  splitter.feed(std::string(10000, 'A'));
  std::optional<Piece> first = splitter.next();
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->kind, Piece::Kind::message);
  std::optional<Piece> second = splitter.next();
  ASSERT_TRUE(second.has_value());
  EXPECT_EQ(second->kind, Piece::Kind::tooLong);
  EXPECT_LE(splitter.buffered(), kMaxMessageLength);  // the huge line is not kept

  splitter.feed(std::string(10000, 'B') + "> < frame 182 1.0 02 >");
  std::vector<Piece::Kind> kinds;
  std::string frameText;
  while (std::optional<Piece> piece = splitter.next()) {
    kinds.push_back(piece->kind);
    if (piece->kind == Piece::Kind::message) frameText = piece->text;
  }
  ASSERT_FALSE(kinds.empty());
  EXPECT_EQ(kinds.back(), Piece::Kind::message);
  EXPECT_EQ(frameText, " frame 182 1.0 02 ");
  EXPECT_EQ(splitter.buffered(), 0U);
}

// The kinds of the pieces a stream cut in two at `cut` yields.
std::vector<Piece::Kind> kindsCutAt(const std::string& stream, std::size_t cut) {
  MessageSplitter splitter;
  std::vector<Piece::Kind> kinds;
  for (const std::string& chunk : {stream.substr(0, cut), stream.substr(cut)}) {
    splitter.feed(chunk);
    while (std::optional<Piece> piece = splitter.next()) kinds.push_back(piece->kind);
  }
  return kinds;
}

TEST(SocketcandSplitterTest, AnOverlongMessageIsDroppedWholeWhereverTheStreamIsCut) {
  const std::string overlong = "<" + std::string(kMaxMessageLength + 50, 'A') + " x";
  const std::string next = "< frame 181 1.0 01 >";
  struct Case {
    std::string stream;
    std::vector<Piece::Kind> kinds;
  };
  const std::vector<Case> cases = {
      {overlong + ">" + next, {Piece::Kind::tooLong, Piece::Kind::message}},
      {overlong + next, {Piece::Kind::tooLong, Piece::Kind::message}},
      {overlong + "> y" + next, {Piece::Kind::tooLong, Piece::Kind::garbage, Piece::Kind::message}},
  };
  for (const Case& c : cases) {
    for (std::size_t cut = 0; cut <= c.stream.size(); ++cut) {
      SCOPED_TRACE(cut);
      EXPECT_EQ(kindsCutAt(c.stream, cut), c.kinds);
    }
  }
}

TEST(SocketcandSplitterTest, AMessageJustUnderTheLimitPasses) {
  MessageSplitter splitter;
  const std::string body(kMaxMessageLength - 1, 'x');
  splitter.feed("<" + body + ">");
  std::optional<Piece> piece = splitter.next();
  ASSERT_TRUE(piece.has_value());
  EXPECT_EQ(piece->kind, Piece::Kind::message);
  EXPECT_EQ(piece->text, body);
}

TEST(SocketcandServerMessageTest, ParsesControlMessages) {
  EXPECT_EQ(parseServerMessage(" hi ").kind, ServerMessage::Kind::hi);
  EXPECT_EQ(parseServerMessage(" ok ").kind, ServerMessage::Kind::ok);
  EXPECT_EQ(parseServerMessage(" echo ").kind, ServerMessage::Kind::echo);
  const ServerMessage error = parseServerMessage(" error unknown command ");
  EXPECT_EQ(error.kind, ServerMessage::Kind::error);
  EXPECT_EQ(error.text, "unknown command");
  EXPECT_EQ(parseServerMessage(" hi there ").kind, ServerMessage::Kind::unknown);
  EXPECT_EQ(parseServerMessage(" bcm 1 2 ").kind, ServerMessage::Kind::unknown);
}

struct CommandCase {
  const char* body;
  ClientCommand::Kind kind;
  const char* frame;  // candump text for send/sendRtr, bus for open
};

TEST(SocketcandClientCommandTest, ParsesCommands) {
  using K = ClientCommand::Kind;
  const std::vector<CommandCase> cases = {
      {" open sim0 ", K::open, "sim0"},
      {" rawmode ", K::rawmode, ""},
      {" rtrmode ", K::rtrmode, ""},
      {" echo ", K::echo, ""},
      {" send 181 2 D2 04 ", K::send, "181#D204"},
      {" send 181 2 d2 4 ", K::send, "181#D204"},  // any case, unpadded (python-can)
      {" send 1 0  ", K::send, "001#"},
      {" send 12345678 1 0 ", K::send, "12345678#00"},
      {" send 00000001 0 ", K::send, "00000001#"},
      {" send 7FF 8 0 1 2 3 4 5 6 7 ", K::send, "7FF#0001020304050607"},
      {" sendrtr 701 1 ", K::sendRtr, "701#R1"},
      {" sendrtr 00000701 0 ", K::sendRtr, "00000701#R"},
      {" send 800 0 ", K::malformed, ""},    // 11-bit id out of range
      {" send 12345 0 ", K::malformed, ""},  // not 8 digits, so standard
      {" send 123456789 0 ", K::malformed, ""},
      {" send 181 9 0 0 0 0 0 0 0 0 0 ", K::malformed, ""},
      {" send 181 2 00 ", K::malformed, ""},
      {" send 181 1 00 11 ", K::malformed, ""},
      {" send 181 1 0G ", K::malformed, ""},
      {" send 181 1 123 ", K::malformed, ""},
      {" send 181 ", K::malformed, ""},
      {" send ", K::malformed, ""},
      {" sendrtr 701 9 ", K::malformed, ""},
      {" sendrtr 701 1 00 ", K::malformed, ""},
      {" open ", K::malformed, ""},
      {" open a b ", K::malformed, ""},
      {"  ", K::malformed, ""},
      {" rawmode now ", K::unknown, ""},
      {" bcmmode ", K::unknown, ""},
      {" hello ", K::unknown, ""},
  };
  for (const CommandCase& c : cases) {
    SCOPED_TRACE(c.body);
    const ClientCommand command = parseClientCommand(c.body);
    EXPECT_EQ(command.kind, c.kind);
    if (c.kind == K::send || c.kind == K::sendRtr) {
      EXPECT_EQ(toCandump(command.frame), c.frame);
    } else if (c.kind == K::open) {
      EXPECT_EQ(command.text, c.frame);
    } else if (c.kind == K::malformed) {
      EXPECT_FALSE(command.text.empty());
      EXPECT_EQ(command.text.find_first_of("<>"), std::string::npos);
    }
  }
}

TEST(SocketcandFormatTest, FormatsBothSides) {
  const Frame data = test_kit::frame("181#D204");
  const Frame empty = test_kit::frame("080#");
  const Frame extended = test_kit::frame("00000001#FF");
  const Frame rtr = test_kit::frame("701#R1");
  const Timestamp t{12, 34};
  EXPECT_EQ(formatSend(data), "< send 181 2 D2 04 >");
  EXPECT_EQ(formatSend(empty), "< send 080 0 >");
  EXPECT_EQ(formatSend(extended), "< send 00000001 1 FF >");
  EXPECT_EQ(formatSendRtr(rtr), "< sendrtr 701 1 >");
  EXPECT_EQ(formatFrame(data, t), "< frame 181 12.000034 D204 >");
  EXPECT_EQ(formatFrame(empty, t), "< frame 080 12.000034  >");
  EXPECT_EQ(formatFrame(extended, t), "< frame 00000001 12.000034 FF >");
  EXPECT_EQ(formatRtr(rtr, t), "< rtr 701 12.000034 1 >");

  // What one side formats, the other side parses back to the same frame.
  for (const Frame& f : {data, empty, extended}) {
    const std::string sent = formatSend(f);
    EXPECT_EQ(parseClientCommand(sent.substr(1, sent.size() - 2)).frame, f);
    const std::string relayed = formatFrame(f, t);
    EXPECT_EQ(parseServerMessage(relayed.substr(1, relayed.size() - 2)).frame, f);
  }
  const std::string sentRtr = formatSendRtr(rtr);
  EXPECT_EQ(parseClientCommand(sentRtr.substr(1, sentRtr.size() - 2)).frame, rtr);
  const std::string relayedRtr = formatRtr(rtr, t);
  EXPECT_EQ(parseServerMessage(relayedRtr.substr(1, relayedRtr.size() - 2)).frame, rtr);
}

TEST(SocketcandFormatTest, FormatsTheHandshakeMessagesAsTheOtherSideParsesThem) {
  const auto body = [](const std::string& text) { return text.substr(1, text.size() - 2); };
  struct ClientCase {
    std::string text;
    std::string expected;
    ClientCommand::Kind kind;
  };
  for (const ClientCase& c :
       {ClientCase{formatOpen("sim0"), "< open sim0 >", ClientCommand::Kind::open},
        ClientCase{formatRtrMode(), "< rtrmode >", ClientCommand::Kind::rtrmode},
        ClientCase{formatRawMode(), "< rawmode >", ClientCommand::Kind::rawmode}}) {
    EXPECT_EQ(c.text, c.expected);
    EXPECT_EQ(parseClientCommand(body(c.text)).kind, c.kind) << c.text;
  }
  EXPECT_EQ(parseClientCommand(body(formatOpen("sim0"))).text, "sim0");
  struct ServerCase {
    std::string text;
    std::string expected;
    ServerMessage::Kind kind;
  };
  for (const ServerCase& c : {ServerCase{formatHi(), "< hi >", ServerMessage::Kind::hi},
                              ServerCase{formatOk(), "< ok >", ServerMessage::Kind::ok},
                              ServerCase{formatEcho(), "< echo >", ServerMessage::Kind::echo},
                              ServerCase{formatError("no bus open"), "< error no bus open >",
                                         ServerMessage::Kind::error}}) {
    EXPECT_EQ(c.text, c.expected);
    EXPECT_EQ(parseServerMessage(body(c.text)).kind, c.kind) << c.text;
  }
  EXPECT_EQ(parseServerMessage(body(formatError("no bus open"))).text, "no bus open");
}

}  // namespace
}  // namespace canbus::socketcand
