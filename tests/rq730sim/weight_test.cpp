// The weight model as the bus sees it: warm-up, legal value and zero indication, the zero
// command and the load profiles.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>

#include "legalRQ730/signature.h"
#include "sim_fixture.h"

namespace rq730sim_test {
namespace {

class WeightTest : public SimFixture {
 protected:
  // 0x3004 read by SDO, as a float.
  float unrounded() {
    std::string reply = sdo("601#4004300000000000");
    EXPECT_TRUE(reply.starts_with("581#43043000")) << reply;
    const uint32_t bits = static_cast<uint32_t>(std::stoul(reply.substr(12, 8), nullptr, 16));
    return std::bit_cast<float>(__builtin_bswap32(bits));
  }
};

TEST_F(WeightTest, WarmUpReadsExactlyZeroUntilItEnds) {
  auto options = defaultOptions();
  options.warmup = 3000ms;
  options.loadKg = 50;
  start(options);
  exchange({"000#0101"});
  EXPECT_EQ(sdo("601#4004300000000000"), "581#4304300000000000");
  EXPECT_EQ(sdo("601#4000210000000000"), "581#4B00210000000000");
  advance(2999ms);
  EXPECT_TRUE(sim_->warmingUp());
  EXPECT_EQ(sdo("601#4004300000000000"), "581#4304300000000000");
  advance(1ms);
  EXPECT_EQ(unrounded(), 50.0f);
  EXPECT_EQ(sdo("601#4000210000000000"), "581#4B00210032000000");

  // A reset node starts the warm-up again.
  exchange({"000#8101", "000#0101"});
  EXPECT_EQ(sdo("601#4004300000000000"), "581#4304300000000000");
}

TEST_F(WeightTest, ZeroCommandMakesTheCurrentLoadTheZeroPoint) {
  auto options = defaultOptions();
  options.loadKg = 50;
  start(options);
  EXPECT_EQ(sdo("601#2F03200000000000"), "581#6003200000000000");
  EXPECT_EQ(sim_->zeroPointKg(), 50.0);
  EXPECT_EQ(unrounded(), 0.0f);
  EXPECT_EQ(sdo("601#4001210000000000"), "581#4F01210001000000");
  sim_->setLoad(80);
  advance(20ms);
  EXPECT_EQ(unrounded(), 30.0f);
  EXPECT_EQ(sdo("601#4001210000000000"), "581#4F01210000000000");
  // The legal value and its signature go out in PDO 1.
  EXPECT_EQ(exchange({"000#0101"})[0], "181#1E004720");
}

TEST_F(WeightTest, LegalValueIsNetWeightInDivisionsSaturatedToSixteenBits) {
  struct Case {
    double loadKg;
    uint8_t division;
    int16_t legal;
    uint8_t zero;
  };
  const Case cases[] = {
      {12.5, 1, 13, 0},   {-12.5, 1, -13, 0},   {0.4, 1, 0, 1}, {-0.4, 1, 0, 1},
      {0.5, 1, 1, 0},     {7, 5, 1, 0},         {2.4, 5, 0, 1}, {13, 5, 3, 0},
      {1e6, 1, 32767, 0}, {-1e6, 1, -32768, 0}, {0, 1, 0, 1},
  };
  for (const auto& c : cases) {
    auto options = defaultOptions();
    options.loadKg = c.loadKg;
    options.parameters.division = c.division;
    start(options);
    EXPECT_EQ(sim_->legalWeight(), c.legal) << c.loadKg << " kg / " << int(c.division);
    EXPECT_EQ(sim_->zeroIndication(), c.zero) << c.loadKg << " kg / " << int(c.division);
    const auto pdos = exchange({"000#0101"});
    ASSERT_EQ(pdos.size(), 3u);
    char expected[32];
    const uint16_t sign = legal_rq730::signWeight(73012345, 7, c.legal);
    std::snprintf(expected, sizeof expected, "181#%02X%02X%02X%02X", uint8_t(c.legal),
                  uint8_t(uint16_t(c.legal) >> 8), sign & 0xFF, sign >> 8);
    EXPECT_EQ(pdos[0], expected);
  }
}

TEST_F(WeightTest, ProfilesShapeTheGrossLoadOverTime) {
  start();
  rq730sim::LoadProfile steps;
  steps.shape = rq730sim::LoadProfile::Shape::steps;
  steps.stepsKg = {10, 20, 30};
  steps.stepPeriod = 100ms;
  sim_->setProfile(steps);
  const double expectedSteps[] = {10, 10, 20, 30, 10};  // at 0, 60, 100, 200, 300 ms
  const std::chrono::milliseconds stepsAt[] = {0ms, 60ms, 40ms, 100ms, 100ms};
  for (int i = 0; i < 5; ++i) {
    advance(stepsAt[i]);
    EXPECT_EQ(sim_->grossKg(), expectedSteps[i]) << i;
  }

  rq730sim::LoadProfile ramp;
  ramp.shape = rq730sim::LoadProfile::Shape::ramp;
  ramp.rampFromKg = 100;
  ramp.rampToKg = 0;
  ramp.rampDuration = 1000ms;
  sim_->setProfile(ramp);
  advance(0ms);
  EXPECT_EQ(sim_->grossKg(), 100);
  advance(500ms);
  EXPECT_DOUBLE_EQ(sim_->grossKg(), 50);
  advance(600ms);
  EXPECT_EQ(sim_->grossKg(), 0);

  sim_->setLoad(40);
  sim_->setNoise(0.5);
  double lowest = 1e9, highest = -1e9;
  for (int i = 0; i < 200; ++i) {
    advance(20ms);
    lowest = std::min(lowest, sim_->grossKg());
    highest = std::max(highest, sim_->grossKg());
  }
  EXPECT_GE(lowest, 39.5);
  EXPECT_LE(highest, 40.5);
  EXPECT_GT(highest - lowest, 0.5);  // it does vary
}

TEST_F(WeightTest, MeasurementsComeAtTheSampleRate) {
  auto options = defaultOptions();
  options.loadKg = 1;
  start(options);
  advance(5ms);
  sim_->setLoad(2);  // takes effect with the next measurement, which is due at once
  advance(1ms);
  EXPECT_EQ(sim_->grossKg(), 2);
  sim_->setProfile([] {
    rq730sim::LoadProfile ramp;
    ramp.shape = rq730sim::LoadProfile::Shape::ramp;
    ramp.rampFromKg = 0;
    ramp.rampToKg = 100;
    ramp.rampDuration = 100ms;
    return ramp;
  }());
  advance(0ms);
  EXPECT_EQ(sim_->grossKg(), 0);
  advance(19ms);
  EXPECT_EQ(sim_->grossKg(), 0);  // not yet measured again
  advance(1ms);
  EXPECT_DOUBLE_EQ(sim_->grossKg(), 20);
}

TEST_F(WeightTest, ProfileSetBeforePowerOnStartsWithIt) {
  create();
  rq730sim::LoadProfile ramp;
  ramp.shape = rq730sim::LoadProfile::Shape::ramp;
  ramp.rampFromKg = 0;
  ramp.rampToKg = 100;
  ramp.rampDuration = 1000ms;
  sim_->setProfile(ramp);
  advance(0ms);
  EXPECT_EQ(sim_->grossKg(), 0);
  advance(500ms);
  EXPECT_DOUBLE_EQ(sim_->grossKg(), 50);
}

}  // namespace
}  // namespace rq730sim_test
