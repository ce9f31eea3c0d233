#include "canbus/channel_url.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace canbus {
namespace {

struct GoodUrl {
  const char* url;
  ChannelUrl parsed;
};

TEST(ChannelUrlTest, ParsesTheThreeForms) {
  const std::vector<GoodUrl> cases = {
      {"socketcan://can0", SocketCanUrl{"can0"}},
      {"socketcan://vcan1", SocketCanUrl{"vcan1"}},
      {"socketcan://can-usb.0_x", SocketCanUrl{"can-usb.0_x"}},
      {"socketcand://127.0.0.1:29536/sim0", SocketcandUrl{"127.0.0.1", 29536, "sim0"}},
      {"socketcand://localhost:1/can0", SocketcandUrl{"localhost", 1, "can0"}},
      {"socketcand://host.example:65535/b", SocketcandUrl{"host.example", 65535, "b"}},
      {"socketcand://localhost/sim0", SocketcandUrl{"localhost", kSocketcandDefaultPort, "sim0"}},
      {"socketcand://[::1]:29537/sim0", SocketcandUrl{"::1", 29537, "sim0"}},
      {"socketcand://[::1]/sim0", SocketcandUrl{"::1", kSocketcandDefaultPort, "sim0"}},
      {"loopback://x", LoopbackUrl{"x"}},
      {"loopback://bus-1.test", LoopbackUrl{"bus-1.test"}},
  };
  for (const GoodUrl& c : cases) {
    SCOPED_TRACE(c.url);
    const std::variant<ChannelUrl, Error> result = parseChannelUrl(c.url);
    ASSERT_TRUE(std::holds_alternative<ChannelUrl>(result)) << std::get<Error>(result).message;
    EXPECT_EQ(std::get<ChannelUrl>(result), c.parsed);
  }
}

struct BadUrl {
  const char* url;
  const char* saying;  // part of the message
};

TEST(ChannelUrlTest, RejectsBadUrlsWithAClearMessage) {
  const std::vector<BadUrl> cases = {
      {"", "expected socketcan://IFNAME"},
      {"can0", "expected socketcan://IFNAME"},
      {"serial://ttyS0", "unknown scheme 'serial'"},
      {"SocketCAN://can0", "unknown scheme"},
      {"socketcan://", "interface name"},
      {"socketcan://averyveryverylongname", "interface name"},
      {"socketcan://can 0", "interface name"},
      {"socketcan://can0/x", "interface name"},
      {"socketcan://..", "interface name"},
      {"socketcand://127.0.0.1:29536", "bus name is missing"},
      {"socketcand://127.0.0.1:29536/", "bus name"},
      {"socketcand://127.0.0.1:29536/a b", "bus name"},
      {"socketcand://127.0.0.1:29536/a<b", "bus name"},
      {"socketcand://127.0.0.1:29536/a/b", "bus name"},
      {"socketcand://:29536/sim0", "host"},
      {"socketcand://127.0.0.1:/sim0", "port is empty"},
      {"socketcand://127.0.0.1:0/sim0", "port must be"},
      {"socketcand://127.0.0.1:65536/sim0", "port must be"},
      {"socketcand://127.0.0.1:12ab/sim0", "port must be"},
      {"socketcand://::1:29536/sim0", "brackets"},
      {"socketcand://[::1/sim0", "']'"},
      {"socketcand://[::1]x/sim0", "':PORT'"},
      {"loopback://", "loopback bus name"},
      {"loopback://a b", "loopback bus name"},
  };
  for (const BadUrl& c : cases) {
    SCOPED_TRACE(c.url);
    const std::variant<ChannelUrl, Error> result = parseChannelUrl(c.url);
    ASSERT_TRUE(std::holds_alternative<Error>(result));
    const Error& error = std::get<Error>(result);
    EXPECT_EQ(error.kind, ErrorKind::badUrl);
    EXPECT_NE(error.message.find(c.saying), std::string::npos) << error.message;
    EXPECT_NE(error.message.find(std::string("'") + c.url + "'"), std::string::npos)
        << "the message names the URL: " << error.message;
  }
}

TEST(ChannelUrlTest, OpenChannelReportsBadUrls) {
  const OpenResult result = openChannel("tcp://127.0.0.1:29536/sim0");
  ASSERT_TRUE(std::holds_alternative<Error>(result));
  EXPECT_EQ(std::get<Error>(result).kind, ErrorKind::badUrl);
}

}  // namespace
}  // namespace canbus
