#include <gtest/gtest.h>

#include "CANopenErrors.h"
#include "CANopenException.h"
#include "CANopenMaster.h"

TEST(ECANopenException, MessageWithoutNodeId) {
  const ECANopenException e(0, 0xA00A, "No CAN hardware found.");
  EXPECT_STREQ(e.what(), "CANopen exception (code A00Ah). No CAN hardware found.");
  EXPECT_EQ(e.Id(), 0);
  EXPECT_EQ(e.Code(), 0xA00A);
  EXPECT_EQ(e.Descr(), "No CAN hardware found.");
}

TEST(ECANopenException, MessageWithNodeIdAndUpperCaseHexWithoutLeadingZeros) {
  EXPECT_STREQ(ECANopenException(5, 0xA003, "x").what(),
               "CANopen exception (node id : 5 / code A003h). x");
  EXPECT_STREQ(ECANopenException(127, 0x00AB, "t").what(),
               "CANopen exception (node id : 127 / code ABh). t");
}

TEST(CANopenErrorText, OwnCodesAndGaps) {
  EXPECT_EQ(CANopenErrorText(0xA00A), "No CAN hardware found.");
  EXPECT_EQ(CANopenErrorText(0xA002),
            "Desired configuration differs from actual RxPDO communication parameter "
            "(transmission type).");
  EXPECT_EQ(CANopenErrorText(0xA015), "Row index of statistic table is out of range.");
  for (const uint16_t gap : {0xA000, 0xA007, 0xA009, 0xA00B, 0xA013, 0xA014, 0xA016, 0x1234}) {
    EXPECT_EQ(CANopenErrorText(gap), "Unknown Error!") << std::hex << gap;
  }
}
