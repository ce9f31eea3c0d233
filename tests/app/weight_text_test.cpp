#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "WeightText.h"

TEST(WeightText, RoundsHalvesAwayFromZeroWithoutNegativeZero) {
  const struct {
    float weight;
    const char* text;
  } cases[] = {
      {0.0F, "0"},        {-0.0F, "0"},       {-0.3F, "0"},     {-0.5F, "-1"},
      {0.5F, "1"},        {0.49999997F, "0"}, {2.5F, "3"},      {-2.5F, "-3"},
      {12.5F, "13"},      {-12.5F, "-13"},    {1234.4F, "1234"}, {-40000.0F, "-40000"},
      {16777216.0F, "16777216"},
      {3.4028235e38F, "340282346638528859811704183484516925440"},
  };
  for (const auto& c : cases) {
    const auto text = WeightText(c.weight);
    ASSERT_TRUE(text.has_value()) << c.weight;
    EXPECT_EQ(text->toStdString(), c.text) << c.weight;
  }
}

TEST(WeightText, NoTextForValuesThatAreNoNumber) {
  EXPECT_FALSE(WeightText(std::numeric_limits<float>::quiet_NaN()).has_value());
  EXPECT_FALSE(WeightText(std::numeric_limits<float>::infinity()).has_value());
  EXPECT_FALSE(WeightText(-std::numeric_limits<float>::infinity()).has_value());
}
