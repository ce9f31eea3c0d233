// The simulated RQ 730 weighing module: a CANopen slave (NMT, SDO server, four transmit PDOs,
// heartbeat producer, node guarding responder, EMCY) with the module's weighing objects and a
// weight model, over one canbus::Channel.
//
// The simulator does no I/O of its own and reads no clock: poll(now) drains the channel, runs
// the timers that are due at `now` and sends what is due. Tests drive it with a fake clock;
// the rq730sim program calls poll() about every millisecond with the steady clock.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "canbus/channel.h"
#include "canbus/frame.h"

namespace rq730sim {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

// NMT states, with the values the node sends in heartbeats and guarding replies.
enum class NmtState : uint8_t {
  initialising = 0,  // only between a reset and the boot-up message
  stopped = 4,
  operational = 5,
  preOperational = 127,
};

// Deliberate misbehaviour, for testing the master against a module that is not perfect.
// All switches may be changed while the simulator runs (Simulator::faults()).
struct Faults {
  std::set<uint16_t> missingObjects;  // these indexes answer "object does not exist"
  int tpdoCount = 4;                  // 0..4 transmit PDOs; the others' objects do not exist
  bool rejectPdoConfig = false;       // writes to 0x1800..0x1803, 0x1A00..0x1A03 are refused
  bool noBootup = false;              // no boot-up message after a reset
  Milliseconds sdoDelay{0};           // every SDO response goes out this late
  bool silentSdo = false;             // the SDO server never answers
};

// What the module's legal-metrology parameters hold.
struct Parameters {
  uint32_t vendorId = 0x000001A5;    // 0x1018 sub 1
  uint32_t productCode = 730;        // 0x1018 sub 2
  uint32_t revision = 0x00020001;    // 0x1018 sub 3
  uint32_t serialNumber = 73012345;  // 0x1018 sub 4
  uint8_t unit = 1;                  // 0x3104: 1 = kg
  uint8_t division = 1;              // 0x3105: kg per division, 1..255
  uint16_t capacity = 3000;          // 0x3106: kg
  uint16_t adjustmentCounter = 7;    // 0x3107
  uint16_t checksum = 0xC0DE;        // 0x3108
};

struct Options {
  uint8_t nodeId = 1;               // 1..127 (others are taken as 1)
  double loadKg = 0.0;              // constant gross load at start
  Milliseconds warmup{3000};        // after each power-on or reset node, weights read 0
  Milliseconds sampleInterval{20};  // the weight is measured this often
  Parameters parameters;
  Faults faults;
};

// The gross load over time. Noise (uniform within ±noiseKg) is added to every shape.
struct LoadProfile {
  enum class Shape { constant, steps, ramp };
  Shape shape = Shape::constant;
  double constantKg = 0.0;
  std::vector<double> stepsKg;  // steps: one value after the other, repeating
  Milliseconds stepPeriod{1000};
  double rampFromKg = 0.0;  // ramp: from → to within rampDuration, then stays at to
  double rampToKg = 0.0;
  Milliseconds rampDuration{1000};
  double noiseKg = 0.0;
};

class Simulator {
 public:
  Simulator(std::unique_ptr<canbus::Channel> channel, Options options);
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Handles all received frames and everything due at `now`. The first call powers the module
  // on (boot-up message). A `now` earlier than the last one counts as the last one.
  void poll(Clock::time_point now);

  // Replaces the channel (e.g. after the bus came back); the node keeps its state.
  void setChannel(std::unique_ptr<canbus::Channel> channel);
  const canbus::Channel* channel() const;

  // Load profile: takes effect at the time of the last poll (profiles start there; one set
  // before the first poll starts with the first poll).
  void setLoad(double kg);  // constant load, keeps the noise
  void setProfile(const LoadProfile& profile);
  void setNoise(double amplitudeKg);
  const LoadProfile& profile() const;

  // Sends an emergency message (error code, error register) and sets 0x1001 to the register.
  // False when the node may not send one now (stopped, or not yet booted).
  bool emcy(uint16_t code, uint8_t errorRegister);

  // Power cycle: at the next poll the module starts again as after power-on (boot-up message,
  // pre-operational, default communication parameters, zero point cleared, warm-up).
  void reboot();

  Faults& faults();
  const Options& options() const;

  // Read-only views for tests and the program.
  NmtState nmtState() const;
  bool warmingUp() const;          // as of the last poll
  double grossKg() const;          // last measured gross load
  double zeroPointKg() const;      // gross load at the last zero command
  double netKg() const;            // what 0x3004 holds (0.0 while warming up)
  int16_t legalWeight() const;     // 0x2100
  uint8_t zeroIndication() const;  // 0x2101
  uint64_t sendErrors() const;     // frames the channel refused
  std::optional<canbus::Error> lastSendError() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace rq730sim
