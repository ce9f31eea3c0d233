#include "rq730sim/weight_model.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "legalRQ730/signature.h"

namespace rq730sim {
namespace {

// Far beyond any scale, small enough that every conversion below stays defined.
constexpr double kLimitKg = 1e9;

double bounded(double kg) {
  if (!std::isfinite(kg)) return 0.0;
  return std::clamp(kg, -kLimitKg, kLimitKg);
}

}  // namespace

WeightModel::WeightModel(const Options& options)
    : warmup_(options.warmup),
      sampleInterval_(std::max(options.sampleInterval, Milliseconds(1))),
      parameters_(options.parameters) {
  if (parameters_.division == 0) parameters_.division = 1;
  profile_.constantKg = options.loadKg;
}

void WeightModel::powerOn(TimePoint now) {
  zeroPointKg_ = 0.0;
  warmupEnd_ = now + warmup_;
  warmingUp_ = warmup_.count() > 0;
  nextSample_ = now;
  update(now);
}

void WeightModel::setProfile(const LoadProfile& profile, TimePoint now) {
  profile_ = profile;
  profileStart_ = now;
  nextSample_ = now;  // the new load shows with the next measurement
}

double WeightModel::profileKg(TimePoint now) const {
  const auto elapsed = std::chrono::duration_cast<Milliseconds>(now - profileStart_);
  switch (profile_.shape) {
    case LoadProfile::Shape::constant:
      return profile_.constantKg;
    case LoadProfile::Shape::steps: {
      if (profile_.stepsKg.empty()) return 0.0;
      const auto period = std::max<int64_t>(profile_.stepPeriod.count(), 1);
      const auto step =
          static_cast<std::size_t>(elapsed.count() / period) % profile_.stepsKg.size();
      return profile_.stepsKg[step];
    }
    case LoadProfile::Shape::ramp: {
      const auto duration = profile_.rampDuration.count();
      if (duration <= 0 || elapsed.count() >= duration) return profile_.rampToKg;
      const double fraction = static_cast<double>(elapsed.count()) / static_cast<double>(duration);
      return profile_.rampFromKg + (profile_.rampToKg - profile_.rampFromKg) * fraction;
    }
  }
  return 0.0;
}

void WeightModel::update(TimePoint now) {
  warmingUp_ = now < warmupEnd_;
  if (now < nextSample_) return;
  double kg = bounded(profileKg(now));
  const double amplitude = bounded(std::abs(profile_.noiseKg));
  if (amplitude > 0.0) {
    kg += std::uniform_real_distribution<double>(-amplitude, amplitude)(noise_);
  }
  grossKg_ = bounded(kg);
  nextSample_ = now + sampleInterval_;
}

float WeightModel::unroundedKg() const { return static_cast<float>(netKg()); }

int16_t WeightModel::legalWeight() const {
  const double divisions = std::round(netKg() / parameters_.division);
  return static_cast<int16_t>(std::clamp<double>(divisions, std::numeric_limits<int16_t>::min(),
                                                 std::numeric_limits<int16_t>::max()));
}

uint8_t WeightModel::zeroIndication() const {
  return std::abs(netKg()) < parameters_.division / 2.0 ? 1 : 0;
}

uint16_t WeightModel::weightSignature() const {
  return legal_rq730::signWeight(parameters_.serialNumber, parameters_.adjustmentCounter, legalWeight());
}

uint16_t WeightModel::zeroIndicationSignature() const {
  return legal_rq730::signZeroIndication(parameters_.serialNumber, parameters_.adjustmentCounter,
                            zeroIndication());
}

}  // namespace rq730sim
