// The module's SDO server, request by request, as a scripted client sees it.
#include <gtest/gtest.h>

#include <random>

#include "sim_fixture.h"

namespace rq730sim_test {
namespace {

class SdoTest : public SimFixture {
 protected:
  void SetUp() override { start(); }
};

struct Exchange {
  const char* request;
  const char* response;
};

TEST_F(SdoTest, ExpeditedUploadsGiveEachObjectWithItsSize) {
  const Exchange cases[] = {
      {"601#4000100000000000", "581#4300100000000000"},  // device type
      {"601#4001100000000000", "581#4F01100000000000"},  // error register
      {"601#4018100000000000", "581#4F18100004000000"},  // identity, highest sub-index
      {"601#4018100400000000", "581#4318100479145A04"},  // serial number 73012345
      {"601#4004310000000000", "581#4F04310001000000"},  // unit
      {"601#4005310000000000", "581#4F05310001000000"},  // division
      {"601#4006310000000000", "581#4B063100B80B0000"},  // capacity 3000
      {"601#4007310000000000", "581#4B07310007000000"},  // adjustment counter
      {"601#4008310000000000", "581#4B083100DEC00000"},  // checksum
      {"601#4017100000000000", "581#4B17100000000000"},  // heartbeat off after boot
      {"601#4000180100000000", "581#4300180181010000"},  // TPDO 1 COB-ID 0x181, valid
      {"601#4003180100000000", "581#4303180181040080"},  // TPDO 4 not valid
      {"601#4000180200000000", "581#4F001802FF000000"},  // transmission type 255
      {"601#40001A0000000000", "581#4F001A0002000000"},  // TPDO 1 maps two objects
      {"601#40001A0100000000", "581#43001A0110000021"},  // 0x2100 sub 0, 16 bits
      {"601#4004300000000000", "581#4304300000000000"},  // unrounded weight 0.0 kg
  };
  for (const auto& c : cases) EXPECT_EQ(sdo(c.request), c.response) << c.request;
}

TEST_F(SdoTest, RefusedAccessesAbortWithTheirCiA301Code) {
  const Exchange cases[] = {
      {"601#4034120000000000", "581#8034120000000206"},  // no such object
      {"601#4018100500000000", "581#8018100511000906"},  // no such sub-index
      {"601#4000180400000000", "581#8000180411000906"},  // PDO sub-index 4 is reserved
      {"601#4003200000000000", "581#8003200001000106"},  // zero command is write-only
      {"601#2300100000000000", "581#8000100002000106"},  // device type is read-only
      {"601#2B04310002000000", "581#8004310002000106"},  // unit is read-only
      {"601#2317100064000000", "581#8017100012000706"},  // 4 bytes into a 16-bit object
      {"601#2F17100064000000", "581#8017100013000706"},  // 1 byte into a 16-bit object
      {"601#2F03200001000000", "581#8003200030000906"},  // zero command with value 1
      {"601#E000100000000000", "581#8000100001000405"},  // no such command specifier
      {"601#A000100000000000", "581#8000100001000405"},  // block upload not offered
      {"601#6000000000000000", "581#8000000001000405"},  // segment without a transfer
      {"601#0000000000000000", "581#8000000001000405"},  // download segment likewise
      {"601#2134120004000000", "581#8034120000000206"},  // segmented, missing object
      {"601#2117100004000000", "581#8017100012000706"},  // announced size too large
  };
  for (const auto& c : cases) EXPECT_EQ(sdo(c.request), c.response) << c.request;
}

TEST_F(SdoTest, DeviceNameComesInSegmentsWithAlternatingToggle) {
  EXPECT_EQ(sdo("601#4008100000000000"), "581#4108100016000000");  // 22 bytes
  EXPECT_EQ(sdo("601#6000000000000000"), "581#0052512037333020");  // "RQ 730 "
  EXPECT_EQ(sdo("601#7000000000000000"), "581#107765696768696E");  // "weighin"
  EXPECT_EQ(sdo("601#6000000000000000"), "581#0067206D6F64756C");  // "g modul"
  EXPECT_EQ(sdo("601#7000000000000000"), "581#1D65000000000000");  // "e", last
  // The transfer is over: another segment request is out of place.
  EXPECT_EQ(sdo("601#6000000000000000"), "581#8000000001000405");
}

TEST_F(SdoTest, WrongToggleOrClientAbortEndsTheTransfer) {
  EXPECT_EQ(sdo("601#4008100000000000"), "581#4108100016000000");
  EXPECT_EQ(sdo("601#7000000000000000"), "581#8008100000000305");  // toggle must start at 0
  EXPECT_EQ(sdo("601#6000000000000000"), "581#8000000001000405");

  EXPECT_EQ(sdo("601#4008100000000000"), "581#4108100016000000");
  EXPECT_EQ(sdo("601#6000000000000000"), "581#0052512037333020");
  EXPECT_TRUE(exchange({"601#8008100000000405"}).empty());  // a client abort is not answered
  EXPECT_EQ(sdo("601#7000000000000000"), "581#8000000001000405");
}

TEST_F(SdoTest, SegmentedDownloadWritesOnlyTheCompleteValue) {
  EXPECT_EQ(sdo("601#2117100002000000"), "581#6017100000000000");
  EXPECT_EQ(sdo("601#0BE8030000000000"), "581#2000000000000000");  // 2 bytes, last
  EXPECT_EQ(sdo("601#4017100000000000"), "581#4B171000E8030000");

  // More bytes than announced: refused, the value stays.
  EXPECT_EQ(sdo("601#2117100002000000"), "581#6017100000000000");
  EXPECT_EQ(sdo("601#0900000000000000"), "581#8017100010000706");  // 3 bytes of 2
  // A toggle that does not alternate.
  EXPECT_EQ(sdo("601#2117100002000000"), "581#6017100000000000");
  EXPECT_EQ(sdo("601#1BF4010000000000"), "581#8017100000000305");
  // Size not announced: the length check comes with the last segment.
  EXPECT_EQ(sdo("601#2017100000000000"), "581#6017100000000000");
  EXPECT_EQ(sdo("601#0DF4000000000000"), "581#8017100013000706");  // 1 byte of 2
  EXPECT_EQ(sdo("601#4017100000000000"), "581#4B171000E8030000");
}

TEST_F(SdoTest, SegmentedDownloadWithoutSizeIsNotBufferedWithoutEnd) {
  EXPECT_EQ(sdo("601#2017100000000000"), "581#6017100000000000");
  for (int segment = 0; segment < 9; ++segment) {  // 63 bytes
    EXPECT_EQ(sdo(segment % 2 == 0 ? "601#0000000000000000" : "601#1000000000000000"),
              segment % 2 == 0 ? "581#2000000000000000" : "581#3000000000000000");
  }
  EXPECT_EQ(sdo("601#1000000000000000"), "581#8017100012000706");
}

TEST_F(SdoTest, ExpeditedDownloadWithoutSizeTakesTheObjectSize) {
  EXPECT_EQ(sdo("601#2217100064000000"), "581#6017100000000000");
  EXPECT_EQ(sdo("601#4017100000000000"), "581#4B17100064000000");
}

TEST_F(SdoTest, RequestsOfOtherLengthsOrNodesAreIgnored) {
  EXPECT_TRUE(exchange({"601#40001000"}).empty());
  EXPECT_TRUE(exchange({"602#4000100000000000"}).empty());
  EXPECT_TRUE(exchange({"601#R"}).empty());
}

TEST_F(SdoTest, ArbitraryRequestsGetAtMostOneWellFormedAnswer) {
  std::mt19937 random(42);
  for (int i = 0; i < 20000; ++i) {
    canbus::Frame request;
    request.id = 0x601;
    request.length = 8;
    for (auto& byte : request.data) byte = static_cast<uint8_t>(random());
    // Mostly objects that exist, so that transfers get under way.
    if (i % 2 == 0) {
      const uint16_t indexes[] = {0x1008, 0x1017, 0x1800, 0x1A00, 0x2003, 0x3004};
      const uint16_t index = indexes[random() % 6];
      request.data[1] = static_cast<uint8_t>(index);
      request.data[2] = static_cast<uint8_t>(index >> 8);
      request.data[3] = static_cast<uint8_t>(random() % 3);
    }
    clock_.advance(1ms);
    sim_->onFrame(request, clock_.now());
    Frames answers;
    for (auto& frame : advance(0ms)) {
      if (!frame.starts_with("701#")) answers.push_back(frame);  // heartbeats may be switched on
    }
    ASSERT_LE(answers.size(), 1u);
    if (!answers.empty()) {
      EXPECT_TRUE(answers[0].starts_with("581#")) << answers[0];
      EXPECT_EQ(answers[0].size(), 4u + 16u) << answers[0];
    }
  }
}

}  // namespace
}  // namespace rq730sim_test
