#include <gtest/gtest.h>
#include <linux/can.h>
#include <linux/can/error.h>
#include <linux/can/netlink.h>
#include <linux/if_link.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "canbus/can_interfaces.h"
#include "canbus/can_netlink.h"
#include "canbus/socketcan_channel.h"

namespace canbus {
namespace {

namespace fs = std::filesystem;

bool kernelHasCan() {
  const int fd = ::socket(PF_CAN, SOCK_RAW, CAN_RAW);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

TEST(SocketCanTest, OpeningWithoutKernelSupportOrInterfaceIsAClearError) {
  const OpenResult result = openChannel("socketcan://can0");
  if (std::holds_alternative<std::unique_ptr<Channel>>(result)) {
    GTEST_SKIP() << "this machine has a usable can0";
  }
  const Error& error = std::get<Error>(result);
  if (!kernelHasCan()) {
    // This is what the development machines and CI show.
    EXPECT_EQ(error.kind, ErrorKind::notSupported);
    EXPECT_NE(error.message.find("no SocketCAN support"), std::string::npos) << error.message;
  } else {
    EXPECT_TRUE(error.kind == ErrorKind::noSuchInterface ||
                error.kind == ErrorKind::bitrateMismatch ||
                error.kind == ErrorKind::permissionDenied)
        << error.message;
  }
  EXPECT_NE(error.message.find("can0"), std::string::npos) << error.message;
}

TEST(SocketCanTest, AMissingInterfaceIsNamed) {
  if (!kernelHasCan()) GTEST_SKIP() << "the kernel has no CAN support";
  const OpenResult result = openChannel("socketcan://nocan9");
  ASSERT_TRUE(std::holds_alternative<Error>(result));
  EXPECT_EQ(std::get<Error>(result).kind, ErrorKind::noSuchInterface);
  EXPECT_NE(std::get<Error>(result).message.find("nocan9 does not exist"), std::string::npos);
}

TEST(SocketCanTest, BitrateCommandIsTheExactFix) {
  EXPECT_EQ(bitrateCommand("can0", 500000),
            "ip link set can0 down && ip link set can0 type can bitrate 500000 restart-ms 100 && "
            "ip link set can0 up");
}

struct ErrorFrameCase {
  const char* what;
  ChannelState before;
  uint32_t canId;
  uint8_t controller;  // data[1]
  ChannelState after;
};

TEST(SocketCanTest, ErrorFramesDriveTheState) {
  using S = ChannelState;
  const std::vector<ErrorFrameCase> cases = {
      {"bus-off", S::active, CAN_ERR_FLAG | CAN_ERR_BUSOFF, 0, S::busOff},
      {"rx passive", S::active, CAN_ERR_FLAG | CAN_ERR_CRTL, CAN_ERR_CRTL_RX_PASSIVE,
       S::errorPassive},
      {"tx passive", S::active, CAN_ERR_FLAG | CAN_ERR_CRTL, CAN_ERR_CRTL_TX_PASSIVE,
       S::errorPassive},
      {"warning only", S::active, CAN_ERR_FLAG | CAN_ERR_CRTL, CAN_ERR_CRTL_TX_WARNING, S::active},
      {"back to active", S::errorPassive, CAN_ERR_FLAG | CAN_ERR_CRTL, CAN_ERR_CRTL_ACTIVE,
       S::active},
      {"restarted", S::busOff, CAN_ERR_FLAG | CAN_ERR_RESTARTED, 0, S::active},
      {"protocol error keeps passive", S::errorPassive, CAN_ERR_FLAG | CAN_ERR_PROT, 0,
       S::errorPassive},
      {"no ack keeps bus-off", S::busOff, CAN_ERR_FLAG | CAN_ERR_ACK, 0, S::busOff},
      {"bus-off wins", S::active, CAN_ERR_FLAG | CAN_ERR_BUSOFF | CAN_ERR_RESTARTED, 0, S::busOff},
  };
  for (const ErrorFrameCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::array<uint8_t, 8> data{};
    data[1] = c.controller;
    EXPECT_EQ(stateAfterErrorFrame(c.before, c.canId, data), c.after);
  }
}

// A fake /sys/class/net in a temporary directory.
class FakeSysfs : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("canbus-sysfs-" + std::to_string(::getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "drivers" / "peak_usb");
    fs::create_directories(root_ / "drivers" / "gs_usb");
  }
  void TearDown() override { fs::remove_all(root_); }

  void addInterface(const std::string& name, int type, int index, const std::string& driver) {
    const fs::path dir = root_ / "net" / name;
    fs::create_directories(dir);
    std::ofstream(dir / "type") << type << "\n";
    std::ofstream(dir / "ifindex") << index << "\n";
    if (!driver.empty()) {
      fs::create_directories(dir / "device");
      fs::create_directory_symlink(root_ / "drivers" / driver, dir / "device" / "driver");
    }
  }
  std::string net() const { return (root_ / "net").string(); }

  fs::path root_;
};

TEST_F(FakeSysfs, FindsTheFirstInterfaceOfADriver) {
  addInterface("eth0", 1, 2, "e1000");
  addInterface("vcan0", 280, 3, "");
  addInterface("can1", 280, 7, "peak_usb");
  addInterface("can0", 280, 5, "gs_usb");
  addInterface("can2", 280, 6, "peak_usb");

  EXPECT_EQ(findInterfaceByDriver("peak_usb", net()), "can2");  // lower index: plugged first
  EXPECT_EQ(findInterfaceByDriver("gs_usb", net()), "can0");
  EXPECT_EQ(findInterfaceByDriver("e1000", net()), std::nullopt);  // not a CAN interface
  EXPECT_EQ(findInterfaceByDriver("kvaser_usb", net()), std::nullopt);

  const std::vector<CanInterface> all = listCanInterfaces(net());
  ASSERT_EQ(all.size(), 4U);
  EXPECT_EQ(all[0], (CanInterface{"vcan0", "", 3}));
  EXPECT_EQ(all[1], (CanInterface{"can0", "gs_usb", 5}));
  EXPECT_TRUE(isCanInterface("can1", net()));
  EXPECT_FALSE(isCanInterface("eth0", net()));
  EXPECT_FALSE(isCanInterface("../net/can1", net()));
  EXPECT_EQ(describeCanInterfaces(net()), "vcan0, can0 (gs_usb), can2 (peak_usb), can1 (peak_usb)");
}

TEST_F(FakeSysfs, NoInterfacesAtAll) {
  EXPECT_EQ(findInterfaceByDriver("peak_usb", net()), std::nullopt);
  EXPECT_TRUE(listCanInterfaces(net()).empty());
  EXPECT_EQ(describeCanInterfaces(net()), "none");
}

TEST(SocketCanTest, TheRealSysfsHasNoPeakAdapterHereOrNamesOne) {
  const std::optional<std::string> peak = findInterfaceByDriver("peak_usb");
  if (peak) {
    EXPECT_TRUE(isCanInterface(*peak));
  }
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
