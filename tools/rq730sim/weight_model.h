// The module's weighing: a gross load that follows a profile over time, measured at a fixed
// rate, a warm-up after power-on during which every weight reads 0, and a zero point that the
// zero command sets. From the net weight come the legal value (in divisions) and the zero
// indication, each with its signature.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <random>

#include "rq730sim/simulator.h"

namespace rq730sim {

class WeightModel {
 public:
  using TimePoint = Clock::time_point;

  explicit WeightModel(const Options& options);

  // Power-on or reset node: warm-up starts again, the zero point is cleared.
  void powerOn(TimePoint now);
  void setProfile(const LoadProfile& profile, TimePoint now);
  // Lets the profile begin at `now` (a profile set before the module was first powered on).
  void restartProfile(TimePoint now) { profileStart_ = now; }
  const LoadProfile& profile() const { return profile_; }
  // Changes only the noise; the profile keeps its timing.
  void setNoise(double amplitudeKg) { profile_.noiseKg = amplitudeKg; }
  // Takes a new measurement when one is due.
  void update(TimePoint now);
  // When the weights may next change: the next measurement, or the end of the warm-up.
  TimePoint nextChange() const {
    return warmingUp_ ? std::min(nextSample_, warmupEnd_) : nextSample_;
  }
  // Zero command: the current gross load becomes the zero point.
  void zero() { zeroPointKg_ = grossKg_; }

  bool warmingUp() const { return warmingUp_; }
  double grossKg() const { return grossKg_; }
  double zeroPointKg() const { return zeroPointKg_; }
  double netKg() const { return warmingUp_ ? 0.0 : grossKg_ - zeroPointKg_; }
  float unroundedKg() const;                 // 0x3004
  int16_t legalWeight() const;               // 0x2100: net weight in divisions
  uint8_t zeroIndication() const;            // 0x2101: 1 within half a division of zero
  uint16_t weightSignature() const;          // 0x2200
  uint16_t zeroIndicationSignature() const;  // 0x2201

 private:
  double profileKg(TimePoint now) const;

  Milliseconds warmup_;
  Milliseconds sampleInterval_;
  Parameters parameters_;
  LoadProfile profile_;
  TimePoint profileStart_{};
  TimePoint warmupEnd_{};
  TimePoint nextSample_{};
  bool warmingUp_ = true;
  double grossKg_ = 0.0;
  double zeroPointKg_ = 0.0;
  std::mt19937 noise_{730};  // fixed seed: runs repeat exactly
};

}  // namespace rq730sim
