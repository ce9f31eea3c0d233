// The server's side of a socketcand connection as byte scripts: what the client sends, and the
// steps the session says the server has to take, whole and fed byte by byte.
#include "canbus/socketcand_server_session.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/candump_frames.h"

namespace canbus::socketcand {
namespace {

// The steps for a byte stream fed in pieces of `chunk` bytes, as text: "answer < ok >",
// "opened sim0 < ok >", "raw < ok >", "transmit 181#01", "hang up < error ... >".
std::vector<std::string> run(ServerSession& session, const std::string& bytes, std::size_t chunk) {
  std::vector<std::string> steps;
  for (std::size_t at = 0; at < bytes.size(); at += chunk) {
    session.feed(std::string_view(bytes).substr(at, chunk));
    while (std::optional<ServerSession::Step> step = session.next()) {
      using Kind = ServerSession::Step::Kind;
      switch (step->kind) {
        case Kind::answer: steps.push_back("answer " + step->text); break;
        case Kind::opened: steps.push_back("opened " + session.bus() + " " + step->text); break;
        case Kind::rawMode: steps.push_back("raw " + step->text); break;
        case Kind::transmit: steps.push_back("transmit " + toCandump(step->frame)); break;
        case Kind::hangUp: steps.push_back("hang up " + step->text); break;
      }
    }
  }
  return steps;
}

struct Script {
  const char* name;
  std::string bytes;
  std::vector<std::string> steps;
  // Stray text is answered as soon as it is seen: cut, it is answered once per piece.
  bool onlyWhole = false;
};

TEST(SocketcandServerSessionTest, AnswersByteScriptsHoweverTheBytesArrive) {
  const std::vector<Script> scripts = {
      {"our client's handshake, then frames",
       "< open sim0 >< rtrmode >< rawmode >< send 181 2 D2 4 >< sendrtr 701 1 >",
       {"opened sim0 < ok >", "answer < ok >", "raw < ok >", "transmit 181#D204",
        "transmit 701#R1"}},
      {"python-can's handshake, whitespace between messages",
       "  < open can0 >\n< rawmode >\t< send 12345678 0 > ",
       {"opened can0 < ok >", "raw < ok >", "transmit 12345678#"}},
      {"nothing before a bus is open",
       "< rawmode >< send 181 0 >< sendrtr 701 0 >< echo >",
       {"answer < error no bus open >", "answer < error no bus open >",
        "answer < error no bus open >", "answer < echo >"}},
      {"remote frames need rtrmode",
       "< open a >< rawmode >< sendrtr 701 0 >",
       {"opened a < ok >", "raw < ok >", "answer < error sendrtr needs rtrmode >"}},
      {"one bus per connection",
       "< open a >< open b >",
       {"opened a < ok >", "answer < error bus already open >"}},
      {"unknown, malformed and stray text",
       "< bcmmode >< send 181 2 00 > hello < open >",
       {"answer < error unknown command >",
        "answer < error send byte count does not match the DLC >",
        "answer < error text outside a message >", "answer < error open needs one bus name >"},
       true},
      {"an over-long message ends the session; what follows is not read",
       "< echo >< " + std::string(400, 'x') + " >< echo >< open a >",
       {"answer < echo >", "hang up < error message too long >"}},
  };
  for (const Script& script : scripts) {
    SCOPED_TRACE(script.name);
    for (const std::size_t chunk : {script.bytes.size(), std::size_t{1}, std::size_t{7}}) {
      if (script.onlyWhole && chunk != script.bytes.size()) continue;
      SCOPED_TRACE(chunk);
      ServerSession session;
      EXPECT_EQ(run(session, script.bytes, chunk), script.steps);
    }
  }
}

TEST(SocketcandServerSessionTest, KeepsWhatTheClientSwitchedOnAndSaysWhichFramesItReceives) {
  const Frame data = test_kit::frame("181#01");
  const Frame remote = test_kit::frame("701#R");
  struct Case {
    std::string bytes;
    bool data;
    bool remote;
  };
  const std::vector<Case> cases = {
      {"", false, false},
      {"< open a >", false, false},
      {"< open a >< rtrmode >", false, false},
      {"< rawmode >< open a >", false, false},  // raw mode before the open was refused
      {"< open a >< rawmode >", true, false},
      {"< open a >< rawmode >< rtrmode >", true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    ServerSession session;
    run(session, c.bytes, c.bytes.size() + 1);
    EXPECT_EQ(session.receives(data), c.data);
    EXPECT_EQ(session.receives(remote), c.remote);
  }
  ServerSession session;
  run(session, "< open sim0 >< rtrmode >< open x >< frame", 100);
  EXPECT_EQ(session.bus(), "sim0");
  EXPECT_TRUE(session.rtrMode());
  EXPECT_FALSE(session.rawMode());
  EXPECT_EQ(session.buffered(), std::string("< frame").size());
  EXPECT_FALSE(session.over());
}

TEST(SocketcandServerSessionTest, GreetingAndRefusalAreWellFormedServerMessages) {
  for (const std::string& text : {ServerSession::greeting(), ServerSession::transmitRefused()}) {
    MessageSplitter splitter;
    splitter.feed(text);
    const std::optional<MessageSplitter::Piece> piece = splitter.next();
    ASSERT_TRUE(piece.has_value());
    const ServerMessage message = parseServerMessage(piece->text);
    EXPECT_TRUE(message.kind == ServerMessage::Kind::hi ||
                message.kind == ServerMessage::Kind::error)
        << text;
  }
  EXPECT_EQ(ServerSession::greeting(), "< hi >");
  EXPECT_EQ(ServerSession::transmitRefused(), "< error transmit queue full >");
}

}  // namespace
}  // namespace canbus::socketcand
