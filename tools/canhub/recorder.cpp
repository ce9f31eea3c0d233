#include "recorder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "canbus/candump_log.h"

namespace canhub {
namespace {

// Gathered bytes beyond which add() writes at once instead of waiting for the round's end.
constexpr std::size_t kFlushThreshold = 64 * 1024;

}  // namespace

std::variant<std::unique_ptr<Recorder>, std::string> Recorder::open(const std::string& path) {
  canbus::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd) return "cannot record to " + path + ": " + canbus::errnoText(errno);
  return std::unique_ptr<Recorder>(new Recorder(std::move(fd), path));
}

Recorder::~Recorder() { flush(); }

void Recorder::add(const std::string& bus, const canbus::Frame& frame,
                   std::chrono::microseconds wall) {
  if (stopped_) return;
  pending_ += canbus::formatCandumpLogLine(canbus::CandumpLogEntry{wall, bus, frame});
  pending_ += '\n';
  if (pending_.size() >= kFlushThreshold) {
    if (std::optional<std::string> error = flush()) unreported_ = std::move(error);
  }
}

std::optional<std::string> Recorder::flush() {
  if (unreported_) return std::exchange(unreported_, std::nullopt);
  if (stopped_ || pending_.empty()) return std::nullopt;
  std::size_t done = 0;
  while (done < pending_.size()) {
    const ssize_t n = ::write(fd_.get(), pending_.data() + done, pending_.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n < 0 ? errno : ENOSPC;
      // Cut off a partly written line (possible for regular files; others keep what they got).
      if (done > 0) {
        const std::size_t whole = pending_.rfind('\n', done - 1);
        const uint64_t keep = written_ + (whole == std::string::npos ? 0 : whole + 1);
        if (keep != written_ + done && ::ftruncate(fd_.get(), static_cast<off_t>(keep)) != 0) {
          // Not a regular file (a pipe, a device): what it took stays; the message says why.
        }
      }
      stopped_ = true;
      pending_.clear();
      return "writing " + path_ + " failed: " + canbus::errnoText(error) +
             "; recording stopped, the hub goes on";
    }
    done += static_cast<std::size_t>(n);
  }
  written_ += pending_.size();
  pending_.clear();
  return std::nullopt;
}

}  // namespace canhub
