// Drives the protocol core with a fake clock and records what it sends (candump notation) and
// reports (one short text per callback). Scripts are those of tests/support/candump_script.h:
//   "> 605#4018100400000000"  the core sent this frame (next in order)
//   "< 585#4318100415CD5B07"  the node sends this frame
//   "+250"                    250 ms pass; the timers run
//   "! upload 5 3300"         the core reported this (next in order)
// After the script nothing else may have been sent or reported.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <functional>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "canbus/frame.h"
#include "engine.h"
#include "error_text.h"
#include "support/candump_script.h"

namespace canopen32::testing {

// One short text per report, as the scripts write it.
inline std::string describe(const Event& event) {
  char text[64];
  std::visit(
      [&text](const auto& report) {
        using Report = std::decay_t<decltype(report)>;
        const unsigned node = report.node;
        if constexpr (std::is_same_v<Report, SdoCompleted>) {
          if (report.direction == SdoDirection::upload) {
            std::snprintf(text, sizeof text, "upload %u %04X", node, unsigned{report.code});
          } else {
            std::snprintf(text, sizeof text, "download %u %04X", node, unsigned{report.code});
          }
        } else if constexpr (std::is_same_v<Report, PdoReceived>) {
          std::snprintf(text, sizeof text, "pdorx %u %u", node, unsigned{report.num});
        } else if constexpr (std::is_same_v<Report, PdoTransmitted>) {
          std::snprintf(text, sizeof text, "pdotx %u %u", node, unsigned{report.num});
        } else if constexpr (std::is_same_v<Report, GuardingReport>) {
          std::snprintf(text, sizeof text, "guard %u %04X %04X", node, unsigned{report.state},
                        unsigned{report.nmt});
        } else if constexpr (std::is_same_v<Report, HeartbeatReport>) {
          std::snprintf(text, sizeof text, "heartbeat %u %04X %04X", node, unsigned{report.state},
                        unsigned{report.nmt});
        } else if constexpr (std::is_same_v<Report, Emergency>) {
          std::snprintf(text, sizeof text, "emcy %u %02X", node, unsigned{report.errorRegister});
        } else {
          static_assert(std::is_same_v<Report, BootUp>);
          std::snprintf(text, sizeof text, "boot %u", node);
        }
      },
      event);
  return text;
}

class Harness : public FrameSink, public EventSink {
 public:
  explicit Harness(bool extended = false, Duration timeout = std::chrono::milliseconds(1000))
      : engine(*this, *this, extended, timeout) {
    now.steady = std::chrono::seconds(1000);
    now.wall = std::chrono::seconds(1704067200);
  }

  Code send(const canbus::Frame& frame) override {
    if (sendResult != kSent) return sendResult;
    sent.push_back(canbus::toCandump(frame));
    return kSent;
  }
  // As the C functions do: a report's detail becomes its code's text before the callback.
  void deliver(const Event& event) override {
    takeDetail(event);
    if (onEvent) onEvent(event);
    events.push_back(describe(event));
  }

  void receive(const std::string& candump) {
    const auto frame = canbus::parseCandump(candump);
    ASSERT_TRUE(frame) << candump;
    engine.onFrame(now, *frame);
  }
  void advance(int ms) {
    now.steady += std::chrono::milliseconds(ms);
    now.wall += std::chrono::milliseconds(ms);
    engine.tick(now);
  }

  // Runs a script (see above); reports the line that failed.
  void run(const std::vector<std::string>& script) {
    test_kit::runCandumpScript(
        script,
        {sent, events, [this](const canbus::Frame& frame) { engine.onFrame(now, frame); },
         [this](std::chrono::milliseconds step) { advance(static_cast<int>(step.count())); }});
  }

  Now now;
  Code sendResult = kSent;
  std::deque<std::string> sent;
  std::deque<std::string> events;
  std::function<void(const Event&)> onEvent;
  Engine engine;
};

}  // namespace canopen32::testing
