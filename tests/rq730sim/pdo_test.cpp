// Transmit PDOs: CiA 301 reconfiguration by SDO with its refusals, and when PDOs go out.
#include <gtest/gtest.h>

#include "sim_fixture.h"

namespace rq730sim_test {
namespace {

using Sent = std::vector<std::pair<long, std::string>>;

class PdoTest : public SimFixture {
 protected:
  void SetUp() override {
    auto options = defaultOptions();
    options.loadKg = 12.5;
    start(options);
  }

  // Requests that must each be confirmed (download response).
  void configure(std::initializer_list<const char*> requests) {
    for (const char* request : requests) {
      std::string reply = sdo(request);
      EXPECT_TRUE(reply.starts_with("581#60")) << request << " -> " << reply;
    }
  }

  Sent only(const Sent& sent, std::string_view prefix) {
    Sent result;
    for (const auto& s : sent) {
      if (s.second.starts_with(prefix)) result.push_back(s);
    }
    return result;
  }
};

TEST_F(PdoTest, DefaultPdosGoOutAtOnceWhenOperationalAndNeverBefore) {
  EXPECT_TRUE(advance(3000ms).empty());
  // 12.5 kg: legal value 13 with its signature, zero indication 0 with its signature, 12.5f.
  EXPECT_EQ(exchange({"000#0101"}), (Frames{"181#0D006776", "281#00BB5E", "381#00004841"}));
}

TEST_F(PdoTest, MasterReconfigurationSequenceIsAccepted) {
  // As the master installs PDO 3: invalidate, clear mapping, entry, count, type, inhibit
  // (read, write), event timer (read, write), validate.
  configure({"601#2302180181030080", "601#2F021A0000000000", "601#23021A0120000430",
             "601#2F021A0001000000", "601#2F021802FF000000"});
  EXPECT_EQ(sdo("601#4002180300000000"), "581#4B02180300000000");
  configure({"601#2B02180300000000"});
  EXPECT_EQ(sdo("601#4002180500000000"), "581#4B021805E8030000");
  configure({"601#2B021805F4010000", "601#2302180181030000"});
  EXPECT_EQ(sdo("601#4002180500000000"), "581#4B021805F4010000");

  exchange({"000#0101"});
  EXPECT_EQ(only(run(1200ms), "381#"), (Sent{{500, "381#00004841"}, {1000, "381#00004841"}}));
}

TEST_F(PdoTest, RefusesChangesThatCiA301Forbids) {
  struct Case {
    const char* request;
    const char* response;
  };
  const Case whileValid[] = {
      {"601#23001A0110000021", "581#80001A0100000106"},  // entry while valid
      {"601#2F001A0000000000", "581#80001A0000000106"},  // count while valid
      {"601#2B00180364000000", "581#8000180300000106"},  // inhibit time while valid
      {"601#2300180182010000", "581#8000180130000906"},  // other COB-ID while valid
      {"601#2300180181010000", "581#6000180100000000"},  // the same COB-ID is fine
      {"601#2F001802F1000000", "581#8000180230000906"},  // reserved transmission type
      {"601#2F001802FC000000", "581#8000180230000906"},  // RTR only: not offered
      {"601#2B00180500000000", "581#6000180500000000"},  // event timer may change
  };
  for (const auto& c : whileValid) EXPECT_EQ(sdo(c.request), c.response) << c.request;

  configure({"601#2300180181010080"});  // not valid now
  const Case whileInvalid[] = {
      {"601#23001A0110000021", "581#80001A0100000106"},  // entry while count is 2
      {"601#2F001A0009000000", "581#80001A0042000406"},  // more than 8 entries
      {"601#2F001A0000000000", "581#60001A0000000000"},  // count 0
      {"601#23001A0108000431", "581#80001A0141000406"},  // unit is not mappable
      {"601#23001A0110003412", "581#80001A0141000406"},  // no such object
      {"601#23001A0120000021", "581#80001A0141000406"},  // wrong length of 0x2100
      {"601#23001A0120000430", "581#60001A0100000000"},
      {"601#23001A0220000430", "581#60001A0200000000"},
      {"601#23001A0320000430", "581#60001A0300000000"},
      {"601#2F001A0003000000", "581#80001A0042000406"},  // 96 bits do not fit
      {"601#2F001A0004000000", "581#80001A0030000906"},  // entry 4 is empty
      {"601#2300180181010020", "581#8000180130000906"},  // 29-bit id not offered
      {"601#2300180101060000", "581#8000180130000906"},  // 0x601 belongs to SDO
      {"601#2F001A0002000000", "581#60001A0000000000"},  // 64 bits fit
      {"601#2300180181010000", "581#6000180100000000"},  // valid again
  };
  for (const auto& c : whileInvalid) EXPECT_EQ(sdo(c.request), c.response) << c.request;
  EXPECT_EQ(exchange({"000#0101"})[0], "181#0000484100004841");
}

TEST_F(PdoTest, InhibitTimeSpacesChangesAndEventTimerBoundsSilence) {
  struct Case {
    const char* inhibit;  // 100 µs units
    const char* eventTimer;
    bool changing;
    Sent expected;  // PDO 3 transmissions after the one at the start
  };
  const Case cases[] = {
      // A changing load is measured every 20 ms: each measurement goes out.
      {"0000", "0000", true, {{20, ""}, {40, ""}, {60, ""}, {80, ""}, {100, ""}}},
      // 10 ms inhibit makes no difference, 50 ms spaces them.
      {"6400", "0000", true, {{20, ""}, {40, ""}, {60, ""}, {80, ""}, {100, ""}}},
      {"F401", "0000", true, {{50, ""}, {100, ""}}},
      // A steady load only with the event timer.
      {"0000", "2800", false, {{40, ""}, {80, ""}}},
      {"0000", "0000", false, {}},
  };
  for (const auto& c : cases) {
    SetUp();
    configure({"601#2302180181030080",
               std::string("601#2B021803" + std::string(c.inhibit) + "0000").c_str(),
               std::string("601#2B021805" + std::string(c.eventTimer) + "0000").c_str(),
               "601#2302180181030000"});
    if (c.changing) {
      rq730sim::LoadProfile ramp;
      ramp.shape = rq730sim::LoadProfile::Shape::ramp;
      ramp.rampFromKg = 0;
      ramp.rampToKg = 1000;
      ramp.rampDuration = 10000ms;
      sim_->setProfile(ramp);
    }
    exchange({"000#0101"});
    Sent times;
    for (const auto& s : only(run(110ms), "381#")) times.emplace_back(s.first, "");
    EXPECT_EQ(times, c.expected) << c.inhibit << " " << c.eventTimer;
  }
}

TEST_F(PdoTest, SynchronousPdosFollowSync) {
  configure({"601#2F02180202000000"});                      // PDO 3: every 2nd SYNC
  configure({"601#2F00180200000000"});                      // PDO 1: on SYNC when changed
  EXPECT_EQ(exchange({"000#0101"}), Frames{"281#00BB5E"});  // PDO 2 stays event driven
  EXPECT_EQ(exchange({"080#"}), Frames{"181#0D006776"});
  EXPECT_EQ(exchange({"080#"}), Frames{"381#00004841"});
  EXPECT_EQ(exchange({"080#"}), Frames{});  // PDO 1 unchanged, PDO 3 waits for the next
  sim_->setLoad(20);
  advance(20ms);
  EXPECT_EQ(exchange({"080#05"}), (Frames{"181#14008CCF", "381#0000A041"}));  // with counter
  exchange({"000#8001"});
  EXPECT_EQ(exchange({"080#", "080#"}), Frames{});  // not operational: no PDOs
}

}  // namespace
}  // namespace rq730sim_test

namespace rq730sim_test {
namespace {

class PdoFaultTest : public SimFixture {};

TEST_F(PdoFaultTest, FewerPdosMissingObjectsAndRejectedConfiguration) {
  struct Case {
    const char* fault;
    const char* request;
    const char* response;
  };
  const Case cases[] = {
      {"missing 0x3106", "601#4006310000000000", "581#8006310000000206"},
      {"missing 0x3106", "601#4005310000000000", "581#4F05310001000000"},
      {"tpdo-count 3", "601#4003180100000000", "581#8003180100000206"},
      {"tpdo-count 3", "601#40031A0000000000", "581#80031A0000000206"},
      {"tpdo-count 3", "601#2303180181040080", "581#8003180100000206"},
      {"tpdo-count 3", "601#4002180100000000", "581#4302180181030000"},
      {"reject", "601#2300180181010080", "581#8000180143000406"},
      {"reject", "601#2F001A0000000000", "581#80001A0043000406"},
      {"reject", "601#4000180100000000", "581#4300180181010000"},  // reading is fine
      {"reject", "601#2B17100064000000", "581#6017100000000000"},  // other objects too
  };
  for (const auto& c : cases) {
    auto options = defaultOptions();
    const std::string_view fault = c.fault;
    if (fault.starts_with("missing")) options.faults.missingObjects = {0x3106};
    if (fault.starts_with("tpdo-count")) options.faults.tpdoCount = 3;
    if (fault.starts_with("reject")) options.faults.rejectPdoConfig = true;
    start(options);
    EXPECT_EQ(sdo(c.request), c.response) << c.fault << ": " << c.request;
  }
}

TEST_F(PdoFaultTest, PdosBeyondTheCountAreNeverSent) {
  start();
  exchange({"000#0101"});
  sim_->faults().tpdoCount = 2;
  sim_->setLoad(5);
  for (const auto& [ms, frame] : run(3000ms)) EXPECT_FALSE(frame.starts_with("381#")) << ms;
}

}  // namespace
}  // namespace rq730sim_test

namespace rq730sim_test {
namespace {

class RpdoTest : public SimFixture {
 protected:
  void SetUp() override {
    auto options = defaultOptions();
    options.loadKg = 50;
    start(options);
  }
  void configure(std::initializer_list<const char*> requests) {
    for (const char* request : requests) {
      std::string reply = sdo(request);
      EXPECT_TRUE(reply.starts_with("581#60")) << request << " -> " << reply;
    }
  }
};

TEST_F(RpdoTest, ReceivePdoCarriesTheZeroCommand) {
  EXPECT_EQ(sdo("601#2300160110000021"), "581#8000160141000406");  // 0x2100 only transmits
  EXPECT_EQ(sdo("601#23031A0108000320"), "581#80031A0141000406");  // 0x2003 only receives
  // As the master installs its transmit PDO 1: mapping, type, then the valid COB-ID.
  configure({"601#2F00160000000000", "601#2300160108000320", "601#2F00160001000000",
             "601#2F001402FF000000", "601#2300140101020000"});
  EXPECT_EQ(sdo("601#4000140100000000"), "581#4300140101020000");

  EXPECT_TRUE(exchange({"201#00"}).empty());  // not operational yet: ignored
  EXPECT_EQ(sim_->zeroPointKg(), 0);
  exchange({"000#0101"});
  exchange({"201#00"});
  EXPECT_EQ(sim_->zeroPointKg(), 50);
  sim_->setLoad(80);
  advance(20ms);
  exchange({"201#01"});  // refused by the object, as by SDO
  EXPECT_EQ(sim_->zeroPointKg(), 50);
  EXPECT_EQ(exchange({"201#"}), Frames{"081#1082110000000000"});  // shorter than the mapping

  // Synchronous: takes effect with the next SYNC.
  configure({"601#2F00140201000000"});
  exchange({"201#00"});
  EXPECT_EQ(sim_->zeroPointKg(), 50);
  exchange({"080#"});
  EXPECT_EQ(sim_->zeroPointKg(), 80);
}

// Bytes held for the SYNC belong to the mapping they came under: once the master deletes the
// PDO and maps more into it, they are dropped, never read with the longer mapping.
TEST_F(RpdoTest, HeldBytesDoNotOutliveTheirMapping) {
  for (bool validatedAgain : {false, true}) {
    SCOPED_TRACE(validatedAgain ? "valid again before the SYNC" : "still deleted at the SYNC");
    SetUp();
    exchange({"000#0101"});
    configure({"601#2300160108000320", "601#2F00160001000000", "601#2F00140200000000",
               "601#2300140101020000"});
    EXPECT_TRUE(exchange({"201#00"}).empty());
    configure({"601#2300140101020080", "601#2F00160000000000", "601#2300160208000320",
               "601#2F00160002000000"});
    if (validatedAgain) configure({"601#2300140101020000"});
    sim_->setLoad(80);
    advance(20ms);
    EXPECT_TRUE(exchange({"080#"}).empty());
    EXPECT_EQ(sim_->zeroPointKg(), 0);

    // The new mapping works with bytes received under it.
    if (validatedAgain) {
      exchange({"201#0000"});
      exchange({"080#"});
      EXPECT_EQ(sim_->zeroPointKg(), 80);
    }
  }
}

}  // namespace
}  // namespace rq730sim_test
