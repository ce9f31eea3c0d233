#include "frame_trace.h"

#include <chrono>

#include "canbus/candump_log.h"

namespace canopen32 {

std::unique_ptr<FrameTrace> FrameTrace::open(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "a");
  if (file == nullptr) return nullptr;
  return std::unique_ptr<FrameTrace>(new FrameTrace(file));
}

FrameTrace::~FrameTrace() { std::fclose(file_); }

std::string FrameTrace::line(Duration wall, const std::string& channel,
                             const canbus::Frame& frame) {
  // The one log-line format canhub --replay and candump readers share.
  return canbus::formatCandumpLogLine(
      {std::chrono::duration_cast<std::chrono::microseconds>(wall), channel, frame});
}

void FrameTrace::write(const std::string& channel, const canbus::Frame& frame) {
  const auto wall =
      std::chrono::duration_cast<Duration>(std::chrono::system_clock::now().time_since_epoch());
  const std::string text = line(wall, channel, frame);
  std::fprintf(file_, "%s\n", text.c_str());
  std::fflush(file_);
}

}  // namespace canopen32
