#include "canbus/frame.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace canbus {
namespace {

Frame dataFrame(uint32_t id, std::vector<uint8_t> bytes, bool extended = false) {
  Frame frame;
  frame.id = id;
  frame.extended = extended;
  frame.length = static_cast<uint8_t>(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) frame.data[i] = bytes[i];
  return frame;
}

Frame remoteFrame(uint32_t id, uint8_t length, bool extended = false) {
  Frame frame;
  frame.id = id;
  frame.extended = extended;
  frame.remote = true;
  frame.length = length;
  return frame;
}

struct RoundTrip {
  const char* text;
  Frame frame;
};

TEST(FrameTest, CandumpRoundTrips) {
  const std::vector<RoundTrip> cases = {
      {"181#D204", dataFrame(0x181, {0xD2, 0x04})},
      {"080#", dataFrame(0x080, {})},
      {"7FF#0011223344556677", dataFrame(0x7FF, {0, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77})},
      {"12345678#00", dataFrame(0x12345678, {0}, true)},
      {"00000001#", dataFrame(0x1, {}, true)},
      {"1FFFFFFF#FF", dataFrame(0x1FFFFFFF, {0xFF}, true)},
      {"701#R", remoteFrame(0x701, 0)},
      {"701#R1", remoteFrame(0x701, 1)},
      {"00000701#R8", remoteFrame(0x701, 8, true)},
  };
  for (const RoundTrip& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_TRUE(isValid(c.frame));
    EXPECT_EQ(toCandump(c.frame), c.text);
    const std::optional<Frame> parsed = parseCandump(c.text);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(*parsed, c.frame);
  }
}

TEST(FrameTest, ParsesLenientSpellings) {
  const std::vector<RoundTrip> cases = {
      {"181#d2.04", dataFrame(0x181, {0xD2, 0x04})},
      {"1a2#aBcD", dataFrame(0x1A2, {0xAB, 0xCD})},
      {"701#r", remoteFrame(0x701, 0)},
      {"00000181#11.22.33", dataFrame(0x181, {0x11, 0x22, 0x33}, true)},
  };
  for (const RoundTrip& c : cases) {
    SCOPED_TRACE(c.text);
    const std::optional<Frame> parsed = parseCandump(c.text);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(*parsed, c.frame);
  }
}

TEST(FrameTest, RejectsMalformedCandump) {
  const std::vector<const char*> cases = {
      "",
      "#",
      "181",
      "181D204",
      "18#00",
      "1810#00",
      "800#00",
      "2000000F#00",
      "123456789#00",
      "G81#00",
      "181#D",
      "181#D20",
      "181#GG",
      "181#.D2",
      "181#D2.",
      "181#D2..04",
      "181#001122334455667788",
      "701#R9",
      "701#R12",
      "701#RX",
      "181##01",
      "181#00 ",
      " 181#00",
      "181#R0 ",
  };
  for (const char* text : cases) {
    EXPECT_FALSE(parseCandump(text).has_value()) << "'" << text << "'";
  }
}

TEST(FrameTest, ValidityChecksIdFormatAndLength) {
  EXPECT_TRUE(isValid(dataFrame(0x7FF, {})));
  EXPECT_FALSE(isValid(dataFrame(0x800, {})));
  EXPECT_TRUE(isValid(dataFrame(0x800, {}, true)));
  EXPECT_FALSE(isValid(dataFrame(0x20000000, {}, true)));
  Frame tooLong = dataFrame(0x100, {});
  tooLong.length = 9;
  EXPECT_FALSE(isValid(tooLong));
  EXPECT_FALSE(isValid(remoteFrame(0x100, 9)));
}

}  // namespace
}  // namespace canbus
