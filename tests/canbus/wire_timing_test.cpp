#include "canbus/wire_timing.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/candump_frames.h"

namespace canbus {
namespace {

TEST(WireTimingTest, UnstuffedBitsFollowTheFrameFormat) {
  EXPECT_EQ(unstuffedBits(test_kit::frame("123#")), 47U);
  EXPECT_EQ(unstuffedBits(test_kit::frame("123#0011223344556677")), 111U);
  EXPECT_EQ(unstuffedBits(test_kit::frame("12345678#00")), 75U);
  EXPECT_EQ(unstuffedBits(test_kit::frame("701#R8")), 47U);  // remote frames carry no data
}

TEST(WireTimingTest, StuffBitsStayWithinTheWorstCase) {
  // Worst case: floor((34 + 8n - 1) / 4) stuff bits for a standard frame.
  const std::vector<const char*> frames = {"000#",
                                           "000#0000000000000000",
                                           "7FF#FFFFFFFFFFFFFFFF",
                                           "181#D204",
                                           "555#5555",
                                           "0F0#0F0F0F0F0F0F0F0F",
                                           "701#05",
                                           "701#R"};
  for (const char* text : frames) {
    SCOPED_TRACE(text);
    const Frame frame = test_kit::frame(text);
    const uint32_t n = frame.remote ? 0 : frame.length;
    EXPECT_GE(wireBits(frame), unstuffedBits(frame));
    EXPECT_LE(wireBits(frame), unstuffedBits(frame) + (34 + 8 * n - 1) / 4);
  }
  // All-dominant data is stuffed heavily, alternating bits not at all in the data.
  EXPECT_GT(wireBits(test_kit::frame("000#0000000000000000")) - 111, 12U);
  EXPECT_LT(wireBits(test_kit::frame("555#5555555555555555")) - 111, 6U);
}

TEST(WireTimingTest, TimeScalesWithTheBitrate) {
  const Frame frame = test_kit::frame("555#5555555555555555");
  const uint32_t bits = wireBits(frame);
  EXPECT_EQ(wireTime(frame, 1000000), std::chrono::nanoseconds(bits * 1000));
  EXPECT_EQ(wireTime(frame, 500000), std::chrono::nanoseconds(bits * 2000));
  EXPECT_EQ(wireTime(frame, 0), std::chrono::nanoseconds(0));
}

}  // namespace
}  // namespace canbus
