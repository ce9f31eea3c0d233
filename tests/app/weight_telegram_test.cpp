#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "WeightTelegram.h"

namespace {

std::vector<int> bytesOf(const std::u16string& telegram) {
  std::vector<int> bytes;
  for (const char16_t unit : telegram) bytes.push_back(unit & 0xFF);
  return bytes;
}

std::vector<int> telegramFor(int flag, int low, int high) {
  return {0x55, 0x55, 0x55, 0x55, 0x55, 0xAA, 0xAA, 0xD0, flag, low, high, 0xD0, flag, low, high,
          0x2A, 0x2A};
}

}  // namespace

TEST(WeightTelegram, RoundsTiesToEvenAndTakesSixteenBits) {
  const struct {
    float weight;
    int flag, low, high;
  } cases[] = {
      {0.0F, 0x00, 0x00, 0x00},      {1234.0F, 0x00, 0xD2, 0x04},  {-5.0F, 0x02, 0xFB, 0xFF},
      {12.5F, 0x00, 0x0C, 0x00},     {13.5F, 0x00, 0x0E, 0x00},    {-12.5F, 0x02, 0xF4, 0xFF},
      {-0.4F, 0x00, 0x00, 0x00},     {40000.0F, 0x02, 0x40, 0x9C}, {-40000.0F, 0x00, 0xC0, 0x63},
      {32767.0F, 0x00, 0xFF, 0x7F},  {-32768.0F, 0x02, 0x00, 0x80}, {65536.0F, 0x00, 0x00, 0x00},
      {1e9F, 0x02, 0x00, 0xCA},      {-1e9F, 0x00, 0x00, 0x36},
      {3.4028235e38F, 0x00, 0x00, 0x00},
  };
  for (const auto& c : cases) {
    const auto value = TelegramValue(c.weight);
    ASSERT_TRUE(value.has_value()) << c.weight;
    const std::u16string telegram = WeightTelegram(*value);
    EXPECT_EQ(telegram.size(), 17U);
    EXPECT_EQ(bytesOf(telegram), telegramFor(c.flag, c.low, c.high)) << c.weight;
  }
}

TEST(WeightTelegram, NothingForValuesThatAreNoNumber) {
  EXPECT_FALSE(TelegramValue(std::numeric_limits<float>::quiet_NaN()).has_value());
  EXPECT_FALSE(TelegramValue(std::numeric_limits<float>::infinity()).has_value());
  EXPECT_FALSE(TelegramValue(-std::numeric_limits<float>::infinity()).has_value());
}

TEST(WeightTelegram, IsTheTextOfSeventeenCharactersBelowU0100) {
  const std::u16string telegram = WeightTelegram(0x04D2);
  EXPECT_EQ(telegram.substr(0, 7), u"UUUUU\u00AA\u00AA");
  EXPECT_EQ(telegram.substr(15), u"**");
  for (const char16_t unit : telegram) EXPECT_LT(unit, 0x100);
}
