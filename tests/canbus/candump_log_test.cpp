#include "canbus/candump_log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "support/candump_frames.h"

namespace canbus {
namespace {

using std::chrono::microseconds;
using Kind = CandumpLogLine::Kind;

CandumpLogEntry entry(int64_t us, const char* interface, const char* frame) {
  return CandumpLogEntry{microseconds(us), interface, test_kit::frame(frame)};
}

struct Accepted {
  const char* line;
  CandumpLogEntry expected;
};

TEST(CandumpLogTest, ReadsTheLinesOfEveryWriter) {
  const std::vector<Accepted> cases = {
      // canhub --record and CANOPEN32_TRACE: "(%lld.%06lld) CHANNEL FRAME".
      {"(1735270496.916858) sim0 181#D204", entry(1735270496916858, "sim0", "181#D204")},
      {"(12.000001) socketcand://127.0.0.1:29536/sim0 701#05",
       entry(12000001, "socketcand://127.0.0.1:29536/sim0", "701#05")},
      // candump -l: zero-padded seconds, extended ids with 8 digits, remote frames.
      {"(0000000012.500000) can0 12345678#0011", entry(12500000, "can0", "12345678#0011")},
      {"(1.000000) can0 701#R", entry(1000000, "can0", "701#R")},
      {"(1.000000) can0 701#R1", entry(1000000, "can0", "701#R1")},
      {"(1.000000) can0 00000701#R8", entry(1000000, "can0", "00000701#R8")},
      {"(1.000000) can0 080#", entry(1000000, "can0", "080#")},
      // Newer candump: direction markers; interface names padded to one width.
      {"(1.000000) can0 181#01 R", entry(1000000, "can0", "181#01")},
      {"(1.000000)  vcan12 181#01 T", entry(1000000, "vcan12", "181#01")},
      // Raw DLC 9..15 of a classic 8-byte frame: read as DLC 8.
      {"(1.000000) can0 181#1122334455667788_F", entry(1000000, "can0", "181#1122334455667788")},
      {"(1.000000) can0 701#R8_9", entry(1000000, "can0", "701#R8")},
      // Other writers: CRLF, tabs, fewer or more fraction digits, lower-case hex.
      {"(1.5) can0 181#d2\r", entry(1500000, "can0", "181#D2")},
      {"\t(1.123456789)\tcan0\t1a2#aBcD  ", entry(1123456, "can0", "1A2#ABCD")},
  };
  for (const Accepted& c : cases) {
    SCOPED_TRACE(c.line);
    const CandumpLogLine parsed = parseCandumpLogLine(c.line);
    ASSERT_EQ(parsed.kind, Kind::frame) << parsed.reason;
    EXPECT_EQ(parsed.entry, c.expected);
  }
}

TEST(CandumpLogTest, FormatsAsCandumpAndReadsItBack) {
  const std::vector<std::pair<CandumpLogEntry, const char*>> cases = {
      {entry(1735270496916858, "sim0", "181#D204"), "(1735270496.916858) sim0 181#D204"},
      {entry(12000001, "bus-a", "12345678#"), "(0000000012.000001) bus-a 12345678#"},
      {entry(0, "x", "701#R1"), "(0000000000.000000) x 701#R1"},
  };
  for (const auto& [value, text] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(formatCandumpLogLine(value), text);
    const CandumpLogLine back = parseCandumpLogLine(text);
    ASSERT_EQ(back.kind, Kind::frame);
    EXPECT_EQ(back.entry, value);
  }
}

TEST(CandumpLogTest, SkipsFramesAClassicBusCannotCarryAndSaysWhy) {
  const std::vector<std::pair<const char*, const char*>> cases = {
      {"(1.000000) can0 123##1DEADBEEF", "CAN FD"},
      {"(1.000000) can0 12345678##0 R", "CAN FD"},
      {"(1.000000) can0 123###80:00:00000000#11", "CAN XL"},
      {"(1.000000) can0 20000004#0000000000000000", "error frame"},
  };
  for (const auto& [line, why] : cases) {
    SCOPED_TRACE(line);
    const CandumpLogLine parsed = parseCandumpLogLine(line);
    EXPECT_EQ(parsed.kind, Kind::skipped);
    EXPECT_NE(parsed.reason.find(why), std::string::npos) << parsed.reason;
  }
  EXPECT_EQ(parseCandumpLogLine("").kind, Kind::empty);
  EXPECT_EQ(parseCandumpLogLine(" \t\r").kind, Kind::empty);
}

TEST(CandumpLogTest, RejectsMalformedLines) {
  const std::vector<const char*> cases = {
      "181#D204",                                 // no time stamp
      "1735270496.916858 can0 181#D204",          // no parentheses
      "(1735270496) can0 181#D204",               // no fraction
      "(.5) can0 181#00",                         // no seconds
      "(1.) can0 181#00",                         // empty fraction
      "(1.1234567890) can0 181#00",               // ten fraction digits
      "(1000000000000.000000) can0 181#00",       // past the largest stamp
      "(-1.000000) can0 181#00",                  // negative
      "(1.0x0000) can0 181#00",                   // not a number
      "(1.000000)can0 181#00",                    // no blank after the stamp
      "(1.000000)",                               // nothing after the stamp
      "(1.000000) can0",                          // no frame
      "(1.000000) can0 181#0",                    // half a byte
      "(1.000000) can0 1810#00",                  // four id digits
      "(1.000000) can0 181#001122334455667788",   // nine bytes
      "(1.000000) can0 181#00 X",                 // unknown marker
      "(1.000000) can0 181#00 R R",               // text after the marker
      "(1.000000) can0 181#0011_F",               // raw DLC on fewer than 8 bytes
      "(1.000000) can0 181#1122334455667788_8",   // raw DLC that is not above 8
      "(1.000000) can0 00000000000000000181#00",  // an id of 20 digits
  };
  for (const char* line : cases) {
    SCOPED_TRACE(line);
    const CandumpLogLine parsed = parseCandumpLogLine(line);
    EXPECT_EQ(parsed.kind, Kind::malformed);
    EXPECT_FALSE(parsed.reason.empty());
  }
}

// Lines cut out of a stream fed in pieces of every size come out the same.
TEST(LogLineSplitterTest, LinesDoNotDependOnHowTheStreamIsCut) {
  const std::string longLine(kMaxCandumpLogLine + 10, 'x');
  const std::string stream = "a\n\nbb\r\n" + longLine + "\nc\n" + longLine + "d";
  using Line = std::pair<std::string, bool>;
  const std::vector<Line> expected = {
      {"a", false},    {"", false},
      {"bb\r", false}, {longLine.substr(0, kMaxCandumpLogLine), true},
      {"c", false},    {longLine.substr(0, kMaxCandumpLogLine), true}};
  for (const std::size_t piece :
       {std::size_t{1}, std::size_t{7}, std::size_t{4096}, std::size_t{5000}, stream.size()}) {
    SCOPED_TRACE(piece);
    LogLineSplitter splitter;
    std::vector<Line> lines;
    for (std::size_t at = 0; at < stream.size(); at += piece) {
      splitter.feed(std::string_view(stream).substr(at, piece));
      while (std::optional<LogLineSplitter::Line> line = splitter.next())
        lines.emplace_back(line->text, line->tooLong);
    }
    while (std::optional<LogLineSplitter::Line> line = splitter.finish())
      lines.emplace_back(line->text, line->tooLong);
    EXPECT_EQ(lines, expected);
  }
  LogLineSplitter last;
  last.feed("(1.000000) can0 181#01");  // a last line without '\n'
  EXPECT_FALSE(last.next().has_value());
  const std::optional<LogLineSplitter::Line> line = last.finish();
  ASSERT_TRUE(line.has_value());
  EXPECT_EQ(line->text, "(1.000000) can0 181#01");
  EXPECT_FALSE(last.finish().has_value());
}

class TempFile {
 public:
  explicit TempFile(const std::string& content) {
    char name[] = "/tmp/candump_log_testXXXXXX";
    const int fd = ::mkstemp(name);
    path_ = name;
    std::ofstream(path_, std::ios::binary) << content;
    ::close(fd);
  }
  ~TempFile() { std::remove(path_.c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

TEST(CandumpLogReaderTest, HandsOutTheFramesAndNamesTheLinesItSkips) {
  const TempFile file(
      "(1.000000) can0 181#01\n"
      "\n"
      "garbage\n"
      "(1.100000) can0 123##1DEADBEEF\n"
      "(1.200000) can1 00000701#R\n" +
      std::string(kMaxCandumpLogLine + 1, 'y') +
      "\n"
      "(1.300000) can0 182#02");  // no '\n' at the end
  std::vector<std::pair<std::size_t, std::string>> problems;
  auto opened = CandumpLogReader::open(file.path(), [&](std::size_t line, const std::string& what) {
    problems.emplace_back(line, what);
  });
  ASSERT_TRUE(std::holds_alternative<std::unique_ptr<CandumpLogReader>>(opened));
  CandumpLogReader& reader = *std::get<std::unique_ptr<CandumpLogReader>>(opened);
  std::vector<CandumpLogEntry> entries;
  while (std::optional<CandumpLogEntry> e = reader.next()) entries.push_back(*e);
  EXPECT_EQ(entries, (std::vector<CandumpLogEntry>{entry(1000000, "can0", "181#01"),
                                                   entry(1200000, "can1", "00000701#R"),
                                                   entry(1300000, "can0", "182#02")}));
  std::vector<std::size_t> lines;
  for (const auto& [line, what] : problems) lines.push_back(line);
  EXPECT_EQ(lines, (std::vector<std::size_t>{3, 4, 6}));
  ASSERT_EQ(problems.size(), 3U);
  EXPECT_NE(problems[1].second.find("CAN FD"), std::string::npos);
  EXPECT_NE(problems[2].second.find("longer than"), std::string::npos);
}

TEST(CandumpLogReaderTest, AFileThatCannotBeReadIsAnErrorAtOpen) {
  for (const char* path : {"/nonexistent/trace.log", "/tmp"}) {
    SCOPED_TRACE(path);
    auto opened = CandumpLogReader::open(path, nullptr);
    ASSERT_TRUE(std::holds_alternative<std::string>(opened));
    EXPECT_EQ(std::get<std::string>(opened).rfind(std::string("cannot read ") + path + ": ", 0), 0U)
        << std::get<std::string>(opened);
  }
}

}  // namespace
}  // namespace canbus
