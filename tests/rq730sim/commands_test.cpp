// The program's command line and its standard input commands.
#include "rq730sim/commands.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim_fixture.h"

namespace rq730sim_test {
namespace {

using rq730sim::ProgramOptions;

std::variant<ProgramOptions, std::string> parse(std::vector<std::string_view> args) {
  return rq730sim::parseArguments(args);
}

TEST(ArgumentsTest, OptionsAndFaultSwitchesReachTheSimulatorOptions) {
  auto result = parse({"--channel",
                       "socketcand://127.0.0.1:29536/sim0",
                       "--node-id",
                       "5",
                       "--load=12.5",
                       "--warmup-ms",
                       "0",
                       "--missing-object",
                       "0x3106",
                       "--missing-object",
                       "0x3108",
                       "--tpdo-count",
                       "3",
                       "--reject-pdo-config",
                       "--no-bootup",
                       "--sdo-delay-ms",
                       "40",
                       "--silent-sdo",
                       "--division",
                       "2",
                       "--serial-number",
                       "0x1234",
                       "--capacity",
                       "6000"});
  ASSERT_TRUE(std::holds_alternative<ProgramOptions>(result)) << std::get<std::string>(result);
  const auto& p = std::get<ProgramOptions>(result);
  EXPECT_EQ(p.channelUrl, "socketcand://127.0.0.1:29536/sim0");
  const auto& o = p.simulator;
  EXPECT_EQ(o.nodeId, 5);
  EXPECT_EQ(o.loadKg, 12.5);
  EXPECT_EQ(o.warmup, 0ms);
  EXPECT_EQ(o.faults.missingObjects, (std::set<uint16_t>{0x3106, 0x3108}));
  EXPECT_EQ(o.faults.tpdoCount, 3);
  EXPECT_TRUE(o.faults.rejectPdoConfig);
  EXPECT_TRUE(o.faults.noBootup);
  EXPECT_EQ(o.faults.sdoDelay, 40ms);
  EXPECT_TRUE(o.faults.silentSdo);
  EXPECT_EQ(o.parameters.division, 2);
  EXPECT_EQ(o.parameters.serialNumber, 0x1234u);
  EXPECT_EQ(o.parameters.capacity, 6000);

  auto defaults = parse({"--channel", "loopback://x"});
  ASSERT_TRUE(std::holds_alternative<ProgramOptions>(defaults));
  EXPECT_EQ(std::get<ProgramOptions>(defaults).simulator.nodeId, 1);
  EXPECT_EQ(std::get<ProgramOptions>(defaults).simulator.warmup, 3000ms);
  EXPECT_TRUE(std::get<ProgramOptions>(parse({"--help"})).help);
}

TEST(ArgumentsTest, BadArgumentsAreNamedInTheError) {
  struct Case {
    std::vector<std::string_view> args;
    const char* error;
  };
  const Case cases[] = {
      {{}, "--channel URL is required"},
      {{"--channel"}, "--channel needs a value"},
      {{"--channel", "x", "--node-id", "0"}, "invalid value for --node-id: 0 (1..127)"},
      {{"--channel", "x", "--node-id", "128"}, "invalid value for --node-id: 128 (1..127)"},
      {{"--channel", "x", "--node-id", "5x"}, "invalid value for --node-id: 5x (1..127)"},
      {{"--channel", "x", "--load", "nan"}, "invalid value for --load: nan (a number of kg)"},
      {{"--channel", "x", "--load", "1e300"}, "invalid value for --load: 1e300 (a number of kg)"},
      {{"--channel", "x", "--tpdo-count", "5"}, "invalid value for --tpdo-count: 5 (0..4)"},
      {{"--channel", "x", "--warmup-ms", "-1"},
       "invalid value for --warmup-ms: -1 (milliseconds, 0..3600000)"},
      {{"--channel", "x", "--missing-object", "0x10000"},
       "invalid value for --missing-object: 0x10000 (an object index such as 0x3106)"},
      {{"--channel", "x", "--division", "0"}, "invalid value for --division: 0 (1..255)"},
      {{"--channel", "x", "--silent-sdo=yes"}, "--silent-sdo takes no value"},
      {{"--channel", "x", "--bogus"}, "unknown argument: --bogus"},
  };
  for (const auto& c : cases) {
    auto result = parse(c.args);
    ASSERT_TRUE(std::holds_alternative<std::string>(result)) << c.error;
    EXPECT_EQ(std::get<std::string>(result), c.error);
  }
}

class CommandTest : public SimFixture {
 protected:
  void SetUp() override { start(); }
  rq730sim::CommandOutcome run(std::string_view line) { return rq730sim::runCommand(*sim_, line); }
};

TEST_F(CommandTest, CommandsChangeLoadAndFaultsAtRunTime) {
  EXPECT_FALSE(run("load 12.5").error);
  advance(20ms);
  EXPECT_EQ(sim_->grossKg(), 12.5);
  EXPECT_FALSE(run("  steps 1 2 3 100 ").error);
  EXPECT_EQ(sim_->profile().stepsKg, (std::vector<double>{1, 2, 3}));
  EXPECT_EQ(sim_->profile().stepPeriod, 100ms);
  EXPECT_FALSE(run("ramp 0 100 2.5").error);
  EXPECT_EQ(sim_->profile().rampDuration, 2500ms);
  EXPECT_FALSE(run("noise 0.2").error);
  EXPECT_EQ(sim_->profile().noiseKg, 0.2);
  EXPECT_EQ(sim_->profile().shape, rq730sim::LoadProfile::Shape::ramp);  // noise keeps the shape

  EXPECT_FALSE(run("fault missing-object 0x3106").error);
  EXPECT_FALSE(run("fault tpdo-count 2").error);
  EXPECT_FALSE(run("fault reject-pdo-config").error);
  EXPECT_FALSE(run("fault sdo-delay-ms 30").error);
  EXPECT_FALSE(run("fault silent-sdo on").error);
  EXPECT_TRUE(sim_->faults().missingObjects.contains(0x3106));
  EXPECT_EQ(sim_->faults().tpdoCount, 2);
  EXPECT_TRUE(sim_->faults().rejectPdoConfig);
  EXPECT_EQ(sim_->faults().sdoDelay, 30ms);
  EXPECT_TRUE(sim_->faults().silentSdo);
  EXPECT_FALSE(run("fault silent-sdo off").error);
  EXPECT_FALSE(sim_->faults().silentSdo);
  EXPECT_FALSE(run("fault clear").error);
  EXPECT_TRUE(sim_->faults().missingObjects.empty());
  EXPECT_EQ(sim_->faults().tpdoCount, 4);

  EXPECT_FALSE(run("emcy 0x8110 0x11").error);
  EXPECT_EQ(take(), Frames{"081#1081110000000000"});
  EXPECT_FALSE(run("reboot").error);
  EXPECT_EQ(advance(1ms), Frames{"701#00"});
  EXPECT_TRUE(run("quit").quit);
  EXPECT_FALSE(run("").error);
  EXPECT_NE(run("status").message.find("pre-operational"), std::string::npos);
}

TEST_F(CommandTest, BadCommandsReportAnErrorAndChangeNothing) {
  const char* lines[] = {"lod 5",
                         "load",
                         "load x",
                         "load 5 6",
                         "load inf",
                         "steps 100",
                         "steps 1 0",
                         "steps a 100",
                         "ramp 1 2",
                         "ramp 1 2 -1",
                         "noise -1",
                         "emcy 0x10000 0",
                         "emcy 1",
                         "fault",
                         "fault foo",
                         "fault tpdo-count 9",
                         "fault silent-sdo maybe",
                         "fault missing-object",
                         "quit now"};
  for (const char* line : lines) {
    auto outcome = run(line);
    EXPECT_TRUE(outcome.error) << line;
    EXPECT_FALSE(outcome.message.empty()) << line;
    EXPECT_FALSE(outcome.quit) << line;
  }
  EXPECT_EQ(sim_->profile().constantKg, 0);
  EXPECT_EQ(sim_->faults().tpdoCount, 4);
  EXPECT_TRUE(take().empty());
}

TEST_F(CommandTest, EmcyInStoppedStateIsReportedNotSent) {
  exchange({"000#0201"});
  auto outcome = run("emcy 0x8110 0x11");
  EXPECT_TRUE(outcome.error);
  EXPECT_EQ(outcome.message, "emcy not sent: the node is stopped");
  EXPECT_TRUE(take().empty());
}

}  // namespace
}  // namespace rq730sim_test
