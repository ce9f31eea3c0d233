#include "canbus/candump_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>

#include "canbus/hex.h"

namespace canbus {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view trim(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

// The next word of `rest` (up to a blank), taken off it with the blanks after it.
std::string_view takeWord(std::string_view& rest) {
  std::size_t end = 0;
  while (end < rest.size() && !isBlank(rest[end])) ++end;
  const std::string_view word = rest.substr(0, end);
  rest.remove_prefix(end);
  while (!rest.empty() && isBlank(rest.front())) rest.remove_prefix(1);
  return word;
}

CandumpLogLine malformed(std::string reason) {
  CandumpLogLine line;
  line.kind = CandumpLogLine::Kind::malformed;
  line.reason = std::move(reason);
  return line;
}

CandumpLogLine skipped(std::string reason) {
  CandumpLogLine line;
  line.kind = CandumpLogLine::Kind::skipped;
  line.reason = std::move(reason);
  return line;
}

// "(SECS.FRACTION)": 1 or more digits of seconds, 1 to 9 digits of fraction (microseconds are
// kept, finer digits dropped).
std::optional<std::chrono::microseconds> parseStamp(std::string_view word) {
  if (word.size() < 5 || word.front() != '(' || word.back() != ')') return std::nullopt;
  word = word.substr(1, word.size() - 2);
  const std::size_t dot = word.find('.');
  if (dot == std::string_view::npos || dot == 0) return std::nullopt;
  const std::string_view whole = word.substr(0, dot);
  const std::string_view fraction = word.substr(dot + 1);
  if (fraction.empty() || fraction.size() > 9) return std::nullopt;
  int64_t seconds = 0;
  for (const char c : whole) {
    if (!isDigit(c)) return std::nullopt;
    seconds = seconds * 10 + (c - '0');
    if (seconds > kMaxCandumpLogSeconds) return std::nullopt;
  }
  int64_t micros = 0;
  for (std::size_t i = 0; i < fraction.size(); ++i) {
    if (!isDigit(fraction[i])) return std::nullopt;
    if (i < 6) micros = micros * 10 + (fraction[i] - '0');
  }
  for (std::size_t i = fraction.size(); i < 6; ++i) micros *= 10;
  return std::chrono::microseconds(seconds * 1'000'000 + micros);
}

// A classic frame with a raw DLC above 8 carries 8 bytes: "#<16 hex>_F" or "#R8_F".
std::string_view withoutRawDlc(std::string_view text) {
  if (text.size() < 2 || text[text.size() - 2] != '_') return text;
  const int raw = hexDigitValue(text.back());
  if (raw <= 8) return text;
  const std::string_view frame = text.substr(0, text.size() - 2);
  const std::optional<Frame> parsed = parseCandump(frame);
  return parsed && parsed->length == kMaxDataLength ? frame : text;
}

}  // namespace

CandumpLogLine parseCandumpLogLine(std::string_view text) {
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  std::string_view rest = trim(text);
  if (rest.empty()) return {};

  const std::string_view stampWord = takeWord(rest);
  const std::optional<std::chrono::microseconds> stamp = parseStamp(stampWord);
  if (!stamp) {
    return malformed(stampWord.empty() || stampWord.front() != '('
                         ? "expected a time stamp \"(SECS.USECS)\" first"
                         : "malformed time stamp \"" + std::string(stampWord) + "\"");
  }
  const std::string_view interface = takeWord(rest);
  if (interface.empty()) return malformed("no interface and frame after the time stamp");
  const std::string_view frameWord = takeWord(rest);
  if (frameWord.empty()) return malformed("no frame after the interface");
  // Newer candump versions mark the direction: " R" received, " T" transmitted.
  if (!rest.empty()) {
    const std::string_view marker = takeWord(rest);
    if ((marker != "R" && marker != "T") || !rest.empty()) {
      return malformed("unexpected text after the frame");
    }
  }

  const std::size_t hash = frameWord.find('#');
  if (hash != std::string_view::npos && frameWord.substr(hash).starts_with("###")) {
    return skipped("CAN XL frame skipped (only classic CAN frames can be played)");
  }
  if (hash != std::string_view::npos && frameWord.substr(hash).starts_with("##")) {
    return skipped("CAN FD frame skipped (only classic CAN frames can be played)");
  }
  if (hash == 8) {
    const std::optional<uint32_t> id = parseHex(frameWord.substr(0, hash));
    if (id && (*id & 0x20000000U) != 0 && (*id & 0xC0000000U) == 0) {
      return skipped("error frame skipped (a bus carries no error frames from a client)");
    }
  }
  const std::optional<Frame> frame = parseCandump(withoutRawDlc(frameWord));
  if (!frame) return malformed("malformed frame \"" + std::string(frameWord) + "\"");

  CandumpLogLine line;
  line.kind = CandumpLogLine::Kind::frame;
  line.entry.time = *stamp;
  line.entry.interface = std::string(interface);
  line.entry.frame = *frame;
  return line;
}

std::string formatCandumpLogLine(const CandumpLogEntry& entry) {
  const int64_t us = entry.time.count() < 0 ? 0 : static_cast<int64_t>(entry.time.count());
  char stamp[48];
  std::snprintf(stamp, sizeof stamp, "(%010" PRId64 ".%06" PRId64 ") ", us / 1'000'000,
                us % 1'000'000);
  return stamp + entry.interface + " " + toCandump(entry.frame);
}

void LogLineSplitter::feed(std::string_view bytes) { buffer_.append(bytes); }

std::optional<LogLineSplitter::Line> LogLineSplitter::next() {
  for (;;) {
    const std::size_t newline = buffer_.find('\n', scanned_);
    if (newline == std::string::npos) {
      if (dropping_) {
        buffer_.clear();
        start_ = scanned_ = 0;
        return std::nullopt;
      }
      if (buffer_.size() - start_ > kMaxCandumpLogLine) {
        Line line{buffer_.substr(start_, kMaxCandumpLogLine), true};
        buffer_.clear();
        start_ = scanned_ = 0;
        dropping_ = true;
        return line;
      }
      buffer_.erase(0, start_);  // lines are cut off the front once per feed, not once a line
      start_ = 0;
      scanned_ = buffer_.size();
      return std::nullopt;
    }
    const std::size_t from = start_;
    start_ = scanned_ = newline + 1;
    if (dropping_) {
      dropping_ = false;
      continue;
    }
    const std::size_t length = newline - from;
    if (length > kMaxCandumpLogLine) return Line{buffer_.substr(from, kMaxCandumpLogLine), true};
    return Line{buffer_.substr(from, length), false};
  }
}

std::optional<LogLineSplitter::Line> LogLineSplitter::finish() {
  if (std::optional<Line> line = next()) return line;
  // next() found no '\n': the buffer holds the unterminated rest, at most one line's worth.
  std::optional<Line> last;
  if (!dropping_ && !buffer_.empty()) last = Line{buffer_, false};
  buffer_.clear();
  start_ = scanned_ = 0;
  dropping_ = false;
  return last;
}

std::variant<std::unique_ptr<CandumpLogReader>, std::string> CandumpLogReader::open(
    const std::string& path, ProblemSink problems) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return "cannot read " + path + ": " + errnoText(errno);
  struct stat info {};
  if (::fstat(fd.get(), &info) == 0 && S_ISDIR(info.st_mode)) {
    return "cannot read " + path + ": " + errnoText(EISDIR);
  }
  return std::unique_ptr<CandumpLogReader>(
      new CandumpLogReader(std::move(fd), std::move(problems)));
}

std::optional<LogLineSplitter::Line> CandumpLogReader::nextLine() {
  for (;;) {
    if (std::optional<LogLineSplitter::Line> line = splitter_.next()) return line;
    if (atEnd_) return std::nullopt;
    char buffer[64 * 1024];
    const ssize_t n = ::read(fd_.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (problems_) problems_(0, "read failed: " + errnoText(errno));
      atEnd_ = true;
      return splitter_.finish();
    }
    if (n == 0) {
      atEnd_ = true;
      return splitter_.finish();
    }
    splitter_.feed(std::string_view(buffer, static_cast<std::size_t>(n)));
  }
}

std::optional<CandumpLogEntry> CandumpLogReader::next() {
  while (std::optional<LogLineSplitter::Line> line = nextLine()) {
    ++lineNumber_;
    if (line->tooLong) {
      if (problems_) {
        problems_(lineNumber_,
                  "line longer than " + std::to_string(kMaxCandumpLogLine) + " bytes skipped");
      }
      continue;
    }
    CandumpLogLine parsed = parseCandumpLogLine(line->text);
    switch (parsed.kind) {
      case CandumpLogLine::Kind::frame: return std::move(parsed.entry);
      case CandumpLogLine::Kind::empty: break;
      case CandumpLogLine::Kind::skipped:
      case CandumpLogLine::Kind::malformed:
        if (problems_) problems_(lineNumber_, parsed.reason);
        break;
    }
  }
  return std::nullopt;
}

}  // namespace canbus
