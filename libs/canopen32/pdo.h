// Process data objects of the nodes, seen from the master:
//   receive PDO n of a node  = the node's TPDO n, COB-ID 0x180 + (n-1)*0x100 + node
//   transmit PDO n to a node = the node's RPDO n, COB-ID 0x200 + (n-1)*0x100 + node
// Each PDO maps up to 8 of the caller's variables in order, 8 bytes in total at most. A received
// frame is copied into the variables only when it carries at least the mapped bytes; the
// received-PDO report follows the copy. A transmit PDO is sent every event time, built from the
// variables at that moment, never faster than its inhibit time; each send is reported.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "drivers/canopen.h"
#include "service_context.h"

namespace canopen32 {

class Pdos {
 public:
  explicit Pdos(Context& context) : context_(context) {}

  // kcoPDO. Removing is always accepted.
  Code request(Now now, uint8_t node, uint8_t num, uint16_t function, uint16_t direction,
               const kcoPdoEntry* entries, uint32_t value);
  void tick(Now now);
  // When the next transmit PDO is due; nothing while none is sent on its own.
  std::optional<Duration> nextDeadline() const;

  // Received frames that were too short for their mapping (dropped, not reported).
  uint64_t lengthMismatches() const { return lengthMismatches_; }

 private:
  // An installed receive PDO subscribes its COB-ID; this takes its frames.
  void handle(const canbus::Frame& frame);

  struct Mapped {
    uint8_t length;
    void* data;
  };
  struct Pdo {
    uint8_t node = 0;
    uint8_t num = 0;
    std::vector<Mapped> entries;
    uint8_t totalLength = 0;
    Duration period{0};  // transmit: 0 = never on its own
    Duration nextSend{0};
  };

  Context& context_;
  std::map<uint32_t, Pdo> receive_;   // by COB-ID
  std::map<uint32_t, Pdo> transmit_;  // by COB-ID
  uint64_t lengthMismatches_ = 0;
};

}  // namespace canopen32
