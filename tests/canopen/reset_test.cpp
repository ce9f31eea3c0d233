// Network start-up and NMT against the recording fake driver.
#include "master_fixture.h"

using fake_driver::Call;
using fake_driver::callsOf;

namespace {

int countCalls(const std::string& function) { return static_cast<int>(callsOf(function).size()); }

}  // namespace

TEST_F(MasterTest, DefaultsAndVersion) {
  EXPECT_EQ(master->Hardware(), haAutoSearch);
  EXPECT_EQ(master->Bitrate(), br500kBit);
  EXPECT_FALSE(master->ExtendedId());
  master->SetVersion(7);
  EXPECT_EQ(master->GetVersion(), 2000);
}

TEST_F(MasterTest, ResetWithDefaultsTakesFirstInterfaceOfSearchAndSwitchesEverythingOff) {
  master->Reset();

  const auto inits = callsOf("kcoInit");
  ASSERT_EQ(inits.size(), 1U);
  EXPECT_EQ(inits[0].args, (std::vector<uint32_t>{8, 500000, 0}));
  EXPECT_NE(fake_driver::callbacks().boot, nullptr);

  // 127 nodes x 4 PDOs x 2 directions in Reset, the same again in the broadcast reset node.
  EXPECT_EQ(countCalls("kcoPDO"), 2 * 1016);
  EXPECT_EQ(countCalls("kcoHEARTBEAT"), 2 * 127);
  EXPECT_EQ(countCalls("kcoNODEGUARD"), 2 * 127);
  ASSERT_EQ(countCalls("kcoNMT"), 1);
  EXPECT_EQ(callsOf("kcoNMT")[0].args, (std::vector<uint32_t>{0, 0x2003}));

  // Order inside Reset: all transmit PDOs, then all receive PDOs, then heartbeats, then
  // guarding, then the reset-node broadcast.
  const auto& all = fake_driver::calls();
  EXPECT_EQ(all[1], (Call{"kcoPDO", {1, 1, 0x4000, 0x4101, 0}}));
  EXPECT_EQ(all[508], (Call{"kcoPDO", {127, 4, 0x4000, 0x4101, 0}}));
  EXPECT_EQ(all[509], (Call{"kcoPDO", {1, 1, 0x4000, 0x4100, 0}}));
  EXPECT_EQ(all[1017], (Call{"kcoHEARTBEAT", {1, 0x6000, 0}}));
  EXPECT_EQ(all[1144], (Call{"kcoNODEGUARD", {1, 0x5000, 0, 0}}));
  EXPECT_EQ(all[1271], (Call{"kcoNMT", {0, 0x2003}}));
}

TEST_F(MasterTest, AutoSearchTriesCodesInOrderUntilOneAnswers) {
  for (const uint8_t code : {8, 9, 3, 4}) fake_driver::setInitResult(code, 0x1001);
  master->Reset();
  std::vector<uint32_t> tried;
  for (const Call& call : callsOf("kcoInit")) tried.push_back(call.args[0]);
  EXPECT_EQ(tried, (std::vector<uint32_t>{8, 9, 3, 4, 5}));
  EXPECT_EQ(master->Hardware(), haAutoSearch);
}

TEST_F(MasterTest, AutoSearchWithoutAnyInterfaceRaisesNoCanHardwareAndStaysParked) {
  for (uint8_t code = 1; code <= 9; ++code) fake_driver::setInitResult(code, 0x1001);
  try {
    master->Reset();
    FAIL() << "Reset succeeded";
  } catch (const ECANopenException& e) {
    EXPECT_EQ(e.Id(), 0);
    EXPECT_EQ(e.Code(), 0xA00A);
    EXPECT_STREQ(e.what(), "CANopen exception (code A00Ah). No CAN hardware found.");
  }
  std::vector<uint32_t> tried;
  for (const Call& call : callsOf("kcoInit")) tried.push_back(call.args[0]);
  EXPECT_EQ(tried, (std::vector<uint32_t>{8, 9, 3, 4, 5, 6, 7}));  // never the virtual channels
  EXPECT_EQ(fake_driver::calls().size(), 7U);                       // nothing else was called
  spinFor(30);
  EXPECT_EQ(fake_driver::loopCount(), 0);
}

TEST_F(MasterTest, ExplicitInterfaceFailureRaisesTheDriversCodeAndText) {
  master->SetHardware(haVector_virtual_channel1);
  master->SetBitrate(static_cast<TCANopenBitrate>(42));  // outside the enumeration: 0 bit/s
  master->SetExtendedId(true);
  fake_driver::setInitResult(1, 0x1003);
  try {
    master->Reset();
    FAIL() << "Reset succeeded";
  } catch (const ECANopenException& e) {
    EXPECT_EQ(e.Id(), 0);
    EXPECT_EQ(e.Code(), 0x1003);
    EXPECT_EQ(e.Descr(), kcoGetText(0x1003));
  }
  ASSERT_EQ(callsOf("kcoInit").size(), 1U);
  EXPECT_EQ(callsOf("kcoInit")[0].args, (std::vector<uint32_t>{1, 0, 1}));
}

TEST_F(MasterTest, FailedResetBroadcastStillSucceeds) {
  fake_driver::setResult("kcoNMT", 0x2101);
  EXPECT_NO_THROW(master->Reset());
  EXPECT_EQ(countCalls("kcoPDO"), 1016);  // no switch-off for a refused command
}

struct NmtCase {
  uint16_t state;
  bool switchesOff;
};

void PrintTo(const NmtCase& c, std::ostream* out) { *out << "NMT command 0x" << std::hex << c.state; }

class NmtSwitchOff : public MasterTest, public ::testing::WithParamInterface<NmtCase> {};

TEST_P(NmtSwitchOff, OneNode) {
  StartNetwork();
  master->NMT(5, GetParam().state);
  const auto& all = fake_driver::calls();
  ASSERT_EQ(all[0], (Call{"kcoNMT", {5, GetParam().state}}));
  if (!GetParam().switchesOff) {
    EXPECT_EQ(all.size(), 1U);
    return;
  }
  ASSERT_EQ(all.size(), 11U);
  for (uint32_t num = 1; num <= 4; ++num) {
    EXPECT_EQ(all[num], (Call{"kcoPDO", {5, num, 0x4000, 0x4101, 0}}));
    EXPECT_EQ(all[4 + num], (Call{"kcoPDO", {5, num, 0x4000, 0x4100, 0}}));
  }
  EXPECT_EQ(all[9], (Call{"kcoHEARTBEAT", {5, 0x6000, 0}}));
  EXPECT_EQ(all[10], (Call{"kcoNODEGUARD", {5, 0x5000, 0, 0}}));
}

INSTANTIATE_TEST_SUITE_P(Commands, NmtSwitchOff,
                         ::testing::Values(NmtCase{0x2000, false}, NmtCase{0x2001, true},
                                           NmtCase{0x2002, false}, NmtCase{0x2003, true},
                                           NmtCase{0x2004, true}, NmtCase{0x2005, false}),
                         [](const auto& test) { return "state" + std::to_string(test.param.state); });

TEST_F(MasterTest, NmtBroadcastStopSwitchesOffEveryNodeInNodeOrder) {
  StartNetwork();
  master->NMT(0, 0x2001);
  const auto& all = fake_driver::calls();
  ASSERT_EQ(all.size(), 1U + 127U * 10U);
  EXPECT_EQ(all[1], (Call{"kcoPDO", {1, 1, 0x4000, 0x4101, 0}}));
  EXPECT_EQ(all[11], (Call{"kcoPDO", {2, 1, 0x4000, 0x4101, 0}}));
  EXPECT_EQ(all.back(), (Call{"kcoNODEGUARD", {127, 0x5000, 0, 0}}));
}

TEST_F(MasterTest, NmtRefusedRaisesWithNodeAndDriverTextAndSwitchesNothingOff) {
  StartNetwork();
  fake_driver::setResult("kcoNMT", 0x2105);
  try {
    master->NMT(9, 0x2001);
    FAIL() << "NMT succeeded";
  } catch (const ECANopenException& e) {
    EXPECT_EQ(e.Id(), 9);
    EXPECT_EQ(e.Code(), 0x2105);
    EXPECT_EQ(std::string(e.what()),
              std::string("CANopen exception (node id : 9 / code 2105h). ") + kcoGetText(0x2105));
  }
  EXPECT_EQ(fake_driver::calls().size(), 1U);
  fake_driver::setResult("kcoNMT", 0x2106);
  try {
    master->NMT(0, 0x2000);
    FAIL() << "NMT succeeded";
  } catch (const ECANopenException& e) {
    EXPECT_EQ(std::string(e.what()).rfind("CANopen exception (code 2106h). ", 0), 0U);
  }
}
