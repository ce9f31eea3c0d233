// Frames as tests write them, in candump notation ("601#4008100000000000", "701#R",
// "12345678#AB"), through the library's own parser and formatter (canbus::parseCandump,
// canbus::toCandump), so that tests and traces read alike.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "canbus/frame.h"

namespace test_kit {

// The frame a test wrote; text that is no frame fails the test and gives an empty frame.
inline canbus::Frame frame(std::string_view candump) {
  const std::optional<canbus::Frame> parsed = canbus::parseCandump(candump);
  if (!parsed) {
    ADD_FAILURE() << "not a frame in candump notation: \"" << candump << "\"";
    return {};
  }
  return *parsed;
}

// Frames in candump notation, in order.
inline std::vector<std::string> candump(const std::vector<canbus::Frame>& frames) {
  std::vector<std::string> texts;
  texts.reserve(frames.size());
  for (const canbus::Frame& f : frames) texts.push_back(canbus::toCandump(f));
  return texts;
}

}  // namespace test_kit
