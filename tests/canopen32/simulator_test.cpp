// The driver library (its C functions) against the simulated RQ 730 over the loopback bus. Both
// run on the test's thread with the real clock; every wait ends as soon as its report comes and
// has a generous bound.
#include "rq730sim/channel_adapter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "canbus/loopback_bus.h"
#include "codes.h"
#include "drivers/canopen.h"
#include "sdo_abort.h"

namespace {

struct Report {
  std::string kind;
  unsigned node;
  unsigned a;
  unsigned b;
};
std::vector<Report> reports;
int16_t* watchedWeight = nullptr;
int16_t weightAtCallback = 0;

void onUpload(uint8_t node, uint16_t code) { reports.push_back({"upload", node, code, 0}); }
void onDownload(uint8_t node, uint16_t code) { reports.push_back({"download", node, code, 0}); }
void onPdoRx(uint8_t node, uint8_t num) {
  if (watchedWeight) weightAtCallback = *watchedWeight;
  reports.push_back({"pdorx", node, num, 0});
}
void onPdoTx(uint8_t node, uint8_t num) { reports.push_back({"pdotx", node, num, 0}); }
void onGuard(uint8_t node, uint16_t state, uint16_t nmt) {
  reports.push_back({"guard", node, state, nmt});
}
void onHeartbeat(uint8_t node, uint16_t state, uint16_t nmt) {
  reports.push_back({"heartbeat", node, state, nmt});
}
void onEmcy(uint8_t node, uint8_t err) { reports.push_back({"emcy", node, err, 0}); }
void onBoot(uint8_t node) { reports.push_back({"boot", node, node, 0}); }

class AgainstSimulator : public ::testing::Test {
 protected:
  void SetUp() override {
    reports.clear();
    ::setenv("CANOPEN32_CHANNELS", "9=loopback://module", 1);
    ::setenv("CANOPEN32_SDO_TIMEOUT_MS", "100", 1);
    ASSERT_EQ(kcoInit(9, 500000, 0, onUpload, onDownload, onPdoRx, onPdoTx, onGuard, onHeartbeat,
                      onEmcy, onBoot),
              KCO_INIT_OK);
    rq730sim::Options options;
    options.warmup = std::chrono::milliseconds(0);
    options.loadKg = 150.0;
    sim = std::make_unique<rq730sim::ChannelAdapter>(canbus::openLoopback("module"), options);
    ASSERT_TRUE(waitFor([] { return find("boot", 1).has_value(); }));
  }

  void pump() {
    if (simulatorRuns) sim->poll(std::chrono::steady_clock::now());
    kcoLoop();
  }
  // Pumps until the condition holds; false after the bound.
  bool waitFor(const std::function<bool()>& condition) {
    const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
      if (std::chrono::steady_clock::now() > bound) return false;
      pump();
    }
    return true;
  }
  static std::optional<Report> find(const std::string& kind, unsigned a, unsigned b = ~0u) {
    for (const Report& report : reports) {
      if (report.kind == kind && report.a == a && (b == ~0u || report.b == b)) return report;
    }
    return std::nullopt;
  }
  // Runs one SDO transfer to its end; the completion code.
  unsigned transfer(uint16_t index, uint8_t subindex, uint16_t function, uint16_t type,
                    void* data) {
    const std::string kind = function == KCO_SDO_UPLOAD ? "upload" : "download";
    const uint16_t accepted = kcoSDO(1, index, subindex, function, type, data);
    if (accepted != KCO_SDO_ACCEPTED) return accepted;
    const size_t before = reports.size();
    unsigned code = 0;
    EXPECT_TRUE(waitFor([&] {
      for (size_t i = before; i < reports.size(); ++i) {
        if (reports[i].kind == kind) {
          code = reports[i].a;
          return true;
        }
      }
      return false;
    }));
    return code;
  }

  std::unique_ptr<rq730sim::ChannelAdapter> sim;
  bool simulatorRuns = true;
};

TEST_F(AgainstSimulator, ExpeditedAndSegmentedUploadsAndAnAbort) {
  uint32_t serial = 0;
  EXPECT_EQ(transfer(0x1018, 4, KCO_SDO_UPLOAD, KCO_TYPE_U32, &serial), KCO_SDO_DONE);
  EXPECT_EQ(serial, sim->simulator().options().parameters.serialNumber);

  const char* name = nullptr;
  EXPECT_EQ(transfer(0x1008, 0, KCO_SDO_UPLOAD, KCO_TYPE_TEXT, &name), KCO_SDO_DONE);
  ASSERT_NE(name, nullptr);
  EXPECT_GT(std::string(name).size(), 4u) << name;  // longer than one expedited frame
  EXPECT_NE(std::string(name).find("RQ 730"), std::string::npos) << name;

  uint32_t missing = 0xDEADBEEF;
  const unsigned code = transfer(0x1234, 0, KCO_SDO_UPLOAD, KCO_TYPE_U32, &missing);
  EXPECT_EQ(code, canopen32::completionForAbort(0x06020000));
  EXPECT_STREQ(kcoGetText(static_cast<uint16_t>(code)),
               "SDO abort 0x06020000: object does not exist in the object dictionary");
  EXPECT_EQ(missing, 0xDEADBEEF);

  uint16_t heartbeatTime = 123;
  EXPECT_EQ(transfer(0x1017, 0, KCO_SDO_DOWNLOAD, KCO_TYPE_U16, &heartbeatTime), KCO_SDO_DONE);
  uint16_t readBack = 0;
  EXPECT_EQ(transfer(0x1017, 0, KCO_SDO_UPLOAD, KCO_TYPE_U16, &readBack), KCO_SDO_DONE);
  EXPECT_EQ(readBack, 123);
}

TEST_F(AgainstSimulator, SilentNodeTimesOut) {
  sim->simulator().faults().silentSdo = true;
  uint8_t unit = 0;
  EXPECT_EQ(transfer(0x3104, 0, KCO_SDO_UPLOAD, KCO_TYPE_U8, &unit), canopen32::kSdoTimeout);
  sim->simulator().faults().silentSdo = false;
  EXPECT_EQ(transfer(0x3104, 0, KCO_SDO_UPLOAD, KCO_TYPE_U8, &unit), KCO_SDO_DONE);
}

TEST_F(AgainstSimulator, ReceivedPdoLandsInTheVariablesBeforeItsCallback) {
  int16_t weight = 0;
  uint16_t signature = 0;
  watchedWeight = &weight;
  const kcoPdoEntry table[] = {{2, &weight}, {2, &signature}, {0, nullptr}};
  ASSERT_EQ(kcoPDO(1, 1, KCO_PDO_INSTALL, KCO_PDO_RECEIVE, table, 0), KCO_PDO_OK);
  ASSERT_EQ(kcoNMT(1, KCO_NMT_START), KCO_NMT_OK);
  ASSERT_TRUE(waitFor([] { return find("pdorx", 1).has_value(); }));
  EXPECT_EQ(weight, sim->simulator().legalWeight());
  EXPECT_EQ(weightAtCallback, weight);
  EXPECT_NE(weight, 0);
  watchedWeight = nullptr;
}

TEST_F(AgainstSimulator, HeartbeatStateChanges) {
  uint16_t producerTime = 20;
  ASSERT_EQ(transfer(0x1017, 0, KCO_SDO_DOWNLOAD, KCO_TYPE_U16, &producerTime), KCO_SDO_DONE);
  ASSERT_EQ(kcoHEARTBEAT(1, KCO_HEARTBEAT_ON, 100), KCO_HEARTBEAT_OK);
  EXPECT_TRUE(waitFor([] { return find("heartbeat", KCO_HEARTBEAT_WAITING).has_value(); }));
  EXPECT_TRUE(waitFor([] {
    return find("heartbeat", KCO_HEARTBEAT_RUNNING, KCO_HEARTBEAT_NMT_PREOPERATIONAL).has_value();
  }));
  ASSERT_EQ(kcoNMT(1, KCO_NMT_START), KCO_NMT_OK);
  EXPECT_TRUE(waitFor([] {
    return find("heartbeat", KCO_HEARTBEAT_RUNNING, KCO_HEARTBEAT_NMT_OPERATIONAL).has_value();
  }));
  ASSERT_EQ(kcoNMT(1, KCO_NMT_STOP), KCO_NMT_OK);
  EXPECT_TRUE(waitFor([] {
    return find("heartbeat", KCO_HEARTBEAT_RUNNING, KCO_HEARTBEAT_NMT_STOPPED).has_value();
  }));
  simulatorRuns = false;  // the module falls silent
  EXPECT_TRUE(waitFor([] { return find("heartbeat", KCO_HEARTBEAT_STOPPED).has_value(); }));
}

TEST_F(AgainstSimulator, NodeGuarding) {
  ASSERT_EQ(kcoNODEGUARD(1, KCO_NODEGUARD_ON, 20, 3), KCO_NODEGUARD_OK);
  EXPECT_TRUE(waitFor([] {
    return find("guard", KCO_NODEGUARD_STATE_CHANGED, KCO_NODEGUARD_NMT_PREOPERATIONAL).has_value();
  }));
  ASSERT_EQ(kcoNMT(1, KCO_NMT_START), KCO_NMT_OK);
  EXPECT_TRUE(waitFor([] {
    return find("guard", KCO_NODEGUARD_STATE_CHANGED, KCO_NODEGUARD_NMT_OPERATIONAL).has_value();
  }));
  EXPECT_FALSE(find("guard", KCO_NODEGUARD_TOGGLE_ERROR));
  simulatorRuns = false;
  EXPECT_TRUE(waitFor([] { return find("guard", KCO_NODEGUARD_LIFE_TIME_ELAPSED).has_value(); }));
  EXPECT_TRUE(find("guard", KCO_NODEGUARD_RESPONSE_MISSED));
}

TEST_F(AgainstSimulator, EmergencyReportsTheErrorRegister) {
  ASSERT_TRUE(sim->simulator().emcy(0x8110, 0x11));
  EXPECT_TRUE(waitFor([] { return find("emcy", 0x11).has_value(); }));
}

}  // namespace
