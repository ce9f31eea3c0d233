// SDO transfers of the master against the fake driver: the wait, the owner's event and the
// result check.
#include <future>

#include "fake_node.h"
#include "master_fixture.h"

namespace {

// Whether CANopenLock is free, seen from another thread (the lock is recursive, so the main
// thread could always take it again).
bool lockIsFree() {
  return std::async(std::launch::async, [] {
           const bool taken = CANopenLock().try_lock();
           if (taken) CANopenLock().unlock();
           return taken;
         }).get();
}

}  // namespace

class SdoTest : public MasterTest {
 protected:
  void SetUp() override {
    MasterTest::SetUp();
    StartNetwork();
    node.set(0x1018, 4, 0x12345678);
    node.set(0x2003, 0, 7);
  }
  FakeNode node;
};

TEST_F(SdoTest, UploadFillsTheVariableAndFiresTheEventWithTheLockReleased) {
  std::vector<std::pair<int, int>> events;
  bool freeInEvent = false;
  master->OnSDOupload = [&](TCANopenMaster*, uint8_t& id, uint16_t& err) {
    events.emplace_back(id, err);
    freeInEvent = lockIsFree();
  };
  uint32_t serial = 0;
  master->SDOupload(3, {0x1018, 4, KCO_TYPE_U32, &serial});
  EXPECT_EQ(serial, 0x12345678U);
  EXPECT_EQ(events, (std::vector<std::pair<int, int>>{{3, 0x3300}}));
  EXPECT_TRUE(freeInEvent);
  EXPECT_FALSE(CANopenCallbacks().SDOuploadDone.done);
  const auto sdo = fake_driver::callsOf("kcoSDO");
  ASSERT_EQ(sdo.size(), 1U);
  EXPECT_EQ(sdo[0].args, (std::vector<uint32_t>{3, 0x1018, 4, 0x3100, 0x3005}));
  EXPECT_EQ(sdo[0].data, &serial);
}

TEST_F(SdoTest, FailedDownloadFiresTheEventThenRaisesWithTheDriversText) {
  std::vector<std::pair<int, int>> events;
  master->OnSDOdownload = [&](TCANopenMaster*, uint8_t& id, uint16_t& err) {
    events.emplace_back(id, err);
  };
  uint8_t zero = 0;
  try {
    master->SDOdownload(4, {0x2004, 0, KCO_TYPE_U8, &zero});
    FAIL() << "download succeeded";
  } catch (const ECANopenException& e) {
    EXPECT_EQ(e.Id(), 4);
    EXPECT_EQ(e.Code(), FakeNode::kAbortCode);
    EXPECT_EQ(std::string(e.what()), std::string("CANopen exception (node id : 4 / code 3399h). ") +
                                         kcoGetText(FakeNode::kAbortCode));
  }
  EXPECT_EQ(events, (std::vector<std::pair<int, int>>{{4, FakeNode::kAbortCode}}));
  EXPECT_TRUE(lockIsFree());
}

TEST_F(SdoTest, RefusedRequestRaisesAtOnceAndFiresNothing) {
  int events = 0;
  master->OnSDOupload = [&](TCANopenMaster*, uint8_t&, uint16_t&) { ++events; };
  fake_driver::setResult("kcoSDO", 0x3201);
  uint16_t value = 0;
  try {
    master->SDOupload(6, {0x3107, 0, KCO_TYPE_U16, &value});
    FAIL() << "upload succeeded";
  } catch (const ECANopenException& e) {
    EXPECT_EQ(e.Id(), 6);
    EXPECT_EQ(e.Code(), 0x3201);
  }
  EXPECT_EQ(events, 0);
  EXPECT_EQ(fake_driver::loopCount(), 0);  // no wait for a completion that never comes
  EXPECT_TRUE(lockIsFree());
  fake_driver::setResult("kcoSDO", KCO_SDO_ACCEPTED);
  uint32_t serial = 0;
  master->SDOupload(6, {0x1018, 4, KCO_TYPE_U32, &serial});
  EXPECT_EQ(serial, 0x12345678U);
}

TEST_F(SdoTest, OwnerHandlerDecidesWhatTheTransferReports) {
  uint16_t value = 0;
  master->OnSDOupload = [](TCANopenMaster*, uint8_t&, uint16_t& err) { err = KCO_SDO_DONE; };
  EXPECT_NO_THROW(master->SDOupload(2, {0x5000, 0, KCO_TYPE_U16, &value}));

  master->OnSDOupload = [](TCANopenMaster*, uint8_t& id, uint16_t&) { id = 99; };
  try {
    master->SDOupload(2, {0x5000, 0, KCO_TYPE_U16, &value});
    FAIL() << "upload succeeded";
  } catch (const ECANopenException& e) {
    EXPECT_EQ(e.Id(), 99);
  }
}

TEST_F(SdoTest, CompletionForAnotherNodeIsReportedWithThatNode) {
  fake_driver::setSdoCompletionNode(9);
  uint8_t received = 0;
  master->OnSDOupload = [&](TCANopenMaster*, uint8_t& id, uint16_t&) { received = id; };
  uint16_t value = 0;
  try {
    master->SDOupload(2, {0x5000, 0, KCO_TYPE_U16, &value});
    FAIL() << "upload succeeded";
  } catch (const ECANopenException& e) {
    EXPECT_EQ(e.Id(), 9);
  }
  EXPECT_EQ(received, 9);
}

TEST_F(SdoTest, TransferStartedInsideTheOwnersEventLeavesItsResultForTheOuterOne) {
  int uploads = 0;
  uint32_t serial = 0;
  master->OnSDOupload = [&](TCANopenMaster* sender, uint8_t&, uint16_t&) {
    if (uploads++ > 0) return;
    // The outer upload failed; this inner one succeeds and leaves node 8 and success behind.
    sender->SDOupload(8, {0x1018, 4, KCO_TYPE_U32, &serial});
  };
  uint16_t missing = 0;
  EXPECT_NO_THROW(master->SDOupload(3, {0x5000, 0, KCO_TYPE_U16, &missing}));
  EXPECT_EQ(serial, 0x12345678U);
  EXPECT_EQ(uploads, 2);
  EXPECT_EQ(CANopenCallbacks().SDOuploadDone.id, 8);

  // An inner transfer that raises ends the outer one with its exception.
  uploads = 0;
  master->OnSDOupload = [&](TCANopenMaster* sender, uint8_t&, uint16_t&) {
    if (uploads++ > 0) return;
    uint8_t one = 1;
    sender->SDOdownload(8, {0x2004, 0, KCO_TYPE_U8, &one});
  };
  try {
    master->SDOupload(3, {0x1018, 4, KCO_TYPE_U32, &serial});
    FAIL() << "upload succeeded";
  } catch (const ECANopenException& e) {
    EXPECT_EQ(e.Id(), 8);
    EXPECT_EQ(e.Code(), FakeNode::kAbortCode);
  }
}

TEST_F(SdoTest, RecordsArrivingDuringTheWaitAreDeliveredLaterInOrder) {
  std::vector<std::string> seen;
  master->OnPDOrx = [&](TCANopenMaster*, uint8_t& id, uint8_t& num) {
    seen.push_back(std::to_string(id) + "/" + std::to_string(num));
  };
  fake_driver::onNextLoop([] {
    fake_driver::callbacks().pdoReceived(1, 1);
    fake_driver::callbacks().pdoReceived(1, 2);
  });
  uint32_t serial = 0;
  master->SDOupload(1, {0x1018, 4, KCO_TYPE_U32, &serial});
  EXPECT_TRUE(seen.empty());
  ASSERT_TRUE(spinUntil([&] { return seen.size() == 2; }));
  EXPECT_EQ(seen, (std::vector<std::string>{"1/1", "1/2"}));
}

TEST_F(SdoTest, BootUpReadsTheDeviceNameFirst) {
  node.setName("RQ 730 sim");
  std::vector<std::string> order;
  master->OnSDOupload = [&](TCANopenMaster*, uint8_t& id, uint16_t&) {
    order.push_back("sdo:" + std::to_string(id));
  };
  master->OnBOOT = [&](TCANopenMaster*, uint8_t& id) { order.push_back("boot:" + std::to_string(id)); };
  fake_driver::onNextLoop([] { fake_driver::callbacks().boot(5); });
  ASSERT_TRUE(spinUntil([&] { return order.size() == 2; }));
  EXPECT_EQ(order, (std::vector<std::string>{"sdo:5", "boot:5"}));
  const auto sdo = fake_driver::callsOf("kcoSDO");
  ASSERT_EQ(sdo.size(), 1U);
  EXPECT_EQ(sdo[0].args, (std::vector<uint32_t>{5, 0x1008, 0, 0x3100, 0x3007}));
}

TEST_F(SdoTest, BootUpStillDeliveredWhenTheNameReadFails) {
  fake_driver::setResult("kcoSDO", 0x3201);
  std::vector<int> boots;
  master->OnBOOT = [&](TCANopenMaster*, uint8_t& id) { boots.push_back(id); };
  fake_driver::onNextLoop([] { fake_driver::callbacks().boot(5); });
  ASSERT_TRUE(spinUntil([&] { return !boots.empty(); }));
  EXPECT_EQ(boots, std::vector<int>{5});
  EXPECT_TRUE(reports.empty());
}
