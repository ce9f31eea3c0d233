// candump log files: one frame a line, "(SECS.USECS) IFACE ID#DATA", as can-utils' `candump -l`
// writes them, as CANOPEN32_TRACE writes them and as canhub --record writes them:
//
//   (1735270496.916858) can0 181#D204
//   (1735270496.917001) can0 00000701#R       extended id: 8 hex digits; remote: R, R<dlc>
//   (1735270496.917200)  vcan1 701#R1 R        padded interface, direction marker (candump -x)
//
// The parser reads every classic frame of those files. CAN FD ("ID##F..."), CAN XL ("###") and
// error frames (id with the error flag 0x20000000) are recognised and skipped: a classic bus
// cannot carry them. A classic frame with a raw DLC of 9..15 ("..#<8 bytes>_F", "#R8_F") carries
// 8 bytes and is read as DLC 8.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "canbus/frame.h"
#include "canbus/unique_fd.h"

namespace canbus {

struct CandumpLogEntry {
  std::chrono::microseconds time{0};  // the time stamp, since the epoch
  std::string interface;              // one word: no space or tab
  Frame frame;

  friend bool operator==(const CandumpLogEntry&, const CandumpLogEntry&) = default;
};

// The largest time stamp read: 10^12 - 1 seconds (the stamps of 31,000 years fit).
inline constexpr int64_t kMaxCandumpLogSeconds = 999'999'999'999;
// Longer lines are not log lines (a classic frame's line is about 60 bytes plus the interface).
inline constexpr std::size_t kMaxCandumpLogLine = 4096;

struct CandumpLogLine {
  enum class Kind {
    frame,      // entry holds the frame
    empty,      // nothing but white space
    skipped,    // a well-formed line of a frame a classic bus cannot carry; reason says which
    malformed,  // reason says what is wrong
  };
  Kind kind = Kind::empty;
  CandumpLogEntry entry;
  std::string reason;
};

// Parses one line (without its '\n'; a '\r' before it is ignored, as is white space around).
CandumpLogLine parseCandumpLogLine(std::string_view line);
// "(SECS.USECS) IFACE ID#DATA" without a newline; SECS zero-padded to 10 digits like candump's.
// Negative times are written as 0.
std::string formatCandumpLogLine(const CandumpLogEntry& entry);

// Cuts a byte stream into lines, bounded: a line longer than kMaxCandumpLogLine comes out once,
// cut, with tooLong set, and the rest of it up to its '\n' is dropped.
class LogLineSplitter {
 public:
  struct Line {
    std::string text;  // without '\n'
    bool tooLong = false;
  };
  void feed(std::string_view bytes);
  // The next complete line, if any.
  std::optional<Line> next();
  // At the end of the stream: the last line if it had no '\n'.
  std::optional<Line> finish();

 private:
  std::string buffer_;  // bytes not yet handed out start at start_
  std::size_t start_ = 0;
  std::size_t scanned_ = 0;  // buffer_[start_, scanned_) holds no '\n'
  bool dropping_ = false;    // inside an overlong line that was already handed out
};

// Reads a candump log file lazily, one line at a time, and hands out its frames. Lines that are
// not frames are reported to the problem sink with their line number (1-based) and skipped; a
// read error is reported with line 0 and ends the file.
class CandumpLogReader {
 public:
  using ProblemSink = std::function<void(std::size_t line, const std::string& what)>;

  // The reader, or an error text ("cannot read PATH: REASON") when the file cannot be opened
  // or is a directory.
  static std::variant<std::unique_ptr<CandumpLogReader>, std::string> open(const std::string& path,
                                                                           ProblemSink problems);
  // The next frame of the file; nullopt at its end.
  std::optional<CandumpLogEntry> next();
  // The number of the last line read.
  std::size_t lineNumber() const { return lineNumber_; }

 private:
  CandumpLogReader(UniqueFd fd, ProblemSink problems)
      : fd_(std::move(fd)), problems_(std::move(problems)) {}
  std::optional<LogLineSplitter::Line> nextLine();

  UniqueFd fd_;
  ProblemSink problems_;
  LogLineSplitter splitter_;
  std::size_t lineNumber_ = 0;
  bool atEnd_ = false;
};

}  // namespace canbus
