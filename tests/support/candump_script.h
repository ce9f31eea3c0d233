// Runs a script of frames and reports against a protocol core on a fake clock. Lines:
//   "> 605#4018100400000000"  the core sent this frame (next in order)
//   "< 585#4318100415CD5B07"  the bus delivers this frame to the core
//   "+250"                    250 ms pass; the core's timers run
//   "! upload 5 3300"         the core reported this (next in order)
// After the script nothing else may have been sent or reported. A failure names its line.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "canbus/frame.h"

namespace test_kit {

struct ScriptTarget {
  std::deque<std::string>& sent;      // the frames the core sent, candump notation, oldest first
  std::deque<std::string>& reported;  // the core's reports, oldest first
  std::function<void(const canbus::Frame&)> deliver;       // "<"
  std::function<void(std::chrono::milliseconds)> advance;  // "+"
};

inline void runCandumpScript(const std::vector<std::string>& script, const ScriptTarget& target) {
  for (const std::string& line : script) {
    SCOPED_TRACE(line);
    const std::string rest = line.substr(line.find(' ') + 1);
    switch (line[0]) {
      case '>':
        ASSERT_FALSE(target.sent.empty()) << "nothing sent";
        EXPECT_EQ(target.sent.front(), rest);
        target.sent.pop_front();
        break;
      case '<':
        if (const std::optional<canbus::Frame> parsed = canbus::parseCandump(rest)) {
          target.deliver(*parsed);
        } else {
          ADD_FAILURE() << "not a frame in candump notation: \"" << rest << "\"";
        }
        break;
      case '+': target.advance(std::chrono::milliseconds(std::stoi(line.substr(1)))); break;
      case '!':
        ASSERT_FALSE(target.reported.empty()) << "nothing reported";
        EXPECT_EQ(target.reported.front(), rest);
        target.reported.pop_front();
        break;
      default: FAIL() << "bad script line";
    }
  }
  EXPECT_TRUE(target.sent.empty())
      << "also sent: " << (target.sent.empty() ? "" : target.sent.front());
  EXPECT_TRUE(target.reported.empty())
      << "also reported: " << (target.reported.empty() ? "" : target.reported.front());
}

}  // namespace test_kit
