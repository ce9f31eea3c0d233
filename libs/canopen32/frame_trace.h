// Optional trace of every frame sent and received, in candump log format, one line each,
// appended and flushed per line: "(1735270496.916858) can0 181#D204".
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "canbus/frame.h"
#include "service_context.h"

namespace canopen32 {

class FrameTrace {
 public:
  // Null when the file cannot be opened for appending.
  static std::unique_ptr<FrameTrace> open(const std::string& path);
  ~FrameTrace();
  FrameTrace(const FrameTrace&) = delete;
  FrameTrace& operator=(const FrameTrace&) = delete;

  // One line stamped with the wall clock now.
  void write(const std::string& channel, const canbus::Frame& frame);

  // One line without its newline.
  static std::string line(Duration wall, const std::string& channel, const canbus::Frame& frame);

 private:
  explicit FrameTrace(std::FILE* file) : file_(file) {}
  std::FILE* file_;
};

}  // namespace canopen32
