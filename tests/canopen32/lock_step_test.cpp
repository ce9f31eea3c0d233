// The driver's protocol core against the simulated RQ 730's core, both on one fake clock in lock
// step (tests/support/lock_step.h): every frame reaches the other side at the instant it was
// sent, every timer runs at its deadline, and every line of the log has its exact time. Log
// lines: "> " a frame the master sent, "< " a frame the module sent, "! " a report of the master
// (as the engine's scripts write them).
#include "support/lock_step.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "drivers/canopen.h"
#include "engine.h"
#include "engine_harness.h"
#include "error_catalogue.h"
#include "rq730sim/simulator.h"

namespace canopen32 {
namespace {

using namespace std::chrono_literals;
using test_kit::LockStep;

constexpr std::size_t kMaster = 0;
constexpr std::size_t kModule = 1;
constexpr uint8_t kNode = 1;

// The driver's engine as one side: its frames go on the bus, its reports into the log.
class Master final : public LockStep::Core, public FrameSink, public EventSink {
 public:
  Master(LockStep& bus, Duration sdoTimeout)
      : bus_(bus), engine(*this, *this, /*extended=*/false, sdoTimeout) {}

  Code send(const canbus::Frame& frame) override {
    bus_.transmit(kMaster, frame);
    return kSent;
  }
  void deliver(const Event& event) override {
    if (onEvent) onEvent(event);
    bus_.note("! " + testing::describe(event));
  }

  void onFrame(const canbus::Frame& frame, LockStep::TimePoint now) override {
    engine.onFrame(at(now), frame);
  }
  void run(LockStep::TimePoint now) override { engine.tick(at(now)); }
  std::optional<LockStep::TimePoint> nextDeadline() const override {
    const std::optional<Duration> next = engine.nextDeadline();
    if (!next) return std::nullopt;
    return LockStep::TimePoint(*next);
  }

  // The current time, for requests the test makes between runs.
  Now now() const { return at(bus_.now()); }

 private:
  Now at(LockStep::TimePoint when) const {
    return {std::chrono::duration_cast<Duration>(when.time_since_epoch()),
            bus_.clock().wallMicros()};
  }

  LockStep& bus_;

 public:
  Engine engine;
  std::function<void(const Event&)> onEvent;
};

// The simulated module as the other side.
class Module final : public LockStep::Core {
 public:
  Module(LockStep& bus, rq730sim::Options options)
      : sim(std::move(options),
            [&bus](const canbus::Frame& frame) { bus.transmit(kModule, frame); }) {}

  void onFrame(const canbus::Frame& frame, LockStep::TimePoint now) override {
    sim.onFrame(frame, now);
  }
  void run(LockStep::TimePoint now) override { sim.advance(now); }
  std::optional<LockStep::TimePoint> nextDeadline() const override { return sim.nextDeadline(); }

  rq730sim::Simulator sim;
};

rq730sim::Options moduleOptions() {
  rq730sim::Options options;
  options.warmup = 0ms;
  options.loadKg = 150.0;
  return options;
}

constexpr Duration kStepTimeout = 100ms;

class LockStepTest : public ::testing::Test {
 public:  // the table of time-outs below sets its cases up through these
  // Both cores on the bus; the module powers on at once (its boot-up is in the log).
  void start(rq730sim::Options options = moduleOptions(), Duration sdoTimeout = kStepTimeout) {
    master = std::make_unique<Master>(bus, sdoTimeout);
    module = std::make_unique<Module>(bus, std::move(options));
    bus.attach(kMaster, *master);
    bus.attach(kModule, *module);
    bus.settle();
  }

  // Runs until a log line after `from` starts with `text`; the time of that line.
  std::optional<LockStep::Duration> runUntilLogged(std::string_view text,
                                                   LockStep::Duration limit = 10s) {
    const std::size_t from = bus.log().size();
    std::optional<LockStep::Duration> seen;
    bus.runUntil(
        [&] {
          seen = timeOf(text, from);
          return seen.has_value();
        },
        limit);
    return seen;
  }
  // The log since the last take, only the lines that start with one of `texts`.
  std::vector<std::string> takeLogOf(const std::vector<std::string_view>& texts) {
    std::vector<std::string> lines;
    for (std::string& line : bus.takeLog()) {
      const std::string_view text = std::string_view(line).substr(line.find(' ') + 1);
      if (std::ranges::any_of(texts, [&](std::string_view t) { return text.starts_with(t); })) {
        lines.push_back(std::move(line));
      }
    }
    return lines;
  }
  // The time of the first log line from `from` on that starts with `text`.
  std::optional<LockStep::Duration> timeOf(std::string_view text, std::size_t from = 0) const {
    const auto& log = bus.log();
    for (std::size_t i = from; i < log.size(); ++i) {
      if (log[i].text.starts_with(text)) return log[i].at;
    }
    return std::nullopt;
  }
  // The time of the last log line that starts with `text`.
  std::optional<LockStep::Duration> lastTimeOf(std::string_view text) const {
    const auto& log = bus.log();
    for (auto line = log.rbegin(); line != log.rend(); ++line) {
      if (line->text.starts_with(text)) return line->at;
    }
    return std::nullopt;
  }
  std::size_t countOf(std::string_view text, std::size_t from = 0) const {
    const auto& log = bus.log();
    return static_cast<std::size_t>(
        std::count_if(log.begin() + static_cast<std::ptrdiff_t>(from), log.end(),
                      [&](const LockStep::Line& line) { return line.text.starts_with(text); }));
  }

  // One SDO transfer to node 1, run to its end; the completion code (0 when none came).
  Code transfer(uint16_t index, uint8_t subindex, uint16_t function, uint16_t type, void* data) {
    const Code accepted =
        master->engine.sdo(master->now(), kNode, index, subindex, function, type, data);
    if (accepted != KCO_SDO_ACCEPTED) return accepted;
    std::optional<Code> code;
    master->onEvent = [&code](const Event& event) {
      if (const auto* done = std::get_if<SdoCompleted>(&event)) code = done->code;
    };
    bus.runUntil([&code] { return code.has_value(); }, 10s);
    master->onEvent = nullptr;
    return code.value_or(0);
  }

  LockStep bus{{">", "<"}};
  std::unique_ptr<Master> master;
  std::unique_ptr<Module> module;
};

TEST_F(LockStepTest, TheModuleBootsAtPowerOnAndTheMasterReportsIt) {
  start();
  EXPECT_EQ(bus.takeLog(), (std::vector<std::string>{"0 < 701#00", "0 ! boot 1"}));
  bus.runFor(10s);  // pre-operational without heartbeat: nobody has anything to do
  EXPECT_EQ(bus.takeLog(), std::vector<std::string>{});
  EXPECT_EQ(bus.elapsed(), 10s);
}

TEST_F(LockStepTest, ExpeditedAndSegmentedUploadsAndAnAbort) {
  start();
  bus.takeLog();
  uint32_t serial = 0;
  EXPECT_EQ(transfer(0x1018, 4, KCO_SDO_UPLOAD, KCO_TYPE_U32, &serial), KCO_SDO_DONE);
  EXPECT_EQ(serial, module->sim.options().parameters.serialNumber);
  EXPECT_EQ(bus.takeLog(),
            (std::vector<std::string>{"0 > 601#4018100400000000", "0 < 581#4318100479145A04",
                                      "0 ! upload 1 3300"}));

  const char* name = nullptr;
  EXPECT_EQ(transfer(0x1008, 0, KCO_SDO_UPLOAD, KCO_TYPE_TEXT, &name), KCO_SDO_DONE);
  ASSERT_NE(name, nullptr);
  EXPECT_GT(std::string(name).size(), 4u) << name;  // longer than one expedited frame
  EXPECT_NE(std::string(name).find("RQ 730"), std::string::npos) << name;
  EXPECT_GE(countOf("> 601#60"), 1u) << "segments were requested";

  uint32_t missing = 0xDEADBEEF;
  std::optional<uint32_t> abortCode;
  master->engine.sdo(master->now(), kNode, 0x1234, 0, KCO_SDO_UPLOAD, KCO_TYPE_U32, &missing);
  master->onEvent = [&abortCode](const Event& event) {
    if (const auto* done = std::get_if<SdoCompleted>(&event)) abortCode = done->abortCode;
  };
  ASSERT_TRUE(runUntilLogged("! upload 1"));
  EXPECT_EQ(abortCode, 0x06020000u);
  EXPECT_EQ(lastTimeOf("! upload 1"), lastTimeOf("< 581#8034120000000206"));
  EXPECT_EQ(
      countOf("! " + testing::describe(SdoCompleted{kNode, SdoDirection::upload,
                                                    completionForAbort(0x06020000), 0x06020000})),
      1u);
  EXPECT_EQ(missing, 0xDEADBEEF);
  master->onEvent = nullptr;

  uint16_t heartbeatTime = 123;
  EXPECT_EQ(transfer(0x1017, 0, KCO_SDO_DOWNLOAD, KCO_TYPE_U16, &heartbeatTime), KCO_SDO_DONE);
  uint16_t readBack = 0;
  EXPECT_EQ(transfer(0x1017, 0, KCO_SDO_UPLOAD, KCO_TYPE_U16, &readBack), KCO_SDO_DONE);
  EXPECT_EQ(readBack, 123);
  // Nothing of it took time: the module answers at once.
  EXPECT_EQ(bus.elapsed(), 0ms);
}

TEST_F(LockStepTest, ASilentNodeTimesOutExactlyAtTheConfiguredTime) {
  start();
  bus.runFor(250ms);
  bus.takeLog();
  module->sim.faults().silentSdo = true;
  uint8_t unit = 0;
  EXPECT_EQ(transfer(0x3104, 0, KCO_SDO_UPLOAD, KCO_TYPE_U8, &unit), kSdoTimeout);
  EXPECT_EQ(bus.takeLog(),
            (std::vector<std::string>{"250 > 601#4004310000000000", "350 > 601#8004310000000405",
                                      "350 ! upload 1 3301"}));
  module->sim.faults().silentSdo = false;
  EXPECT_EQ(transfer(0x3104, 0, KCO_SDO_UPLOAD, KCO_TYPE_U8, &unit), KCO_SDO_DONE);
  EXPECT_EQ(unit, module->sim.options().parameters.unit);
}

TEST_F(LockStepTest, AReceivedPdoIsInTheVariablesBeforeItsReport) {
  start();
  int16_t weight = 0;
  uint16_t signature = 0;
  std::optional<int16_t> weightAtReport;
  const kcoPdoEntry table[] = {{2, &weight}, {2, &signature}, {0, nullptr}};
  ASSERT_EQ(master->engine.pdo(master->now(), kNode, 1, KCO_PDO_INSTALL, KCO_PDO_RECEIVE, table, 0),
            KCO_PDO_OK);
  master->onEvent = [&](const Event& event) {
    if (std::holds_alternative<PdoReceived>(event) && !weightAtReport) weightAtReport = weight;
  };
  ASSERT_EQ(master->engine.nmt(kNode, KCO_NMT_START), KCO_NMT_OK);
  ASSERT_TRUE(runUntilLogged("! pdorx 1 1"));
  master->onEvent = nullptr;
  EXPECT_EQ(timeOf("! pdorx 1 1"), timeOf("> 000#0101")) << "the PDO goes out once operational";
  EXPECT_EQ(weight, module->sim.legalWeight());
  EXPECT_EQ(weightAtReport, weight);
  EXPECT_NE(weight, 0);
}

TEST_F(LockStepTest, HeartbeatStateChangesAndAMissedBeatAtExactlyTheConsumerTime) {
  start();
  bus.takeLog();
  uint16_t producerTime = 20;
  ASSERT_EQ(transfer(0x1017, 0, KCO_SDO_DOWNLOAD, KCO_TYPE_U16, &producerTime), KCO_SDO_DONE);
  ASSERT_EQ(master->engine.heartbeat(master->now(), kNode, KCO_HEARTBEAT_ON, 100),
            KCO_HEARTBEAT_OK);
  bus.runFor(30ms);
  ASSERT_EQ(master->engine.nmt(kNode, KCO_NMT_START), KCO_NMT_OK);
  bus.runFor(15ms);
  ASSERT_EQ(master->engine.nmt(kNode, KCO_NMT_STOP), KCO_NMT_OK);
  bus.settle();
  bus.halt(kModule);  // the module falls silent after its last beat at 45 ms
  ASSERT_TRUE(runUntilLogged("! heartbeat 1 6202"));
  // (The module's transmit PDOs while operational are left out.)
  EXPECT_EQ(takeLogOf({"> ", "< 581#", "< 701#", "! "}),
            (std::vector<std::string>{
                "0 > 601#2B17100014000000",
                "0 < 581#6017100000000000",
                "0 ! download 1 3300",
                "0 ! heartbeat 1 6200 6300",  // waiting
                "20 < 701#7F",
                "20 ! heartbeat 1 6201 6303",  // running, pre-operational
                "30 > 000#0101",
                "30 < 701#05",
                "30 ! heartbeat 1 6201 6301",  // operational
                "45 > 000#0201",
                "45 < 701#04",
                "45 ! heartbeat 1 6201 6302",  // stopped
                "145.001 ! heartbeat 1 6202 6300",
            }));
}

TEST_F(LockStepTest, NodeGuardingUntilTheLifeTimeElapses) {
  start();
  bus.takeLog();
  ASSERT_EQ(master->engine.nodeGuard(master->now(), kNode, KCO_NODEGUARD_ON, 20, 3),
            KCO_NODEGUARD_OK);
  bus.runFor(30ms);
  ASSERT_EQ(master->engine.nmt(kNode, KCO_NMT_START), KCO_NMT_OK);
  bus.runFor(20ms);
  bus.halt(kModule);  // its last reply went out at 40 ms
  ASSERT_TRUE(runUntilLogged("! guard 1 5203"));
  EXPECT_EQ(takeLogOf({"> ", "< 701#", "! "}),
            (std::vector<std::string>{
                "0 ! guard 1 5201 5300",  // activated
                "0 > 701#R", "0 < 701#7F",
                "0 ! guard 1 5205 5303",  // pre-operational
                "20 > 701#R", "20 < 701#FF", "30 > 000#0101", "40 > 701#R", "40 < 701#05",
                "40 ! guard 1 5205 5301",  // operational
                "60 > 701#R", "80 > 701#R",
                "80 ! guard 1 5202 5300",  // the reply to 60 ms is missing
                "100 > 701#R",
                "100.001 ! guard 1 5203 5300",  // life time elapsed
            }));
}

TEST_F(LockStepTest, AnEmergencyCarriesTheErrorRegister) {
  start();
  bus.runFor(70ms);
  bus.takeLog();
  ASSERT_TRUE(module->sim.emcy(0x8110, 0x11));
  bus.settle();
  EXPECT_EQ(bus.takeLog(),
            (std::vector<std::string>{"70 < 081#1081110000000000", "70 ! emcy 1 11"}));
}

// Each case starts a timer in the network and names the moment it starts from; its report comes
// exactly its time after that moment, not one millisecond sooner.
struct TimeoutCase {
  const char* name;
  rq730sim::Options options;
  Duration sdoTimeout;
  // Sets the timer up; returns the moment it counts from (since the start).
  std::function<LockStep::Duration(LockStepTest&)> setUp;
  const char* report;
  LockStep::Duration after;
};

class TimeoutAt : public LockStepTest, public ::testing::WithParamInterface<TimeoutCase> {};

void PrintTo(const TimeoutCase& c, std::ostream* out) { *out << c.name; }

TEST_P(TimeoutAt, FiresAtItsDeadlineAndNotBefore) {
  const TimeoutCase& c = GetParam();
  start(c.options, c.sdoTimeout);
  bus.runFor(35ms);  // off the start, so that each time is its own
  const LockStep::Duration from = c.setUp(*this);
  const LockStep::Duration due = from + c.after;
  ASSERT_LT(bus.elapsed(), due - 1ms);
  bus.runFor(due - 1ms - bus.elapsed());
  EXPECT_FALSE(timeOf(c.report)) << "reported before its time";
  const std::optional<LockStep::Duration> at = runUntilLogged(c.report);
  ASSERT_TRUE(at) << "never reported";
  EXPECT_EQ(LockStep::formatTime(*at), LockStep::formatTime(due));
  bus.runFor(1s);
  EXPECT_EQ(countOf(c.report), 1u) << "reported again";
}

LockStep::Duration uploadSerial(LockStepTest& t) {
  static uint32_t serial = 0;
  t.master->engine.sdo(t.master->now(), kNode, 0x1018, 4, KCO_SDO_UPLOAD, KCO_TYPE_U32, &serial);
  return t.bus.elapsed();
}

rq730sim::Options with(const std::function<void(rq730sim::Options&)>& change) {
  rq730sim::Options options = moduleOptions();
  change(options);
  return options;
}

INSTANTIATE_TEST_SUITE_P(
    LockStep, TimeoutAt,
    ::testing::Values(
        TimeoutCase{"SdoTimeOutOf100ms", with([](auto& o) { o.faults.silentSdo = true; }), 100ms,
                    uploadSerial, "! upload 1 3301", 100ms},
        TimeoutCase{"SdoTimeOutOf1000ms", with([](auto& o) { o.faults.silentSdo = true; }), 1000ms,
                    uploadSerial, "! upload 1 3301", 1000ms},
        TimeoutCase{"SlowAnswerWithinTheTimeOut", with([](auto& o) { o.faults.sdoDelay = 60ms; }),
                    100ms, uploadSerial, "! upload 1 3300", 60ms},
        TimeoutCase{"SlowAnswerAfterTheTimeOut", with([](auto& o) { o.faults.sdoDelay = 150ms; }),
                    100ms, uploadSerial, "! upload 1 3301", 100ms},
        TimeoutCase{"HeartbeatConsumer", moduleOptions(), kStepTimeout,
                    [](LockStepTest& test) {
                      uint16_t producerTime = 30;
                      test.transfer(0x1017, 0, KCO_SDO_DOWNLOAD, KCO_TYPE_U16, &producerTime);
                      test.master->engine.heartbeat(test.master->now(), kNode, KCO_HEARTBEAT_ON,
                                                    70);
                      test.bus.runFor(100ms);
                      test.bus.halt(kModule);
                      return *test.lastTimeOf("< 701#");
                    },
                    "! heartbeat 1 6202", 70ms + 1us},
        TimeoutCase{"GuardingLifeTime", moduleOptions(), kStepTimeout,
                    [](LockStepTest& test) {
                      test.master->engine.nodeGuard(test.master->now(), kNode, KCO_NODEGUARD_ON, 25,
                                                    3);
                      test.bus.runFor(60ms);
                      test.bus.halt(kModule);
                      return *test.lastTimeOf("< 701#");
                    },
                    "! guard 1 5203", 75ms + 1us},
        TimeoutCase{
            "ModuleLifeGuarding", moduleOptions(), kStepTimeout,
            [](LockStepTest& test) {
              uint16_t guardTime = 25;
              uint8_t factor = 3;
              test.transfer(0x100C, 0, KCO_SDO_DOWNLOAD, KCO_TYPE_U16, &guardTime);
              test.transfer(0x100D, 0, KCO_SDO_DOWNLOAD, KCO_TYPE_U8, &factor);
              test.master->engine.nodeGuard(test.master->now(), kNode, KCO_NODEGUARD_ON, 25, 3);
              test.bus.runFor(60ms);
              // The master stops guarding; the module notices once its life time is
              // over (anything more than 75 ms after the last request).
              test.master->engine.nodeGuard(test.master->now(), kNode, KCO_NODEGUARD_OFF, 0, 0);
              return *test.lastTimeOf("> 701#R");
            },
            "! emcy 1 11", 75ms + 1ns}),
    [](const auto& param) { return std::string(param.param.name); });

// The whole system stands still for five minutes (a suspended process) with every timer of
// both sides running: afterwards each overdue timer fires once, at once, and the periodic ones
// go on at their period from then.
TEST_F(LockStepTest, ALongPauseMissesNoDeadlineAndFiresEachOnce) {
  rq730sim::Options options = moduleOptions();
  start(options);
  uint16_t producerTime = 20;
  ASSERT_EQ(transfer(0x1017, 0, KCO_SDO_DOWNLOAD, KCO_TYPE_U16, &producerTime), KCO_SDO_DONE);
  uint32_t value = 0x04030201;
  const kcoPdoEntry table[] = {{4, &value}, {0, nullptr}};
  ASSERT_EQ(master->engine.pdo(master->now(), kNode, 1, KCO_PDO_INSTALL, KCO_PDO_TRANSMIT, table,
                               250u << 16),
            KCO_PDO_OK);
  ASSERT_EQ(master->engine.heartbeat(master->now(), kNode, KCO_HEARTBEAT_ON, 100),
            KCO_HEARTBEAT_OK);
  ASSERT_EQ(master->engine.sync(master->now(), KCO_SYNC_ON, 40), KCO_SYNC_OK);
  ASSERT_EQ(master->engine.timestamp(master->now(), KCO_TIMESTAMP_ON, 70), KCO_TIMESTAMP_OK);
  bus.runFor(30ms);
  module->sim.faults().silentSdo = true;
  uint32_t serial = 0;
  ASSERT_EQ(
      master->engine.sdo(master->now(), kNode, 0x1018, 4, KCO_SDO_UPLOAD, KCO_TYPE_U32, &serial),
      KCO_SDO_ACCEPTED);
  bus.runFor(10ms);
  const LockStep::Duration before = bus.elapsed();
  const std::size_t mark = bus.log().size();

  bus.pause(5min);
  const LockStep::Duration resumed = before + 5min;
  ASSERT_EQ(bus.elapsed(), resumed);
  // At the instant of resuming: each overdue timer once.
  for (const auto& [text, count] : std::vector<std::pair<std::string, std::size_t>>{
           {"> 601#8018100400000405", 1},  // the transfer's time-out
           {"! upload 1 3301", 1},
           {"! heartbeat 1 6202", 1},  // the module's beats were missed ...
           {"< 701#7F", 1},            // ... and it beats once
           {"! heartbeat 1 6201", 1},  // so it runs again
           {"> 080#", 1},              // SYNC
           {"> 100#", 1},              // TIME
           {"> 201#01020304", 1},      // the transmit PDO
           {"! pdotx 1 1", 1},
       }) {
    EXPECT_EQ(countOf(text, mark), count) << text;
  }
  EXPECT_EQ(bus.log().back().at, resumed) << "all of it at once";
  // Then each periodic timer at its period from the resume.
  const std::size_t after = bus.log().size();
  bus.runFor(300ms);
  EXPECT_EQ(timeOf("> 080#", after), resumed + 40ms);
  EXPECT_EQ(timeOf("> 100#", after), resumed + 70ms);
  EXPECT_EQ(timeOf("> 201#", after), resumed + 250ms);
  EXPECT_EQ(timeOf("< 701#", after), resumed + 20ms);
  EXPECT_EQ(countOf("> 080#", after), 7u);   // 40, 80, ... 280
  EXPECT_EQ(countOf("< 701#", after), 15u);  // 20, 40, ... 300
  EXPECT_EQ(countOf("! heartbeat", after), 0u);
}

}  // namespace
}  // namespace canopen32
