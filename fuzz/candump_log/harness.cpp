// candump log files fed arbitrary bytes: the line splitter and the log line parser (canhub
// --replay reads customers' files with them), and the frame notation under them.
//
// Promises checked:
//  - the splitter yields the same lines however the stream is cut, none longer than the limit,
//    and an overlong one exactly cut at the limit;
//  - a line accepted as a frame yields a valid frame (id fits its format, length <= 8), a time
//    within the range and an interface that is one word; formatted back as a log line it parses
//    to the same entry (frame, time, interface);
//  - a line that is skipped or malformed says why;
//  - a frame accepted by the frame notation alone is valid and round-trips through it;
//  - nothing is read beyond the input: each line is parsed from a buffer of exactly its size.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "canbus/candump_log.h"
#include "canbus/frame.h"
#include "fuzz_check.h"

namespace {

using canbus::CandumpLogLine;
using canbus::LogLineSplitter;

struct Seen {
  std::string text;
  bool tooLong;
  bool operator==(const Seen&) const = default;
};

std::vector<Seen> split(std::string_view stream, std::size_t piece) {
  LogLineSplitter splitter;
  std::vector<Seen> lines;
  const auto take = [&lines](const LogLineSplitter::Line& line) {
    FUZZ_CHECK(line.text.size() <= canbus::kMaxCandumpLogLine, "a line longer than the limit");
    FUZZ_CHECK(!line.tooLong || line.text.size() == canbus::kMaxCandumpLogLine,
               "an overlong line not cut at the limit");
    FUZZ_CHECK(line.text.find('\n') == std::string::npos, "a newline inside a line");
    lines.push_back({line.text, line.tooLong});
  };
  for (std::size_t at = 0; at < stream.size(); at += piece) {
    splitter.feed(stream.substr(at, piece));
    while (std::optional<LogLineSplitter::Line> line = splitter.next()) take(*line);
  }
  while (std::optional<LogLineSplitter::Line> line = splitter.finish()) take(*line);
  return lines;
}

// A copy of exactly the text's size on the heap: a read past it is an overflow for ASan.
std::unique_ptr<char[]> exactCopy(const std::string& text) {
  std::unique_ptr<char[]> copy(new char[text.size() == 0 ? 1 : text.size()]);
  if (!text.empty()) std::memcpy(copy.get(), text.data(), text.size());
  return copy;
}

void checkLine(const std::string& text) {
  const std::unique_ptr<char[]> bytes = exactCopy(text);
  const std::string_view line(bytes.get(), text.size());
  const CandumpLogLine parsed = canbus::parseCandumpLogLine(line);
  switch (parsed.kind) {
    case CandumpLogLine::Kind::empty: break;
    case CandumpLogLine::Kind::skipped:
    case CandumpLogLine::Kind::malformed:
      FUZZ_CHECK(!parsed.reason.empty(), "a line refused without a reason");
      break;
    case CandumpLogLine::Kind::frame: {
      const canbus::CandumpLogEntry& entry = parsed.entry;
      FUZZ_CHECK(canbus::isValid(entry.frame), "an accepted line yields an invalid frame: %s",
                 canbus::toCandump(entry.frame).c_str());
      FUZZ_CHECK(entry.time.count() >= 0 &&
                     entry.time.count() <= canbus::kMaxCandumpLogSeconds * 1'000'000 + 999'999,
                 "time stamp out of range: %lld", static_cast<long long>(entry.time.count()));
      FUZZ_CHECK(
          !entry.interface.empty() && entry.interface.find_first_of(" \t\n") == std::string::npos,
          "the interface is not one word");
      const std::string again = canbus::formatCandumpLogLine(entry);
      const CandumpLogLine back = canbus::parseCandumpLogLine(again);
      FUZZ_CHECK(back.kind == CandumpLogLine::Kind::frame && back.entry == entry,
                 "formatted and parsed again, the entry changed: %s", again.c_str());
      break;
    }
  }
  if (const std::optional<canbus::Frame> frame = canbus::parseCandump(line)) {
    FUZZ_CHECK(canbus::isValid(*frame), "the frame notation yields an invalid frame");
    const std::optional<canbus::Frame> back = canbus::parseCandump(canbus::toCandump(*frame));
    FUZZ_CHECK(back && *back == *frame, "the frame notation does not round-trip: %s",
               canbus::toCandump(*frame).c_str());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::vector<Seen> whole = split(input, input.size() == 0 ? 1 : input.size());
  FUZZ_CHECK(split(input, 1) == whole, "lines differ when fed byte by byte");
  if (size > 0) {
    const std::size_t piece = static_cast<uint8_t>(input[0]) % 64 + 1;
    FUZZ_CHECK(split(input, piece) == whole, "lines depend on where the stream is cut");
  }
  for (const Seen& line : whole) checkLine(line.text);
  return 0;
}
