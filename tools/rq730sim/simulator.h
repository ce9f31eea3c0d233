// The simulated RQ 730 weighing module: a CANopen slave (NMT, SDO server, four transmit and four
// receive PDOs, SYNC, heartbeat producer, node guarding responder, EMCY) with the module's
// weighing objects and a weight model, as a protocol core.
//
// The core does no I/O and reads no clock: frames and the time come in (onFrame, advance),
// frames go out through one sink, and nextDeadline() says when it next needs to run if no frame
// arrives. Tests drive it with a fake clock; the rq730sim program (main.cpp) and ChannelAdapter
// connect it to a canbus::Channel and the steady clock.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "canbus/frame.h"
#include "cia301/nmt.h"

namespace rq730sim {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

// NMT states, with the values the node sends in heartbeats and guarding replies (bootUp only
// between a reset and the boot-up message).
using NmtState = cia301::NmtState;

// Where the core's frames go, in the order they are due.
using FrameSink = std::function<void(const canbus::Frame&)>;

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
  Simulator(Options options, FrameSink sink);
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Handles one received frame at `now`. Call advance(now) after the frames of one instant to run
  // what is due then. The first call of either powers the module on (boot-up message). A `now`
  // earlier than the last one counts as the last one.
  void onFrame(const canbus::Frame& frame, Clock::time_point now);
  // Sends everything that is due at `now` (delayed SDO answers, heartbeat, life guarding, PDOs).
  void advance(Clock::time_point now);
  // When the core next needs advance() if no frame arrives: a time at or before the last `now`
  // means at once; nothing when nothing is pending.
  std::optional<Clock::time_point> nextDeadline() const;

  // Load profile: takes effect at the time of the last call (profiles start there; one set
  // before the module is powered on starts at power-on).
  void setLoad(double kg);  // constant load, keeps the noise
  void setProfile(const LoadProfile& profile);
  void setNoise(double amplitudeKg);
  const LoadProfile& profile() const;

  // Sends an emergency message (error code, error register) and sets 0x1001 to the register.
  // False when the node may not send one now (stopped, or not yet booted).
  bool emcy(uint16_t code, uint8_t errorRegister);

  // Power cycle: at the next call the module starts again as after power-on (boot-up message,
  // pre-operational, default communication parameters, zero point cleared, warm-up).
  void reboot();

  Faults& faults();
  const Options& options() const;

  // Read-only views for tests and the program.
  NmtState nmtState() const;
  bool warmingUp() const;          // as of the last call
  double grossKg() const;          // last measured gross load
  double zeroPointKg() const;      // gross load at the last zero command
  double netKg() const;            // what 0x3004 holds (0.0 while warming up)
  int16_t legalWeight() const;     // 0x2100
  uint8_t zeroIndication() const;  // 0x2101

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace rq730sim
