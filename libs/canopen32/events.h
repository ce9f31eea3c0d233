// The reports the protocol core hands out, one small struct per kind; each becomes one of the
// eight callbacks of drivers/canopen.h (canopen_api.cpp). Reports carry values, never text: a
// detail that the code's fixed text cannot say (which unknown abort code a node sent) travels
// as a value and becomes text only where kcoGetText's texts are kept (error_text.cpp).
#pragma once

#include <cstdint>
#include <optional>
#include <variant>

#include "codes.h"

namespace canopen32 {

enum class SdoDirection { upload, download };

// An accepted SDO request ended: KCO_SDO_DONE or why not.
struct SdoCompleted {
  uint8_t node;
  SdoDirection direction;
  Code code;
  // The abort code the node sent when it ended the transfer with an abort.
  std::optional<uint32_t> abortCode;
};
// An installed receive PDO arrived; its bytes are in the caller's variables.
struct PdoReceived {
  uint8_t node;
  uint8_t num;
};
// A transmit PDO went out on its event time.
struct PdoTransmitted {
  uint8_t node;
  uint8_t num;
};
struct GuardingReport {
  uint8_t node;
  uint16_t state;  // KCO_NODEGUARD_NOT_ACTIVATED ..
  uint16_t nmt;    // KCO_NODEGUARD_NMT_UNKNOWN ..
};
struct HeartbeatReport {
  uint8_t node;
  uint16_t state;  // KCO_HEARTBEAT_WAITING ..
  uint16_t nmt;    // KCO_HEARTBEAT_NMT_UNKNOWN ..
};
struct Emergency {
  uint8_t node;
  uint16_t errorCode;     // 0x0000: error reset
  uint8_t errorRegister;  // the node's object 0x1001
};
struct BootUp {
  uint8_t node;
};

using Event = std::variant<SdoCompleted, PdoReceived, PdoTransmitted, GuardingReport,
                           HeartbeatReport, Emergency, BootUp>;

inline uint8_t nodeOf(const Event& event) {
  return std::visit([](const auto& report) { return report.node; }, event);
}

class EventSink {
 public:
  virtual ~EventSink() = default;
  virtual void deliver(const Event& event) = 0;
};

}  // namespace canopen32
