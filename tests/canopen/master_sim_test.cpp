// The master on the real driver library, against the simulated module over the loopback bus.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "CANopenCallbacks.h"
#include "CANopenMaster.h"
#include "ExceptionReport.h"
#include "drivers/canopen.h"
#include "sim_runner.h"
#include "spin.h"

namespace {

constexpr uint8_t kNode = 1;

// A bus of its own for every test, so no frame of one test reaches the next.
std::string freshBus() {
  static int count = 0;
  return "loopback://master-sim-" + std::to_string(++count);
}

}  // namespace

class MasterOnSimulator : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string bus = freshBus();
    setenv("CANOPEN32_CHANNELS", ("9=" + bus).c_str(), 1);
    setenv("CANOPEN32_SDO_TIMEOUT_MS", "300", 1);
    rq730sim::Options options;
    options.nodeId = kNode;
    options.loadKg = 250.0;
    options.warmup = std::chrono::milliseconds(100);
    sim = std::make_unique<SimRunner>(bus, options);
    CANopenCallbacks().ClearQueues();
    SetExceptionReporter([this](const std::string& message) { reports.push_back(message); });
    master = std::make_unique<TCANopenMaster>();
    master->OnBOOT = [this](TCANopenMaster*, uint8_t& id) { booted.push_back(id); };
    master->SetHardware(haTovald_CAN_USB);
    master->Reset();
    ASSERT_TRUE(spinUntil([&] { return !booted.empty(); }));
  }

  void TearDown() override {
    master.reset();
    sim.reset();
    SetExceptionReporter(nullptr);
  }

  std::unique_ptr<SimRunner> sim;
  std::unique_ptr<TCANopenMaster> master;
  std::vector<int> booted;
  std::vector<std::string> reports;
};

TEST_F(MasterOnSimulator, ReadsTheSerialNumberAndTheDeviceName) {
  EXPECT_EQ(booted, std::vector<int>{kNode});
  uint32_t serial = 0;
  master->SDOupload(kNode, {0x1018, 4, KCO_TYPE_U32, &serial});
  EXPECT_EQ(serial, 73012345U);
  const char* name = nullptr;
  master->SDOupload(kNode, {0x1008, 0, KCO_TYPE_TEXT, &name});
  ASSERT_NE(name, nullptr);
  EXPECT_GT(std::strlen(name), 4U);  // a segmented transfer
}

TEST_F(MasterOnSimulator, RefusedDownloadRaisesWithTheModulesAbort) {
  uint8_t notZero = 1;
  try {
    master->SDOdownload(kNode, {0x2003, 0, KCO_TYPE_U8, &notZero});
    FAIL() << "download succeeded";
  } catch (const ECANopenException& e) {
    EXPECT_EQ(e.Id(), kNode);
    const std::string message = e.what();
    EXPECT_EQ(message.rfind("CANopen exception (node id : 1 / code ", 0), 0U) << message;
    EXPECT_NE(message.find("06090030"), std::string::npos) << message;
    EXPECT_EQ(e.Descr(), kcoGetText(e.Code()));
  }
}

TEST_F(MasterOnSimulator, InstalledPdoFillsTheVariablesBeforeTheEvent) {
  float weight = 0.0F;
  int16_t legal = 0;
  uint16_t signature = 0;
  std::vector<std::pair<int, float>> seen;
  master->OnPDOrx = [&](TCANopenMaster*, uint8_t& id, uint8_t& num) {
    if (num == 3) seen.emplace_back(id, weight);
  };
  master->NMT(kNode, KCO_NMT_PREOPERATIONAL);
  for (uint8_t num = 1; num <= 4; ++num) master->RxPDOuninstall(kNode, num, true);
  TPdoMappingParam mapping{};
  mapping[0] = {0x2100, 0, 2, &legal};
  mapping[1] = {0x2200, 0, 2, &signature};
  master->RxPDOinstall(kNode, 1, mapping, {255, 0, 1500}, true);
  mapping = {};
  mapping[0] = {0x3004, 0, 4, &weight};
  master->RxPDOinstall(kNode, 3, mapping, {255, 0, 100}, true);
  // Check mode against what was just written passes.
  master->RxPDOinstall(kNode, 3, mapping, {255, 0, 100}, false);
  master->NMT(kNode, KCO_NMT_START);
  ASSERT_TRUE(spinUntil([&] { return !seen.empty() && seen.back().second == 250.0F; }));
  EXPECT_EQ(seen.back().first, kNode);
  EXPECT_EQ(legal, 250);
}

TEST_F(MasterOnSimulator, HeartbeatAndGuardingReportTheirStates) {
  std::vector<std::pair<uint16_t, uint16_t>> heartbeats;
  std::vector<std::pair<uint16_t, uint16_t>> guarding;
  master->OnHEARTBEAT = [&](TCANopenMaster*, uint8_t&, uint16_t& state, uint16_t& nmt) {
    heartbeats.emplace_back(state, nmt);
  };
  master->OnNODEGUARD = [&](TCANopenMaster*, uint8_t&, uint16_t& state, uint16_t& nmt) {
    guarding.emplace_back(state, nmt);
  };
  uint16_t producerMs = 50;
  master->SDOdownload(kNode, {0x1017, 0, KCO_TYPE_U16, &producerMs});
  master->HEARTBEATon(kNode, 200);
  ASSERT_TRUE(spinUntil([&] {
    return !heartbeats.empty() && heartbeats.back() == std::pair<uint16_t, uint16_t>{
                                                           KCO_HEARTBEAT_RUNNING,
                                                           KCO_HEARTBEAT_NMT_PREOPERATIONAL};
  }));
  master->NMT(kNode, KCO_NMT_START);
  master->HEARTBEATon(kNode, 200);  // NMT start leaves supervision on; switching again is fine
  ASSERT_TRUE(spinUntil([&] {
    return heartbeats.back() == std::pair<uint16_t, uint16_t>{KCO_HEARTBEAT_RUNNING,
                                                              KCO_HEARTBEAT_NMT_OPERATIONAL};
  }));
  producerMs = 0;
  master->SDOdownload(kNode, {0x1017, 0, KCO_TYPE_U16, &producerMs});
  ASSERT_TRUE(spinUntil([&] { return heartbeats.back().first == KCO_HEARTBEAT_STOPPED; }));

  master->NODEGUARDon(kNode, 50, 3);
  ASSERT_TRUE(spinUntil([&] {
    return std::find(guarding.begin(), guarding.end(),
                     std::pair<uint16_t, uint16_t>{KCO_NODEGUARD_STATE_CHANGED,
                                                   KCO_NODEGUARD_NMT_OPERATIONAL}) !=
           guarding.end();
  }));
  EXPECT_EQ(guarding.front().first, KCO_NODEGUARD_ACTIVATED);
  EXPECT_TRUE(reports.empty());
}

TEST_F(MasterOnSimulator, SilentModuleEndsTheTransferWithTheDriversTimeOut) {
  sim->with([](rq730sim::Simulator& s) { s.faults().silentSdo = true; });
  uint32_t serial = 0;
  try {
    master->SDOupload(kNode, {0x1018, 4, KCO_TYPE_U32, &serial});
    FAIL() << "upload succeeded";
  } catch (const ECANopenException& e) {
    EXPECT_EQ(e.Id(), kNode);
    EXPECT_EQ(e.Descr(), kcoGetText(e.Code()));
    EXPECT_NE(std::string(e.what()).find("time"), std::string::npos) << e.what();
  }
}
