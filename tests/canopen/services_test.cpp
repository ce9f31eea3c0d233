// Switching node guarding, heartbeat, SYNC and TIME: driver calls and failures.
#include "master_fixture.h"

TEST_F(MasterTest, SwitchesPassTheirArgumentsUnchanged) {
  StartNetwork();
  master->NODEGUARDon(3, 100, 3);
  master->NODEGUARDoff(3);
  master->HEARTBEATon(7, 40000);
  master->HEARTBEAToff(0);
  master->SYNCon(0);
  master->SYNCoff();
  master->TIMESTAMPon(5000);
  master->TIMESTAMPoff();
  const std::vector<fake_driver::Call> expected = {
      {"kcoNODEGUARD", {3, 0x5001, 100, 3}}, {"kcoNODEGUARD", {3, 0x5000, 0, 0}},
      {"kcoHEARTBEAT", {7, 0x6001, 40000}},  {"kcoHEARTBEAT", {0, 0x6000, 0}},
      {"kcoSYNC", {0x7001, 0}},              {"kcoSYNC", {0x7000, 0}},
      {"kcoTIMESTAMP", {0x8001, 5000}},      {"kcoTIMESTAMP", {0x8000, 0}}};
  EXPECT_EQ(fake_driver::calls(), expected);
}

TEST_F(MasterTest, RefusedSwitchesRaiseWithNodeOrWithout) {
  StartNetwork();
  fake_driver::setResult("kcoHEARTBEAT", 0x6105);
  try {
    master->HEARTBEATon(7, 40000);
    FAIL() << "accepted";
  } catch (const ECANopenException& e) {
    EXPECT_EQ(e.Id(), 7);
    EXPECT_EQ(e.Code(), 0x6105);
    EXPECT_EQ(e.Descr(), kcoGetText(0x6105));
  }
  fake_driver::setResult("kcoSYNC", 0x7105);
  try {
    master->SYNCoff();
    FAIL() << "accepted";
  } catch (const ECANopenException& e) {
    EXPECT_EQ(std::string(e.what()).rfind("CANopen exception (code 7105h). ", 0), 0U);
  }
  fake_driver::setResult("kcoNODEGUARD", 0x5105);
  EXPECT_THROW(master->NODEGUARDoff(1), ECANopenException);
  fake_driver::setResult("kcoTIMESTAMP", 0x8105);
  EXPECT_THROW(master->TIMESTAMPon(5000), ECANopenException);
}
