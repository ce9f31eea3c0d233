// Hardware codes to channel URLs, defaults and CANOPEN32_CHANNELS.
#include "channel_map.h"

#include <gtest/gtest.h>

#include <string>

namespace canopen32 {
namespace {

struct Case {
  uint8_t hardware;
  const char* channels;
  const char* peakInterface;  // what the sysfs search finds for peak_usb
  const char* url;            // expected URL, or nullptr for a failure
  Code failure;
  const char* textPart;
};

TEST(ChannelMap, Table) {
  const Case cases[] = {
      {1, nullptr, nullptr, "socketcan://vcan0", 0, ""},
      {2, nullptr, nullptr, "socketcan://vcan1", 0, ""},
      {8, nullptr, "can3", "socketcan://can3", 0, ""},
      {8, nullptr, nullptr, nullptr, kInitNoInterface, "peak_usb"},
      {7, nullptr, nullptr, nullptr, kInitNotConfigured, "hardware code 7"},
      {3, "", nullptr, nullptr, kInitNotConfigured, "CANOPEN32_CHANNELS=3=URL"},
      {9, "9=socketcand://127.0.0.1:29536/sim0", nullptr, "socketcand://127.0.0.1:29536/sim0", 0,
       ""},
      {8, "9=socketcand://h/x, 8=socketcan://can1", "can0", "socketcan://can1", 0, ""},
      {1, " 1 = loopback://a ,", nullptr, "loopback://a", 0, ""},
      {9, "9=loopback://a,9=loopback://b", nullptr, "loopback://b", 0, ""},
      {9, "9=foo://x", nullptr, "foo://x", 0, ""},  // the URL itself is checked when opening
      {0, nullptr, nullptr, nullptr, kInitBadHardwareCode, "unknown hardware code 0"},
      {10, "10=loopback://a", nullptr, nullptr, kInitBadHardwareCode, "unknown hardware code 10"},
      {9, "9", nullptr, nullptr, kInitBadChannelsVariable, "'9'"},
      {9, "x=loopback://a", nullptr, nullptr, kInitBadChannelsVariable, "'x=loopback://a'"},
      {9, "12=loopback://a", nullptr, nullptr, kInitBadChannelsVariable, "CODE 1..9"},
      {9, "9=", nullptr, nullptr, kInitBadChannelsVariable, "'9='"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.hardware) + " " + (c.channels ? c.channels : "(unset)"));
    const auto result = channelUrlFor(c.hardware, c.channels, [&](std::string_view driver) {
      EXPECT_EQ(driver, "peak_usb");
      return c.peakInterface ? std::optional<std::string>(c.peakInterface) : std::nullopt;
    });
    if (c.url) {
      ASSERT_TRUE(std::holds_alternative<std::string>(result));
      EXPECT_EQ(std::get<std::string>(result), c.url);
    } else {
      ASSERT_TRUE(std::holds_alternative<InitFailure>(result));
      EXPECT_EQ(std::get<InitFailure>(result).code, c.failure);
      EXPECT_NE(std::get<InitFailure>(result).text.find(c.textPart), std::string::npos)
          << std::get<InitFailure>(result).text;
    }
  }
}

TEST(ChannelMap, CodeEightIsLookedUpByDriverUnlessConfigured) {
  EXPECT_EQ(driverFor(8, nullptr), "peak_usb");
  EXPECT_EQ(driverFor(8, "9=socketcand://h/x"), "peak_usb");
  EXPECT_EQ(driverFor(8, "8=socketcan://can1"), std::nullopt);
  EXPECT_EQ(driverFor(8, "8"), std::nullopt);  // malformed: kcoInit fails on it anyway
  for (const uint8_t other : {1, 2, 9}) EXPECT_EQ(driverFor(other, nullptr), std::nullopt);
}

}  // namespace
}  // namespace canopen32
