// The program's window end to end: the real driver library, the simulated module over the
// loopback bus, and the fake legal display to see what reaches it.
#include <QClipboard>
#include <QGuiApplication>
#include <QPushButton>
#include <cstdlib>

#include "form_fixture.h"
#include "com_link.h"
#include "sim_runner.h"

namespace {

std::string freshBus() {
  static int count = 0;
  return "loopback://form-sim-" + std::to_string(++count);
}

std::vector<std::string> legalCalls() {
  std::vector<std::string> names;
  for (const auto& call : fake_legal::calls()) names.push_back(call.function);
  return names;
}

const std::vector<std::string> kFullSetUp = {"Init",          "WriteSerialNumber",
                                             "WriteAdjustmentCounter", "WriteUnit",
                                             "WriteCapacity", "WriteChecksum",
                                             "WriteDivision"};

}  // namespace

class FormOnSimulator : public FormFixture {
 protected:
  void SetUp() override {
    bus = freshBus();
    setenv("CANOPEN32_CHANNELS", ("9=" + bus).c_str(), 1);
    setenv("CANOPEN32_SDO_TIMEOUT_MS", "300", 1);
    options.loadKg = 250.0;
    options.warmup = std::chrono::milliseconds(300);
    FormFixture::SetUp();
  }

  void TearDown() override {
    form.reset();
    sim.reset();
  }

  // Starts the module and the window; returns once the set-up has ended.
  void run() {
    sim = std::make_unique<SimRunner>(bus, options);
    start();
    ASSERT_TRUE(spinUntil([&] { return TFormMainProbe::RQ730Id(*form) == 1; }));
  }

  rq730sim::NmtState moduleState() {
    return sim->with<rq730sim::NmtState>([](rq730sim::Simulator& s) { return s.nmtState(); });
  }

  QString panel() const { return form->PanelWeight->text(); }

  std::string bus;
  rq730sim::Options options;
  std::unique_ptr<SimRunner> sim;
};

TEST_F(FormOnSimulator, WarmUpThenTheWeightOnPanelClipboardAndLegalDisplay) {
  run();
  EXPECT_EQ(legalCalls(), kFullSetUp);
  EXPECT_TRUE(spinUntil([&] { return moduleState() == rq730sim::NmtState::operational; }));
  EXPECT_EQ(form->StatusPanel0->text(), "K 4410.x pc interface");
  ASSERT_TRUE(spinUntil([&] { return panel() == "warm up..."; }));
  ASSERT_TRUE(spinUntil([&] { return panel() == "250 kg"; }));
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "250");
  ASSERT_TRUE(spinUntil([] { return fake_legal::calls().back().function == "WriteWeight"; }));
  EXPECT_EQ(fake_legal::calls().back().args[2], 250);  // legal value in 1 kg divisions
  EXPECT_TRUE(answerer.texts().isEmpty());
}

TEST_F(FormOnSimulator, ZeroBringsTheWeightToZero) {
  run();
  ASSERT_TRUE(spinUntil([&] { return panel() == "250 kg"; }));
  form->ButtonZero->click();
  ASSERT_TRUE(spinUntil([&] { return panel() == "0 kg"; }));
  sim->with([](rq730sim::Simulator& s) { s.setLoad(262.0); });
  ASSERT_TRUE(spinUntil([&] { return panel() == "12 kg"; }));
  EXPECT_TRUE(answerer.texts().isEmpty());
}

TEST_F(FormOnSimulator, ZeroAgainstASilentModuleEndsWithTheDriversTimeOut) {
  run();
  sim->with([](rq730sim::Simulator& s) { s.faults().silentSdo = true; });
  form->ButtonZero->click();
  ASSERT_TRUE(spinUntil([&] { return !answerer.texts().isEmpty(); }));
  EXPECT_TRUE(answerer.texts()[0].startsWith("CANopen exception (node id : 1 / code "));
  EXPECT_TRUE(answerer.texts()[0].contains("time-out")) << answerer.texts()[0].toStdString();
  EXPECT_TRUE(form->isVisible());
}

TEST_F(FormOnSimulator, MissingParameterStopsTheSetUpAtThatReadWithoutMessage) {
  options.faults.missingObjects = {0x3106};
  run();
  EXPECT_EQ(legalCalls(), (std::vector<std::string>(kFullSetUp.begin(), kFullSetUp.begin() + 4)));
  spinFor(100);
  EXPECT_EQ(moduleState(), rq730sim::NmtState::preOperational);
  EXPECT_TRUE(answerer.texts().isEmpty());
  EXPECT_TRUE(form->isVisible());
}

TEST_F(FormOnSimulator, FewerTransmitPdosAreIgnored) {
  options.faults.tpdoCount = 3;
  run();
  EXPECT_EQ(legalCalls(), kFullSetUp);
  EXPECT_TRUE(spinUntil([&] { return moduleState() == rq730sim::NmtState::operational; }));
}

TEST_F(FormOnSimulator, RejectedPdoConfigurationStopsBeforeAnyParameterRead) {
  options.faults.rejectPdoConfig = true;
  run();
  EXPECT_EQ(legalCalls(), std::vector<std::string>{"Init"});
  spinFor(100);
  EXPECT_EQ(moduleState(), rq730sim::NmtState::preOperational);
  EXPECT_TRUE(answerer.texts().isEmpty());
}

TEST_F(FormOnSimulator, LegalDisplayThatDoesNotStartLeavesTheModuleAlone) {
  fake_legal::setInitResult(false);
  sim = std::make_unique<SimRunner>(bus, options);
  start();
  ASSERT_TRUE(spinUntil([&] { return !form->isVisible(); }));
  EXPECT_EQ(answerer.texts(), QStringList{"Could not initialize software Q38!"});
  spinFor(100);
  EXPECT_EQ(moduleState(), rq730sim::NmtState::preOperational);
}

TEST_F(FormOnSimulator, EveryDisplayedWeightGoesToTheChosenPort) {
  ComLink com;
  if (!com.linked()) GTEST_SKIP() << "cannot create " << com.path();
  options.loadKg = 1234.5;  // shown as 1235 kg, sent as 1234 (ties to even)
  run();
  form->ComboBoxCom->setCurrentIndex(com.index());
  emit form->ComboBoxCom->activated(com.index());
  ASSERT_TRUE(spinUntil([&] { return panel() == "1235 kg"; }));
  const std::vector<uint8_t> one = {0x55, 0x55, 0x55, 0x55, 0x55, 0xAA, 0xAA, 0xD0, 0x00,
                                    0xD2, 0x04, 0xD0, 0x00, 0xD2, 0x04, 0x2A, 0x2A};
  // A constant load: the module repeats its weight every 500 ms (the PDO's event time).
  // The window must keep running meanwhile, so the port is read between event loop turns.
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(spinUntil([&] {
    const auto more = com.pty().read(0, std::chrono::milliseconds(0));
    bytes.insert(bytes.end(), more.begin(), more.end());
    return bytes.size() >= 2 * one.size();
  }));
  ASSERT_EQ(bytes.size() % one.size(), 0U);  // whole telegrams only
  for (std::size_t at = 0; at < bytes.size(); at += one.size()) {
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + static_cast<long>(at),
                                   bytes.begin() + static_cast<long>(at + one.size())),
              one);
  }
}
