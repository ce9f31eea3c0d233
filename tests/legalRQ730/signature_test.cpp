// The signature function that module and legal display share.
#include "legalRQ730/signature.h"

#include <gtest/gtest.h>

namespace {

using namespace legal_rq730;

TEST(SignatureTest, CrcIsCcittFalse) {
  constexpr uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  static_assert(crc16CcittFalse(check) == 0x29B1);
  EXPECT_EQ(crc16CcittFalse({}), 0xFFFF);
  // Continuing a CRC over a second part equals the CRC over the whole.
  const uint8_t bytes[] = {1, 2, 3, 4, 5};
  EXPECT_EQ(crc16CcittFalse(std::span(bytes).subspan(2), crc16CcittFalse(std::span(bytes, 2))),
            crc16CcittFalse(bytes));
}

TEST(SignatureTest, ValuesAreSignedAfterSerialNumberAndAdjustmentCounter) {
  // serial number 73012345 = 0x045A1479, adjustment counter 7, little endian throughout
  const uint8_t weight13[] = {0x79, 0x14, 0x5A, 0x04, 0x07, 0x00, 0x0D, 0x00};
  EXPECT_EQ(signWeight(73012345, 7, 13), crc16CcittFalse(weight13));
  EXPECT_EQ(signWeight(73012345, 7, 13), 0x7667);
  EXPECT_EQ(signWeight(73012345, 7, -13), 0x5859);
  const uint8_t zero1[] = {0x79, 0x14, 0x5A, 0x04, 0x07, 0x00, 0x01};
  EXPECT_EQ(signZeroIndication(73012345, 7, 1), crc16CcittFalse(zero1));
  EXPECT_EQ(signZeroIndication(73012345, 7, 1), 0x4E9A);
  // Every input takes part.
  EXPECT_NE(signWeight(73012346, 7, 13), 0x7667);
  EXPECT_NE(signWeight(73012345, 8, 13), 0x7667);
}

}  // namespace
