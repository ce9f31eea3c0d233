// What a user reads (kcoInit's failure text, kcoGetText of the codes) when a real adapter is
// missing, down, at another bit rate, bus-off or re-plugged, and the program may not fix it:
// the library's channel handling over SocketCanChannel on a fake kernel. Each text is printed,
// so that it can be read as the user sees it.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "canbus/socketcan_channel.h"
#include "channel_link.h"
#include "channel_map.h"
#include "error_text.h"
#include "support/candump_frames.h"
#include "support/fake_can_kernel.h"

namespace canopen32 {
namespace {

using test_kit::FakeKernel;
using test_kit::FakeSysfs;

class RealAdapter : public ::testing::Test {
 protected:
  RealAdapter() : sysfs("user"), kernel(sysfs) { sysfs.add("can0", 280, 5, "peak_usb"); }

  // kcoInit's text for code 8 over the fake kernel.
  InitFailure initFailure() {
    auto opened = canbus::SocketCanChannel::openByDriver("peak_usb", 500000, kernel.host());
    EXPECT_TRUE(std::holds_alternative<canbus::Error>(opened));
    if (!std::holds_alternative<canbus::Error>(opened)) return {};
    return initFailureFor(8, "socketcan://can0", std::get<canbus::Error>(opened), 500000);
  }
  ChannelOpener opener() {
    return [this](std::string_view, const canbus::OpenOptions& options) -> canbus::OpenResult {
      auto opened =
          canbus::SocketCanChannel::openByDriver("peak_usb", options.bitrate, kernel.host());
      if (auto* error = std::get_if<canbus::Error>(&opened)) return *error;
      return std::unique_ptr<canbus::Channel>(
          std::move(std::get<std::unique_ptr<canbus::SocketCanChannel>>(opened)));
    };
  }
  static void show(const char* what, const std::string& text) {
    std::printf("--- %s:\n%s\n", what, text.c_str());
  }
  // Every command the text tells the user to run has its sudo.
  static void expectSudoOnEachCommand(const std::string& text) {
    for (std::size_t at = text.find("ip link set"); at != std::string::npos;
         at = text.find("ip link set", at + 1)) {
      EXPECT_GE(at, 5U);
      EXPECT_EQ(text.substr(at - 5, 5), "sudo ") << text;
    }
  }

  FakeSysfs sysfs;
  FakeKernel kernel;
};

TEST_F(RealAdapter, InterfaceMissing) {
  sysfs.remove("can0");
  const InitFailure failure = initFailure();
  show("kcoInit, hardware code 8, no PEAK adapter plugged in", failure.text);
  EXPECT_EQ(failure.code, kInitNoInterface);
  EXPECT_NE(failure.text.find("Plug in the adapter"), std::string::npos);
  EXPECT_EQ(failure.text.find("root"), std::string::npos);
  EXPECT_EQ(failure.text.find("sudo"), std::string::npos);
}

TEST_F(RealAdapter, InterfaceDown) {
  kernel.link.up = false;
  const InitFailure failure = initFailure();
  show("kcoInit, can0 down, no CAP_NET_ADMIN", failure.text);
  EXPECT_EQ(failure.code, kInitPermission);
  EXPECT_NE(failure.text.find("Fix: sudo ip link set can0 up."), std::string::npos);
  expectSudoOnEachCommand(failure.text);
}

TEST_F(RealAdapter, WrongBitRate) {
  kernel.link.bitrate = 250000;
  const InitFailure failure = initFailure();
  show("kcoInit, can0 at 250000 bit/s, no CAP_NET_ADMIN", failure.text);
  EXPECT_EQ(failure.code, kInitBitrateMismatch);
  EXPECT_NE(failure.text.find("type can bitrate 500000;"), std::string::npos);
  EXPECT_NE(failure.text.find("BitRate=500K"), std::string::npos);
  expectSudoOnEachCommand(failure.text);
}

TEST_F(RealAdapter, BusOff) {
  auto opened = canbus::SocketCanChannel::open("can0", 500000, kernel.host());
  ASSERT_TRUE(std::holds_alternative<std::unique_ptr<canbus::SocketCanChannel>>(opened));
  ChannelLink link("socketcan://can0", {},
                   std::move(std::get<std::unique_ptr<canbus::SocketCanChannel>>(opened)), opener(),
                   nullptr);
  kernel.link.state = CAN_STATE_BUS_OFF;
  kernel.deliverError(CAN_ERR_BUSOFF);
  while (link.receive()) {
  }
  EXPECT_EQ(link.service(Duration{}), kBusOff);
  EXPECT_EQ(link.send(test_kit::frame("000#0100")), kBusOff);
  const std::string text = textFor(kBusOff);
  show("kcoGetText(0x1013), can0 bus-off, no CAP_NET_ADMIN", text);
  EXPECT_NE(text.find("Fix: sudo ip link set can0 type can restart."), std::string::npos);
  EXPECT_NE(text.find("RestartSec=100ms"), std::string::npos);
  expectSudoOnEachCommand(text);
}

TEST_F(RealAdapter, Replugged) {
  ChannelLink link("socketcan://can0", {}, nullptr, opener(), nullptr);
  EXPECT_EQ(link.service(Duration{}), kSent);
  EXPECT_EQ(link.service(kReopenInterval), kSent);
  ASSERT_TRUE(link.available());

  kernel.readErrors = {ENODEV};  // unplugged
  EXPECT_EQ(link.receive(), std::nullopt);
  sysfs.remove("can0");
  EXPECT_EQ(link.service(2 * kReopenInterval), kSdoChannelLost);
  EXPECT_EQ(link.service(3 * kReopenInterval), kSent);
  show("kcoGetText(0x1011), PEAK adapter unplugged", textFor(kChannelUnavailable));
  EXPECT_NE(link.unavailableReason().find("No CAN interface with kernel driver peak_usb"),
            std::string::npos);

  // Plugged in again: down and without bit rate, and the program may not set them.
  sysfs.add("can1", 280, 9, "peak_usb");
  kernel.link.up = false;
  kernel.link.bitrate = std::nullopt;
  EXPECT_EQ(link.service(4 * kReopenInterval), kSent);
  EXPECT_FALSE(link.available());
  const std::string text = textFor(kChannelUnavailable);
  show("kcoGetText(0x1011), PEAK adapter re-plugged as can1, no CAP_NET_ADMIN", text);
  EXPECT_NE(text.find("can1 has no bit rate yet"), std::string::npos);
  EXPECT_NE(text.find("sudo ip link set can1 type can bitrate 500000"), std::string::npos);
  expectSudoOnEachCommand(text);

  // Someone gives it the rate: the next reopen takes it.
  kernel.link.up = true;
  kernel.link.bitrate = 500000;
  EXPECT_EQ(link.service(5 * kReopenInterval), kSent);
  EXPECT_TRUE(link.available());
}

}  // namespace
}  // namespace canopen32
