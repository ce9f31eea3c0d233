// canhub --record: every frame put on a bus, as a candump log line with the bus name as the
// interface: "(1735270496.916858) sim0 181#D204".
//
// Lines are gathered and written with whole lines only, at the end of each round of the hub's
// loop, so that the file holds complete lines whenever the hub stops, by a signal too. When a
// write fails (disk full, ...) a partly written line is cut off again where possible and the
// recording stops there: the file stays a gapless record of the session's beginning.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "canbus/frame.h"
#include "canbus/unique_fd.h"

namespace canhub {

class Recorder {
 public:
  // Creates or empties the file; an error text when it cannot be opened for writing.
  static std::variant<std::unique_ptr<Recorder>, std::string> open(const std::string& path);
  ~Recorder();
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  // Adds one line (written by the next flush(), or at once when much is gathered).
  void add(const std::string& bus, const canbus::Frame& frame, std::chrono::microseconds wall);
  // Writes what is gathered. The first failure returns its text (once); after it the recording
  // has stopped and further lines are dropped.
  std::optional<std::string> flush();
  bool stopped() const { return stopped_; }
  const std::string& path() const { return path_; }

 private:
  Recorder(canbus::UniqueFd fd, std::string path) : fd_(std::move(fd)), path_(std::move(path)) {}

  canbus::UniqueFd fd_;
  std::string path_;
  std::string pending_;
  uint64_t written_ = 0;  // bytes of whole lines in the file
  bool stopped_ = false;
  std::optional<std::string> unreported_;  // a failure met by add()'s own flush
};

}  // namespace canhub
