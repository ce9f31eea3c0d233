// The worker thread and the event pump: delivery order, one record per queue and pump, busy
// flags, Halt, Reset, failing handlers and Destroy. Runs under ThreadSanitizer too.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "master_fixture.h"

namespace {

// What the owner's handlers saw, in order, as "kind:id" (e.g. "boot:3", "rx:1/3").
struct Delivery {
  std::vector<std::string> events;
  std::vector<int> loopAtEvent;  // the driver loop count when each event arrived
};

}  // namespace

class PumpTest : public MasterTest {
 protected:
  void SetUp() override {
    MasterTest::SetUp();
    master->OnBOOT = [this](TCANopenMaster*, uint8_t& id) { note("boot:" + std::to_string(id)); };
    master->OnPDOrx = [this](TCANopenMaster*, uint8_t& id, uint8_t& num) {
      note("rx:" + std::to_string(id) + "/" + std::to_string(num));
    };
  }

  void note(const std::string& event) {
    delivered.events.push_back(event);
    delivered.loopAtEvent.push_back(fake_driver::loopCount());
  }

  // Queues records as the driver would, inside the next kcoLoop.
  static void driverReports(std::function<void(const fake_driver::Callbacks&)> report) {
    fake_driver::onNextLoop([report] { report(fake_driver::callbacks()); });
  }

  Delivery delivered;
};

TEST_F(PumpTest, NothingIsPumpedBeforeAResetSucceeded) {
  spinFor(30);
  EXPECT_EQ(fake_driver::loopCount(), 0);
}

TEST_F(PumpTest, OneRecordPerQueueAndPumpReceivedPdosFirst) {
  StartNetwork();
  // Device-name reads refused at once, so that every driver loop is one pump.
  fake_driver::setResult("kcoSDO", 0x3201);
  driverReports([](const fake_driver::Callbacks& cb) {
    cb.boot(1);
    cb.boot(2);
    cb.boot(3);
    cb.pdoReceived(1, 3);
  });
  ASSERT_TRUE(spinUntil([&] { return delivered.events.size() == 4; }));
  EXPECT_EQ(delivered.events, (std::vector<std::string>{"rx:1/3", "boot:1", "boot:2", "boot:3"}));
  // The PDO and the first boot-up come from the same pump; each further boot-up needs a pump.
  EXPECT_EQ(delivered.loopAtEvent[0], delivered.loopAtEvent[1]);
  EXPECT_LT(delivered.loopAtEvent[1], delivered.loopAtEvent[2]);
  EXPECT_LT(delivered.loopAtEvent[2], delivered.loopAtEvent[3]);
}

TEST_F(PumpTest, TheWorkerPausesOneMillisecondAfterEachPumpHasFinished) {
  using Clock = std::chrono::steady_clock;
  StartNetwork();
  // Each boot-up handler keeps its pump busy for 3 ms; the next pump's driver loop may start
  // only 1 ms after the handler returned, not 1 ms after the pump was requested.
  std::vector<Clock::time_point> handlerEnds;
  master->OnBOOT = [&](TCANopenMaster*, uint8_t&) {
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(3);
    while (Clock::now() < until) {
    }
    handlerEnds.push_back(Clock::now());
  };
  std::vector<Clock::time_point> loopStarts;
  fake_driver::onEveryLoop([&] { loopStarts.push_back(Clock::now()); });
  fake_driver::setResult("kcoSDO", 0x3201);
  driverReports([](const fake_driver::Callbacks& cb) {
    for (uint8_t id = 1; id <= 4; ++id) cb.boot(id);
  });
  ASSERT_TRUE(spinUntil([&] { return handlerEnds.size() == 4; }));
  fake_driver::onEveryLoop({});
  for (const Clock::time_point end : handlerEnds) {
    const auto next = std::upper_bound(loopStarts.begin(), loopStarts.end(), end);
    if (next == loopStarts.end()) continue;  // the pump after the last one may not have run
    EXPECT_GE(*next - end, std::chrono::milliseconds(1));
  }
}

TEST_F(PumpTest, EveryKindReachesItsEventWithTheDriversValues) {
  std::vector<std::string> seen;
  master->OnPDOtx = [&](TCANopenMaster* sender, uint8_t& id, uint8_t& num) {
    EXPECT_EQ(sender, master.get());
    seen.push_back("tx " + std::to_string(id) + " " + std::to_string(num));
  };
  master->OnNODEGUARD = [&](TCANopenMaster*, uint8_t& id, uint16_t& state, uint16_t& nmt) {
    seen.push_back("guard " + std::to_string(id) + " " + std::to_string(state) + " " +
                   std::to_string(nmt));
  };
  master->OnHEARTBEAT = [&](TCANopenMaster*, uint8_t& id, uint16_t& state, uint16_t& nmt) {
    seen.push_back("hb " + std::to_string(id) + " " + std::to_string(state) + " " +
                   std::to_string(nmt));
  };
  master->OnEMCY = [&](TCANopenMaster*, uint8_t& id, uint8_t& err) {
    seen.push_back("emcy " + std::to_string(id) + " " + std::to_string(err));
  };
  StartNetwork();
  driverReports([](const fake_driver::Callbacks& cb) {
    cb.emcy(4, 0x81);
    cb.heartbeat(3, 0x6202, 0x6302);
    cb.nodeguard(2, 0x5206, 0x5301);  // a state without text is still delivered
    cb.pdoTransmitted(1, 5);          // PDO number outside 1..4 too
  });
  ASSERT_TRUE(spinUntil([&] { return seen.size() == 4; }));
  EXPECT_EQ(seen, (std::vector<std::string>{"tx 1 5", "guard 2 20998 21249", "hb 3 25090 25346",
                                            "emcy 4 129"}));
}

TEST_F(PumpTest, BusyFlagHoldsBackSecondBootWhileHandlerRunsNestedLoop) {
  int pdosDuringBoot = 0;
  bool inBoot = false;
  master->OnBOOT = [&](TCANopenMaster*, uint8_t& id) {
    note("boot:" + std::to_string(id));
    if (id != 1) return;
    inBoot = true;
    // A modal dialog's nested loop: the pump keeps running and keeps delivering PDOs.
    driverReports([](const fake_driver::Callbacks& cb) {
      cb.boot(2);
      cb.pdoReceived(1, 1);
      cb.pdoReceived(1, 2);
    });
    QEventLoop modal;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (pdosDuringBoot == 2) modal.quit();
    });
    poll.start(1);
    QTimer::singleShot(5000, &modal, &QEventLoop::quit);  // guard only
    modal.exec();
    inBoot = false;
  };
  master->OnPDOrx = [&](TCANopenMaster*, uint8_t& id, uint8_t& num) {
    if (inBoot) ++pdosDuringBoot;
    note("rx:" + std::to_string(id) + "/" + std::to_string(num));
  };
  StartNetwork();
  driverReports([](const fake_driver::Callbacks& cb) { cb.boot(1); });
  ASSERT_TRUE(spinUntil([&] { return delivered.events.size() == 4; }));
  EXPECT_EQ(pdosDuringBoot, 2);
  EXPECT_EQ(delivered.events, (std::vector<std::string>{"boot:1", "rx:1/1", "rx:1/2", "boot:2"}));
}

// A handler that processes events itself, without ever waiting for them (no modal loop that
// blocks), is a nested loop too: the pump keeps running inside it.
TEST_F(PumpTest, HandlerProcessingEventsWithoutWaitingKeepsThePumpRunning) {
  int pdosDuringBoot = 0;
  bool inBoot = false;
  master->OnBOOT = [&](TCANopenMaster*, uint8_t& id) {
    note("boot:" + std::to_string(id));
    inBoot = true;
    driverReports([](const fake_driver::Callbacks& cb) {
      cb.pdoReceived(1, 1);
      cb.pdoReceived(1, 2);
    });
    QElapsedTimer guard;  // only against a hang
    guard.start();
    while (pdosDuringBoot < 2 && guard.elapsed() < 5000) QCoreApplication::processEvents();
    inBoot = false;
  };
  master->OnPDOrx = [&](TCANopenMaster*, uint8_t& id, uint8_t& num) {
    if (inBoot) ++pdosDuringBoot;
    note("rx:" + std::to_string(id) + "/" + std::to_string(num));
  };
  StartNetwork();
  driverReports([](const fake_driver::Callbacks& cb) { cb.boot(1); });
  ASSERT_TRUE(spinUntil([&] { return delivered.events.size() == 3; }));
  EXPECT_EQ(pdosDuringBoot, 2);
  EXPECT_EQ(delivered.events, (std::vector<std::string>{"boot:1", "rx:1/1", "rx:1/2"}));
}

TEST_F(PumpTest, HandlersGetReferencesToAStableCopyOfTheHeadRecord) {
  master->OnBOOT = [&](TCANopenMaster*, uint8_t& id) {
    const uint8_t before = id;
    note("boot:" + std::to_string(before));
    if (before != 9) return;
    // Records appended behind the head while the handler holds its reference.
    for (int i = 0; i < 1000; ++i) OnBOOTCalledBack(100);
    EXPECT_EQ(id, 9);
    // A Reset empties the queue, so the head record is gone and a record that arrives next
    // takes its place in the queue; the handler's values stay those of its own record.
    master->Reset();
    OnBOOTCalledBack(101);
    EXPECT_EQ(id, 9);
    id = 77;  // a change to the record is discarded with it
  };
  StartNetwork();
  driverReports([](const fake_driver::Callbacks& cb) { cb.boot(9); });
  ASSERT_TRUE(spinUntil([&] { return delivered.events.size() >= 2; }));
  EXPECT_EQ(delivered.events, (std::vector<std::string>{"boot:9", "boot:101"}));
}

TEST_F(PumpTest, TheDriverLoopAlwaysRunsUnderTheLock) {
  // Shared with the probe, which may still run while the master is destroyed after the test.
  struct Seen {
    std::atomic<int> loops{0};
    std::atomic<int> unlocked{0};
  };
  const auto seen = std::make_shared<Seen>();
  fake_driver::onEveryLoop([seen] {
    ++seen->loops;
    // The lock is recursive, so only another thread can tell whether the loop's thread holds it.
    bool free = false;
    std::thread probe([&free] {
      free = CANopenLock().try_lock();
      if (free) CANopenLock().unlock();
    });
    probe.join();
    if (free) ++seen->unlocked;
  });
  StartNetwork();
  // A boot-up also runs the loop from the SDO wait of its device-name read.
  driverReports([](const fake_driver::Callbacks& cb) { cb.boot(3); });
  ASSERT_TRUE(spinUntil([&] { return !delivered.events.empty() && seen->loops >= 20; }));
  EXPECT_EQ(seen->unlocked, 0) << "of " << seen->loops << " driver loops";
}

TEST_F(PumpTest, TheDriverLoopWaitsWhileAnotherThreadHoldsTheLock) {
  struct Seen {
    std::atomic<bool> heldElsewhere{false};
    std::atomic<int> loopsWhileHeld{0};
  };
  const auto seen = std::make_shared<Seen>();
  fake_driver::onEveryLoop([seen] {
    if (seen->heldElsewhere) ++seen->loopsWhileHeld;
  });
  StartNetwork();
  ASSERT_TRUE(spinUntil([] { return fake_driver::loopCount() >= 3; }));  // the pump runs

  std::atomic<bool> released{false};
  std::thread holder([&] {
    {
      std::lock_guard lock(CANopenLock());
      seen->heldElsewhere = true;
      // Holds the lock as a transfer would. A pump that ignored the lock would call the driver
      // loop within a few milliseconds; the hold ends at once when it does.
      const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
      while (seen->loopsWhileHeld == 0 && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      seen->heldElsewhere = false;
    }
    released = true;
  });
  // The main thread serves the worker's pump requests meanwhile (and blocks in the pump's lock).
  const bool done = spinUntil([&] { return released.load(); }, 10000);
  holder.join();
  ASSERT_TRUE(done);
  EXPECT_EQ(seen->loopsWhileHeld, 0);
  const int loops = fake_driver::loopCount();
  EXPECT_TRUE(spinUntil([&] { return fake_driver::loopCount() > loops; }));  // and goes on
}

TEST_F(PumpTest, HaltStopsDeliveryAndResetDiscardsWhatWasQueued) {
  StartNetwork();
  master->Halt();
  spinFor(100);  // a cycle that had begun completes
  const int loops = fake_driver::loopCount();
  OnPDOrxCalledBack(1, 3);
  OnBOOTCalledBack(4);
  spinFor(30);
  EXPECT_EQ(fake_driver::loopCount(), loops);
  EXPECT_TRUE(delivered.events.empty());
  EXPECT_EQ(CANopenCallbacks().PDOrx.records.size(), 1U);  // still queued

  master->Reset();
  EXPECT_TRUE(CANopenCallbacks().PDOrx.records.empty());
  driverReports([](const fake_driver::Callbacks& cb) { cb.boot(5); });
  ASSERT_TRUE(spinUntil([&] { return !delivered.events.empty(); }));
  spinFor(10);
  EXPECT_EQ(delivered.events, (std::vector<std::string>{"boot:5"}));
}

TEST_F(PumpTest, ResetInsideHandlerEmptiesQueueAndRemovalFindsNothing) {
  master->OnBOOT = [&](TCANopenMaster*, uint8_t& id) {
    note("boot:" + std::to_string(id));
    if (id == 1) master->Reset();
  };
  StartNetwork();
  driverReports([](const fake_driver::Callbacks& cb) {
    cb.boot(1);
    cb.boot(2);
  });
  ASSERT_TRUE(spinUntil([&] { return !delivered.events.empty(); }));
  spinFor(20);
  EXPECT_EQ(delivered.events, (std::vector<std::string>{"boot:1"}));
  EXPECT_TRUE(CANopenCallbacks().BOOT.records.empty());
  EXPECT_FALSE(CANopenCallbacks().BOOT.busy);
}

TEST_F(PumpTest, ThrowingHandlerIsReportedAndItsQueueGoesOn) {
  master->OnPDOrx = [&](TCANopenMaster*, uint8_t& id, uint8_t& num) {
    note("rx:" + std::to_string(id) + "/" + std::to_string(num));
    if (num == 1) throw ECANopenException(id, 0xA010, "Statistic table is empty.");
  };
  master->OnBOOT = [&](TCANopenMaster*, uint8_t& id) {
    note("boot:" + std::to_string(id));
    throw std::runtime_error("boot handler failed");
  };
  StartNetwork();
  driverReports([](const fake_driver::Callbacks& cb) {
    cb.pdoReceived(1, 1);
    cb.pdoReceived(1, 2);
    cb.boot(3);
    cb.boot(4);
  });
  ASSERT_TRUE(spinUntil([&] { return delivered.events.size() >= 4 && reports.size() >= 3; }));
  EXPECT_EQ(reports[0], "CANopen exception (node id : 1 / code A010h). Statistic table is empty.");
  EXPECT_EQ(reports[1], "boot handler failed");
  // Both queues moved on past the failing record.
  EXPECT_NE(std::find(delivered.events.begin(), delivered.events.end(), "rx:1/2"),
            delivered.events.end());
  EXPECT_NE(std::find(delivered.events.begin(), delivered.events.end(), "boot:4"),
            delivered.events.end());
  EXPECT_FALSE(CANopenCallbacks().PDOrx.busy);
  EXPECT_FALSE(CANopenCallbacks().BOOT.busy);
}

TEST_F(PumpTest, DestroyOfParkedMasterEndsPromptly) {
  QElapsedTimer clock;
  clock.start();
  master.reset();
  EXPECT_LT(clock.elapsed(), 1000);  // a generous bound: the parked worker wakes at once
  EXPECT_EQ(fake_driver::loopCount(), 0);
}

TEST_F(PumpTest, DestroyServesThePumpTheWorkerAlreadyRequested) {
  StartNetwork();
  // The worker requests a pump that the main thread, not serving events, leaves pending; the
  // destructor must serve it (as usual, with its dispatch) or it would wait for ever.
  OnBOOTCalledBack(6);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_TRUE(delivered.events.empty());
  master.reset();
  EXPECT_EQ(delivered.events, (std::vector<std::string>{"boot:6"}));
}
