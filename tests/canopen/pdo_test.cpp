// PDO installation against the fake driver: the exact SDO steps in the node and the PDO in the
// driver with the caller's variables.
#include <cstdio>

#include "fake_node.h"
#include "master_fixture.h"

namespace {

// The driver calls of an installation in a compact notation:
//   "w 1A00/1 u32 21000010"  SDO download (value in hex)
//   "r 1800/3 u16"           SDO upload
//   "pdo 5/1 install rx 0"   kcoPDO (node/num, function, direction, value in hex)
std::vector<std::string> steps() {
  std::vector<std::string> out;
  char line[96];
  for (const fake_driver::Call& call : fake_driver::calls()) {
    const auto& a = call.args;
    if (call.function == "kcoSDO") {
      const char* type = a[4] == KCO_TYPE_U8 ? "u8" : a[4] == KCO_TYPE_U16 ? "u16" : "u32";
      if (a[3] == KCO_SDO_DOWNLOAD) {
        std::snprintf(line, sizeof line, "w %04X/%u %s %X", a[1], a[2], type, a[5]);
      } else {
        std::snprintf(line, sizeof line, "r %04X/%u %s", a[1], a[2], type);
      }
    } else if (call.function == "kcoPDO") {
      std::snprintf(line, sizeof line, "pdo %u/%u %s %s %X", a[0], a[1],
                    a[2] == KCO_PDO_INSTALL ? "install" : "remove",
                    a[3] == KCO_PDO_RECEIVE ? "rx" : "tx", a[4]);
    } else {
      std::snprintf(line, sizeof line, "%s", call.function.c_str());
    }
    out.emplace_back(line);
  }
  return out;
}

// The node's transmit PDO 1..5 and receive PDO 1..2 objects with the values a node powers up
// with.
void givePdoObjects(FakeNode& node) {
  for (uint16_t n = 0; n < 5; ++n) {
    for (const uint8_t sub : {1, 2, 3, 5}) {
      node.set(0x1800 + n, sub, 0);
      node.set(0x1400 + n, sub, 0);
    }
    for (uint8_t sub = 0; sub <= 8; ++sub) {
      node.set(0x1A00 + n, sub, 0);
      node.set(0x1600 + n, sub, 0);
    }
  }
}

}  // namespace

class PdoTest : public MasterTest {
 protected:
  void SetUp() override {
    MasterTest::SetUp();
    StartNetwork();
    givePdoObjects(node);
  }

  // Has the SDO server copy the first `count` entries of the driver table that the last kcoPDO
  // received, at the first SDO step after it: the table lives in the operation's own storage
  // and is gone once the operation returns.
  void captureTable(int count) {
    fake_driver::setSdoServer([this, count](uint8_t, uint16_t, uint8_t, uint16_t, uint16_t,
                                            void*) {
      if (table.empty()) {
        const auto* entries =
            static_cast<const kcoPdoEntry*>(fake_driver::callsOf("kcoPDO").back().data);
        for (int k = 0; k < count; ++k) {
          // Packed entries: copy the fields out instead of binding references to them.
          const int length = entries[k].length;
          void* const data = entries[k].data;
          table.emplace_back(length, data);
        }
      }
      return uint16_t{KCO_SDO_DONE};
    });
  }

  FakeNode node;
  int16_t weight = 0;
  uint16_t signature = 0;
  std::vector<std::pair<int, void*>> table;
};

namespace {

TPdoMappingParam weightMapping(int16_t& weight, uint16_t& signature) {
  TPdoMappingParam mapping{};
  mapping[0] = {0x2100, 0, 2, &weight};
  mapping[1] = {0x2200, 0, 2, &signature};
  return mapping;
}

}  // namespace

TEST_F(PdoTest, RxInstallConfiguresStepByStepAfterTheDriver) {
  master->RxPDOinstall(1, 1, weightMapping(weight, signature), {255, 0, 1500}, true);
  EXPECT_EQ(steps(), (std::vector<std::string>{
                         "pdo 1/1 install rx 0",
                         "w 1A00/0 u8 0",
                         "w 1A00/1 u32 21000010",
                         "w 1A00/2 u32 22000010",
                         "w 1A00/0 u8 2",
                         "w 1800/2 u8 FF",
                         "r 1800/3 u16",
                         "w 1800/3 u16 0",
                         "r 1800/5 u16",
                         "w 1800/5 u16 5DC",
                         "w 1800/1 u32 181",
                     }));
  EXPECT_EQ(node.get(0x1800, 1), 0x181U);
}

TEST_F(PdoTest, RxInstallHandsTheDriverTheVariablesWithAnEndEntry) {
  captureTable(3);
  master->RxPDOinstall(1, 1, weightMapping(weight, signature), {255, 0, 1500}, true);
  EXPECT_EQ(table, (std::vector<std::pair<int, void*>>{{2, &weight}, {2, &signature}, {0, nullptr}}));
  EXPECT_EQ(sizeof(kcoPdoEntry), 1 + sizeof(void*));
}

TEST_F(PdoTest, CheckModeReadsAndWritesNothing) {
  node.set(0x1A01, 1, 0x21000010);
  node.set(0x1A01, 2, 0x22000010);
  node.set(0x1801, 2, 255);
  node.set(0x1801, 5, 1500);
  master->RxPDOinstall(1, 2, weightMapping(weight, signature), {255, 0, 1500}, false);
  EXPECT_EQ(steps(), (std::vector<std::string>{
                         "pdo 1/2 install rx 0",
                         "r 1A01/1 u32",
                         "r 1A01/2 u32",
                         "r 1801/2 u8",
                         "r 1801/3 u16",
                         "r 1801/3 u16",
                         "r 1801/5 u16",
                         "r 1801/5 u16",
                     }));
}

TEST_F(PdoTest, CheckModeDifferencesRaiseTheirOwnCodes) {
  node.set(0x1A00, 1, 0x21000010);
  node.set(0x1A00, 2, 0x22000008);  // second entry differs
  try {
    master->RxPDOinstall(5, 1, weightMapping(weight, signature), {255, 0, 1500}, false);
    FAIL() << "check passed";
  } catch (const ECANopenException& e) {
    EXPECT_STREQ(e.what(),
                 "CANopen exception (node id : 5 / code A003h). Desired configuration differs "
                 "from actual TxPDO mapping parameter.");
  }
  node.set(0x1A00, 2, 0x22000010);
  node.set(0x1800, 2, 254);
  try {
    master->RxPDOinstall(5, 1, weightMapping(weight, signature), {255, 0, 1500}, false);
    FAIL() << "check passed";
  } catch (const ECANopenException& e) {
    EXPECT_EQ(e.Code(), 0xA004);
  }
  // Inhibit time and event timer never fail an installation, not even when lower.
  node.set(0x1800, 2, 255);
  node.set(0x1800, 5, 100);
  EXPECT_NO_THROW(master->RxPDOinstall(5, 1, weightMapping(weight, signature), {255, 0, 1500}, false));
}

TEST_F(PdoTest, EightEntriesAndAnEmptyMapping) {
  uint8_t bytes[8] = {};
  TPdoMappingParam full{};
  for (int k = 0; k < 8; ++k) full[k] = {static_cast<uint16_t>(0x2000 + k), 0, 1, &bytes[k]};
  captureTable(8);
  master->RxPDOinstall(1, 4, full, {255, 0, 0}, true);
  ASSERT_EQ(table.size(), 8U);  // eight entries and no room for an end entry
  for (int k = 0; k < 8; ++k) EXPECT_EQ(table[k], (std::pair<int, void*>{1, &bytes[k]}));
  auto s = steps();
  EXPECT_EQ(s[9], "w 1A03/8 u32 20070008");
  EXPECT_EQ(s[10], "w 1A03/0 u8 8");

  fake_driver::clearCalls();
  table.clear();
  TPdoMappingParam empty{};
  captureTable(1);
  master->RxPDOinstall(1, 1, empty, {255, 0, 0}, true);
  EXPECT_EQ(table, (std::vector<std::pair<int, void*>>{{0, nullptr}}));
  s = steps();
  EXPECT_EQ(s[1], "w 1A00/0 u8 0");
  EXPECT_EQ(s[2], "w 1A00/0 u8 0");
  EXPECT_EQ(s[3], "w 1800/2 u8 FF");
}

TEST_F(PdoTest, PdoNumberFiveUsesItsObjects) {
  master->RxPDOinstall(2, 5, weightMapping(weight, signature), {255, 0, 1500}, true);
  const auto s = steps();
  EXPECT_EQ(s[1], "w 1A04/0 u8 0");
  EXPECT_EQ(s.back(), "w 1804/1 u32 582");
}

TEST_F(PdoTest, MissingTimingObjectsDoNotStopTheInstallation) {
  node.remove(0x1800, 3);
  node.remove(0x1800, 5);
  EXPECT_NO_THROW(master->RxPDOinstall(1, 1, weightMapping(weight, signature), {255, 0, 1500}, true));
  EXPECT_EQ(steps().back(), "w 1800/1 u32 181");
}

TEST_F(PdoTest, RefusedByTheDriverLeavesTheNodeUntouched) {
  fake_driver::setResult("kcoPDO", 0x4201);
  try {
    master->RxPDOinstall(1, 1, weightMapping(weight, signature), {255, 0, 1500}, true);
    FAIL() << "install succeeded";
  } catch (const ECANopenException& e) {
    EXPECT_EQ(e.Code(), 0x4201);
    EXPECT_EQ(e.Id(), 1);
  }
  EXPECT_EQ(steps(), (std::vector<std::string>{"pdo 1/1 install rx 0"}));
}

TEST_F(PdoTest, RejectedConfigurationStopsAtThatStep) {
  node.remove(0x1A00, 1);  // the node refuses the first mapping entry
  EXPECT_THROW(master->RxPDOinstall(1, 1, weightMapping(weight, signature), {255, 0, 1500}, true),
               ECANopenException);
  EXPECT_EQ(steps().back(), "w 1A00/1 u32 21000010");
}

TEST_F(PdoTest, TxInstallConfiguresTheNodeFirstAndTheDriverLast) {
  master->TxPDOinstall(5, 2, weightMapping(weight, signature), {254, 10, 200}, true);
  EXPECT_EQ(steps(), (std::vector<std::string>{
                         "w 1601/0 u8 0",
                         "w 1601/1 u32 21000010",
                         "w 1601/2 u32 22000010",
                         "w 1601/0 u8 2",
                         "w 1401/2 u8 FE",
                         "w 1401/1 u32 305",
                         "pdo 5/2 install tx C8000A",
                     }));
}

TEST_F(PdoTest, TxInstallHandsTheDriverTheVariablesInBothModes) {
  node.set(0x1601, 1, 0x21000010);  // what the configuration writes, for the check to find
  node.set(0x1601, 2, 0x22000010);
  node.set(0x1401, 2, 254);
  struct Case {
    bool config;
    std::vector<std::string> steps;
  };
  const std::vector<Case> cases = {
      {true,
       {"w 1601/0 u8 0", "w 1601/1 u32 21000010", "w 1601/2 u32 22000010", "w 1601/0 u8 2",
        "w 1401/2 u8 FE", "w 1401/1 u32 305", "pdo 5/2 install tx C8000A"}},
      // Check mode reads the mapping entries and the transmission type back, and not the COB-ID.
      {false, {"r 1601/1 u32", "r 1601/2 u32", "r 1401/2 u8", "pdo 5/2 install tx C8000A"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.config ? "config" : "check");
    fake_driver::clearCalls();
    master->TxPDOinstall(5, 2, weightMapping(weight, signature), {254, 10, 200}, c.config);
    EXPECT_EQ(steps(), c.steps);
    EXPECT_EQ(fake_driver::lastPdoTable(),
              (std::vector<std::pair<int, void*>>{{2, &weight}, {2, &signature}, {0, nullptr}}));
  }
}

TEST_F(PdoTest, TxCheckModeDifferencesRaiseTheirOwnCodesBeforeTheDriverIsAsked) {
  const std::string prefix = "CANopen exception (node id : 5 / code ";
  struct Case {
    const char* name;
    uint16_t index;
    uint8_t subindex;
    uint32_t actual;
    uint16_t code;
    std::string message;
    std::vector<std::string> steps;
  };
  const std::vector<Case> cases = {
      {"first mapping entry",
       0x1601,
       1,
       0x21000008,
       0xA001,
       prefix + "A001h). Desired configuration differs from actual RxPDO mapping parameter.",
       {"r 1601/1 u32"}},
      {"second mapping entry",
       0x1601,
       2,
       0x22010010,
       0xA001,
       prefix + "A001h). Desired configuration differs from actual RxPDO mapping parameter.",
       {"r 1601/1 u32", "r 1601/2 u32"}},
      {"transmission type",
       0x1401,
       2,
       255,
       0xA002,
       prefix + "A002h). Desired configuration differs from actual RxPDO communication "
                "parameter (transmission type).",
       {"r 1601/1 u32", "r 1601/2 u32", "r 1401/2 u8"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    node.set(0x1601, 1, 0x21000010);
    node.set(0x1601, 2, 0x22000010);
    node.set(0x1401, 2, 254);
    node.set(c.index, c.subindex, c.actual);
    fake_driver::clearCalls();
    try {
      master->TxPDOinstall(5, 2, weightMapping(weight, signature), {254, 10, 200}, false);
      ADD_FAILURE() << "check passed";
    } catch (const ECANopenException& e) {
      EXPECT_EQ(e.Id(), 5);
      EXPECT_EQ(e.Code(), c.code);
      EXPECT_EQ(std::string(e.what()), c.message);
    }
    EXPECT_EQ(steps(), c.steps);
  }
}

TEST_F(PdoTest, TxInstallRefusedByTheDriverRaisesWithTheNodeConfigured) {
  fake_driver::setResult("kcoPDO", 0x4201);
  try {
    master->TxPDOinstall(5, 1, weightMapping(weight, signature), {254, 0, 0}, true);
    FAIL() << "install succeeded";
  } catch (const ECANopenException& e) {
    EXPECT_EQ(e.Id(), 5);
    EXPECT_EQ(e.Code(), 0x4201);
    EXPECT_EQ(e.Descr(), kcoGetText(0x4201));
  }
  EXPECT_EQ(node.get(0x1400, 1), 0x205U);
  EXPECT_EQ(steps().back(), "pdo 5/1 install tx 0");
}

TEST_F(PdoTest, UninstallRemovesFromTheDriverThenInvalidatesInTheNode) {
  master->RxPDOuninstall(5, 1, true);
  master->TxPDOuninstall(5, 3, true);
  master->RxPDOuninstall(6, 2, false);
  EXPECT_EQ(steps(), (std::vector<std::string>{
                         "pdo 5/1 remove rx 0",
                         "w 1800/1 u32 80000185",
                         "pdo 5/3 remove tx 0",
                         "w 1402/1 u32 80000405",
                         "pdo 6/2 remove rx 0",
                     }));
  // A refused removal is not examined; a failing invalidation raises.
  fake_driver::setResult("kcoPDO", 0x4201);
  node.remove(0x1803, 1);
  EXPECT_THROW(master->RxPDOuninstall(5, 4, true), ECANopenException);
}
