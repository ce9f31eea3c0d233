// The netlink requests on CAN links, byte for byte as the kernel documents them (struct
// nlmsghdr, struct ifinfomsg, IFLA_LINKINFO with IFLA_INFO_KIND "can" and IFLA_INFO_DATA, each
// attribute padded to 4 bytes), and what comes of every kind of answer.
#include "canbus/can_netlink.h"

#include <gtest/gtest.h>
#include <linux/can/netlink.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>

#include <bit>
#include <cstring>
#include <string>
#include <vector>

#include "support/fake_can_kernel.h"

namespace canbus {
namespace {

// The literal bytes below are little-endian, as struct nlmsghdr is on this host.
static_assert(std::endian::native == std::endian::little);

using Bytes = std::vector<uint8_t>;

// nlmsghdr: length, type, flags, sequence, port 0.
Bytes header(uint8_t length, uint8_t type, uint8_t flags, uint8_t sequence) {
  return {length, 0, 0, 0, type, 0, flags, 0, sequence, 0, 0, 0, 0, 0, 0, 0};
}
// ifinfomsg: family AF_UNSPEC, pad, type 0, index 5, flags, change.
Bytes ifinfo(uint8_t flags, uint8_t change) {
  return {0, 0, 0, 0, 5, 0, 0, 0, flags, 0, 0, 0, change, 0, 0, 0};
}
Bytes join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

constexpr uint8_t kGetLink = 18;    // RTM_GETLINK
constexpr uint8_t kNewLink = 16;    // RTM_NEWLINK
constexpr uint8_t kRequest = 1;     // NLM_F_REQUEST
constexpr uint8_t kRequestAck = 5;  // NLM_F_REQUEST | NLM_F_ACK

// IFLA_LINKINFO (18) { IFLA_INFO_KIND (1) "can", IFLA_INFO_DATA (2) { inner } }.
Bytes canLinkInfo(const Bytes& inner) {
  const auto dataLength = static_cast<uint8_t>(4 + inner.size());
  const auto linkInfoLength = static_cast<uint8_t>(4 + 8 + dataLength);
  return join(
      {{linkInfoLength, 0, 18, 0}, {7, 0, 1, 0, 'c', 'a', 'n', 0}, {dataLength, 0, 2, 0}, inner});
}

TEST(CanNetlinkRequests, HaveTheKernelsLayout) {
  std::vector<Bytes> seen;
  NetlinkClient client([&seen](const Bytes& request) -> std::variant<Bytes, int> {
    seen.push_back(request);
    return test_kit::errorAnswer(test_kit::sequenceOf(request), 0);
  });
  client.readLink(5);
  client.setUp(5, true);
  client.setUp(5, false);
  client.setBitrate(5, 500000);
  client.setRestartMs(5, 100);
  client.restart(5);

  // IFLA_CAN_BITTIMING (1): struct can_bittiming, 8 u32, bitrate first (500000 = 0x0007A120).
  Bytes bittiming = {36, 0, 1, 0, 0x20, 0xA1, 0x07, 0x00};
  bittiming.resize(36, 0);
  const std::vector<Bytes> expected = {
      join({header(32, kGetLink, kRequest, 1), ifinfo(0, 0)}),
      join({header(32, kNewLink, kRequestAck, 2), ifinfo(1, 1)}),  // IFF_UP set
      join({header(32, kNewLink, kRequestAck, 3), ifinfo(0, 1)}),  // IFF_UP cleared
      join({header(84, kNewLink, kRequestAck, 4), ifinfo(0, 0), canLinkInfo(bittiming)}),
      // IFLA_CAN_RESTART_MS (6), u32 100
      join({header(56, kNewLink, kRequestAck, 5), ifinfo(0, 0),
            canLinkInfo({8, 0, 6, 0, 100, 0, 0, 0})}),
      // IFLA_CAN_RESTART (7), u32 1
      join({header(56, kNewLink, kRequestAck, 6), ifinfo(0, 0),
            canLinkInfo({8, 0, 7, 0, 1, 0, 0, 0})}),
  };
  ASSERT_EQ(seen.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE("request " + std::to_string(i + 1));
    EXPECT_EQ(seen[i], expected[i]);
  }
}

struct AnswerCase {
  const char* what;
  std::function<std::variant<Bytes, int>(uint32_t sequence)> answer;
  bool wantLink;
  int error;  // 0: an acknowledgement or a link
};

Bytes withLength(Bytes bytes, uint32_t length) {
  std::memcpy(bytes.data(), &length, sizeof length);
  return bytes;
}

TEST(CanNetlinkAnswers, EveryAnswerGivesALinkOrAClearErrno) {
  const auto link = [](uint32_t sequence) {
    NetlinkBuilder message(RTM_NEWLINK, 0, sequence);
    ifinfomsg info{};
    info.ifi_index = 5;
    message.append(&info, sizeof info);
    return message.bytes();
  };
  const std::vector<AnswerCase> cases = {
      {"acknowledgement", [](uint32_t s) { return test_kit::errorAnswer(s, 0); }, false, 0},
      {"refusal", [](uint32_t s) { return test_kit::errorAnswer(s, EPERM); }, false, EPERM},
      {"link", link, true, 0},
      {"no answer at all", [](uint32_t) { return Bytes{}; }, false, EPROTO},
      {"shorter than a header", [](uint32_t) { return Bytes(10, 0); }, false, EPROTO},
      {"length beyond the data",
       [](uint32_t s) { return withLength(test_kit::errorAnswer(s, 0), 200); }, false, EPROTO},
      {"length below a header",
       [](uint32_t s) { return withLength(test_kit::errorAnswer(s, 0), 8); }, false, EPROTO},
      {"error message without its body",
       [](uint32_t s) {
         Bytes bytes = test_kit::errorAnswer(s, EPERM);
         bytes.resize(sizeof(nlmsghdr) + 2);
         return withLength(bytes, static_cast<uint32_t>(bytes.size()));
       },
       false, EPROTO},
      {"error that is no errno", [](uint32_t s) { return test_kit::errorAnswer(s, -5); }, false,
       EPROTO},
      {"error beyond the errno range", [](uint32_t s) { return test_kit::errorAnswer(s, 70000); },
       false, EPROTO},
      {"answer to another request", [](uint32_t s) { return test_kit::errorAnswer(s + 1, 0); },
       false, EPROTO},
      {"acknowledgement where a link was asked for",
       [](uint32_t s) { return test_kit::errorAnswer(s, 0); }, true, EPROTO},
      {"link where an acknowledgement was asked for", link, false, EPROTO},
      {"link without its ifinfomsg",
       [&link](uint32_t s) {
         Bytes bytes = link(s);
         bytes.resize(sizeof(nlmsghdr) + 4);
         return withLength(bytes, static_cast<uint32_t>(bytes.size()));
       },
       true, EPROTO},
      {"socket failure", [](uint32_t) { return ETIMEDOUT; }, true, ETIMEDOUT},
      {"failure without an errno", [](uint32_t) { return 0; }, true, EPROTO},
  };
  for (const AnswerCase& c : cases) {
    SCOPED_TRACE(c.what);
    NetlinkClient client([&c](const Bytes& request) -> std::variant<Bytes, int> {
      return c.answer(test_kit::sequenceOf(request));
    });
    int error = 0;
    if (c.wantLink) {
      const std::variant<LinkInfo, int> result = client.readLink(5);
      error = std::holds_alternative<int>(result) ? std::get<int>(result) : 0;
    } else {
      error = client.setUp(5, true);
    }
    EXPECT_EQ(error, c.error);
  }
  EXPECT_NE(netlinkErrorText(EPROTO).find("made no sense"), std::string::npos);
  EXPECT_EQ(netlinkErrorText(EPERM), "Operation not permitted");
}

// An RTM_NEWLINK message as the kernel sends it for a CAN controller.
std::vector<uint8_t> canLinkMessage(uint32_t bitrate, bool up, const char* kind) {
  NetlinkBuilder message(RTM_NEWLINK, 0, 7);
  ifinfomsg info{};
  info.ifi_index = 5;
  info.ifi_flags = up ? IFF_UP : 0;
  message.append(&info, sizeof info);
  message.attribute(IFLA_IFNAME, "can0", 5);
  const std::size_t linkInfo = message.beginNested(IFLA_LINKINFO);
  message.attribute(IFLA_INFO_KIND, kind, std::strlen(kind));
  const std::size_t data = message.beginNested(IFLA_INFO_DATA);
  const uint32_t state = CAN_STATE_ERROR_ACTIVE;
  message.attribute(IFLA_CAN_STATE, &state, sizeof state);
  if (bitrate != 0) {
    can_bittiming timing{};
    timing.bitrate = bitrate;
    timing.sample_point = 875;
    message.attribute(IFLA_CAN_BITTIMING, &timing, sizeof timing);
  }
  const uint32_t restart = 100;
  message.attribute(IFLA_CAN_RESTART_MS, &restart, sizeof restart);
  message.endNested(data);
  message.endNested(linkInfo);
  const uint32_t mtu = 16;
  message.attribute(IFLA_MTU, &mtu, sizeof mtu);
  return message.bytes();
}

TEST(CanNetlinkTest, ReadsBitrateStateAndKindFromALinkMessage) {
  const std::vector<uint8_t> bytes = canLinkMessage(250000, true, "can");
  const std::optional<LinkInfo> link = parseLinkMessage(bytes.data(), bytes.size());
  ASSERT_TRUE(link.has_value());
  EXPECT_EQ(link->index, 5);
  EXPECT_EQ(link->name, "can0");
  EXPECT_TRUE(link->up);
  EXPECT_EQ(link->kind, "can");
  EXPECT_EQ(link->bitrate, 250000U);
  EXPECT_EQ(link->restartMs, 100U);
}

TEST(CanNetlinkTest, NoBitrateBeforeOneWasSetOrOnVirtualLinks) {
  const std::vector<uint8_t> unset = canLinkMessage(0, false, "can");
  const std::optional<LinkInfo> link = parseLinkMessage(unset.data(), unset.size());
  ASSERT_TRUE(link.has_value());
  EXPECT_FALSE(link->up);
  EXPECT_EQ(link->bitrate, std::nullopt);

  const std::vector<uint8_t> vcan = canLinkMessage(500000, true, "vcan");
  EXPECT_EQ(parseLinkMessage(vcan.data(), vcan.size())->bitrate, std::nullopt);
}

TEST(CanNetlinkTest, RejectsTruncatedOrForeignMessages) {
  std::vector<uint8_t> bytes = canLinkMessage(250000, true, "can");
  EXPECT_FALSE(parseLinkMessage(bytes.data(), 10).has_value());
  EXPECT_FALSE(parseLinkMessage(bytes.data(), bytes.size() - 4).has_value());  // length says more
  NetlinkBuilder other(RTM_NEWADDR, 0, 1);
  ifinfomsg info{};
  other.append(&info, sizeof info);
  const std::vector<uint8_t> address = other.bytes();
  EXPECT_FALSE(parseLinkMessage(address.data(), address.size()).has_value());
  // Attributes whose lengths lie are ignored, not read past.
  std::vector<uint8_t> lying = canLinkMessage(250000, true, "can");
  lying[sizeof(nlmsghdr) + sizeof(ifinfomsg)] = 0xFF;  // first attribute's length
  const std::optional<LinkInfo> link = parseLinkMessage(lying.data(), lying.size());
  ASSERT_TRUE(link.has_value());
  EXPECT_EQ(link->bitrate, std::nullopt);
}

TEST(CanNetlinkTest, ReadsTheControllerStateAndIgnoresUnknownStates) {
  for (const auto& [raw, expected] : std::vector<std::pair<uint32_t, std::optional<CanState>>>{
           {CAN_STATE_BUS_OFF, CanState::busOff},
           {CAN_STATE_ERROR_PASSIVE, CanState::errorPassive},
           {CAN_STATE_SLEEPING, CanState::sleeping},
           {77, std::nullopt}}) {
    NetlinkBuilder message(RTM_NEWLINK, 0, 1);
    ifinfomsg info{};
    message.append(&info, sizeof info);
    const std::size_t linkInfo = message.beginNested(IFLA_LINKINFO);
    message.attribute(IFLA_INFO_KIND, "can", 3);
    const std::size_t data = message.beginNested(IFLA_INFO_DATA);
    message.attribute(IFLA_CAN_STATE, &raw, sizeof raw);
    message.endNested(data);
    message.endNested(linkInfo);
    const Bytes bytes = message.bytes();
    EXPECT_EQ(parseLinkMessage(bytes.data(), bytes.size())->canState, expected) << raw;
  }
}

TEST(CanNetlinkTest, ReadsTheLoopbackInterface) {
  const unsigned index = ::if_nametoindex("lo");
  if (index == 0) GTEST_SKIP() << "no lo interface";
  const std::variant<LinkInfo, int> link = readLinkInfo(static_cast<int>(index));
  if (std::holds_alternative<int>(link))
    GTEST_SKIP() << "rtnetlink unavailable: " << std::get<int>(link);
  EXPECT_EQ(std::get<LinkInfo>(link).name, "lo");
  EXPECT_EQ(std::get<LinkInfo>(link).bitrate, std::nullopt);
}

}  // namespace
}  // namespace canbus
