#include "replay_player.h"

#include <algorithm>
#include <cmath>

namespace canhub {
namespace {

// The time line is capped at 100 years: beyond that the arithmetic of time points would overflow,
// and no replay waits that long.
constexpr std::chrono::microseconds kLongestOffset = std::chrono::hours(24 * 365 * 100);

}  // namespace

ReplayPlayer::ReplayPlayer(Source source, double speed)
    : source_(std::move(source)), speed_(speed > 0 && std::isfinite(speed) ? speed : 1.0) {
  pull();
}

void ReplayPlayer::pull() {
  const bool first = !next_ && played_ == 0;
  next_ = source_ ? source_() : std::nullopt;
  if (!next_) return;
  if (first) {
    nextOffset_ = std::chrono::microseconds(0);
  } else {
    // Stamps are at most 10^12 s, so the difference cannot overflow.
    const std::chrono::microseconds step =
        std::max(next_->time - lastStamp_, std::chrono::microseconds(0));
    nextOffset_ = std::min(nextOffset_ + std::min(step, kLongestOffset), kLongestOffset);
  }
  lastStamp_ = next_->time;
}

void ReplayPlayer::start(Clock::time_point at) {
  if (started_) return;
  started_ = true;
  start_ = at;
}

std::optional<Clock::time_point> ReplayPlayer::nextDue() const {
  if (!started_ || !next_) return std::nullopt;
  // Rounded to the clock's tick; the offset is capped, so the product stays far from overflow.
  const double ticks = static_cast<double>(nextOffset_.count()) / speed_ *
                       (static_cast<double>(Clock::period::den) / Clock::period::num) / 1e6;
  const double cap =
      static_cast<double>(std::chrono::duration_cast<Clock::duration>(kLongestOffset).count());
  return start_ + Clock::duration(static_cast<Clock::rep>(std::llround(std::min(ticks, cap))));
}

std::optional<canbus::Frame> ReplayPlayer::takeDue(Clock::time_point now) {
  const std::optional<Clock::time_point> due = nextDue();
  if (!due || *due > now) return std::nullopt;
  const canbus::Frame frame = next_->frame;
  ++played_;
  pull();
  return frame;
}

}  // namespace canhub
