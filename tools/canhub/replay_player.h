// The schedule of a replay: which frames of a log are due at a given time. It knows no clock and
// no socket: the hub tells it when the replay starts and asks it, with the time now, for the
// frames that are due and for when the next one is.
//
// The first frame is due at the start. Each further frame is due after the previous one by the
// difference of their time stamps, divided by the speed. A time stamp earlier than the one before
// it (logs joined together, a clock set back) costs no time: that frame is due together with the
// previous one, and the frames after it keep their spacing from it.
//
// Entries are pulled from the source one at a time, as they fall due: a log is never held whole.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

#include "canbus/candump_log.h"
#include "client_connection.h"

namespace canhub {

class ReplayPlayer {
 public:
  // The next entry of the log, nullopt at its end.
  using Source = std::function<std::optional<canbus::CandumpLogEntry>()>;

  // speed > 0: 2 plays twice as fast as recorded, 0.5 half as fast. Reads the first entry.
  ReplayPlayer(Source source, double speed);

  // True when the log held no frame at all.
  bool empty() const { return played_ == 0 && !next_; }
  // Starts the schedule: the first frame is due at `at`. Later calls change nothing.
  void start(Clock::time_point at);
  bool started() const { return started_; }
  // Every frame played.
  bool finished() const { return !next_; }
  // When the next frame is due; nullopt before the start and once finished.
  std::optional<Clock::time_point> nextDue() const;
  // The next frame if it is due at `now` (and moves on past it); nullopt when none is due.
  std::optional<canbus::Frame> takeDue(Clock::time_point now);
  std::size_t played() const { return played_; }

 private:
  // Reads the next entry and places it on the log's time line.
  void pull();

  Source source_;
  double speed_;
  std::optional<canbus::CandumpLogEntry> next_;
  std::chrono::microseconds nextOffset_{0};  // next_'s place on the time line, from the first
  std::chrono::microseconds lastStamp_{0};
  bool started_ = false;
  Clock::time_point start_{};
  std::size_t played_ = 0;
};

}  // namespace canhub
