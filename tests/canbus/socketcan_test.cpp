// SocketCanChannel without a kernel: its socket is one end of a socketpair carrying can_frame
// records, its netlink is answered from a fake link, its sysfs is a temporary tree
// (fake_can_kernel.h). Covers frames both ways, records that are no frame, errno values, the
// bit rate, an interface that is down or bus-off, re-plugging, and finding an adapter by its
// kernel driver.
#include <gtest/gtest.h>
#include <linux/can.h>
#include <linux/can/error.h>
#include <linux/can/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "canbus/can_fixes.h"
#include "canbus/can_interfaces.h"
#include "canbus/socketcan_channel.h"
#include "support/candump_frames.h"
#include "support/fake_can_kernel.h"

namespace canbus {
namespace {

using test_kit::FakeKernel;
using test_kit::FakeLink;
using test_kit::FakeSysfs;
using test_kit::frame;

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

TEST(SocketCanTest, FindsTheFirstInterfaceOfADriver) {
  FakeSysfs sysfs("find");
  sysfs.add("eth0", 1, 2, "e1000");
  sysfs.add("vcan0", 280, 3, "");
  sysfs.add("can1", 280, 7, "peak_usb");
  sysfs.add("can0", 280, 5, "gs_usb");
  sysfs.add("can2", 280, 6, "peak_usb");
  const std::string net = sysfs.net();

  EXPECT_EQ(findInterfaceByDriver("peak_usb", net), "can2");  // lower index: plugged first
  EXPECT_EQ(findInterfaceByDriver("gs_usb", net), "can0");
  EXPECT_EQ(findInterfaceByDriver("e1000", net), std::nullopt);  // not a CAN interface
  EXPECT_EQ(findInterfaceByDriver("kvaser_usb", net), std::nullopt);

  const std::vector<CanInterface> all = listCanInterfaces(net);
  ASSERT_EQ(all.size(), 4U);
  EXPECT_EQ(all[0], (CanInterface{"vcan0", "", 3}));
  EXPECT_EQ(all[1], (CanInterface{"can0", "gs_usb", 5}));
  EXPECT_TRUE(isCanInterface("can1", net));
  EXPECT_FALSE(isCanInterface("eth0", net));
  EXPECT_FALSE(isCanInterface("../net/can1", net));
  EXPECT_EQ(describeCanInterfaces(net), "vcan0, can0 (gs_usb), can2 (peak_usb), can1 (peak_usb)");
}

TEST(SocketCanTest, NoInterfacesAtAll) {
  FakeSysfs sysfs("none");
  EXPECT_EQ(findInterfaceByDriver("peak_usb", sysfs.net()), std::nullopt);
  EXPECT_TRUE(listCanInterfaces(sysfs.net()).empty());
  EXPECT_EQ(describeCanInterfaces(sysfs.net()), "none");
}

// A channel on can0 (index 5, peak_usb) of a fake kernel.
class FakeCan : public ::testing::Test {
 protected:
  FakeCan() : sysfs("chan"), kernel(sysfs) { sysfs.add("can0", 280, 5, "peak_usb"); }

  std::variant<std::unique_ptr<SocketCanChannel>, Error> open(uint32_t bitrate = 500000) {
    return SocketCanChannel::open("can0", bitrate, kernel.host());
  }
  std::unique_ptr<SocketCanChannel> openOk(uint32_t bitrate = 500000) {
    auto result = open(bitrate);
    if (auto* error = std::get_if<Error>(&result)) {
      ADD_FAILURE() << error->message;
      return nullptr;
    }
    return std::move(std::get<std::unique_ptr<SocketCanChannel>>(result));
  }
  static Error errorOf(std::variant<std::unique_ptr<SocketCanChannel>, Error> result) {
    if (auto* error = std::get_if<Error>(&result)) return *error;
    ADD_FAILURE() << "opened";
    return Error{ErrorKind::protocolError, ""};
  }
  // The IFLA_CAN attribute (or 0 for up/down, 1000 for a GET) of each netlink request.
  std::vector<int> requestKinds() const {
    std::vector<int> kinds;
    for (const auto& request : kernel.requests) {
      const uint16_t type = request[4] | request[5] << 8;
      kinds.push_back(type == RTM_GETLINK ? 1000 : FakeKernel::canAttributeOf(request));
    }
    return kinds;
  }

  FakeSysfs sysfs;
  FakeKernel kernel;
};

constexpr int kGet = 1000;
constexpr int kUpDown = 0;

TEST_F(FakeCan, FramesBothWays) {
  auto channel = openOk();
  ASSERT_TRUE(channel);
  EXPECT_EQ(kernel.boundIndex, 5);
  EXPECT_EQ(channel->receive(), std::nullopt);

  kernel.deliver(0x181, {0x34, 0x12});
  kernel.deliver(CAN_EFF_FLAG | 0x1234567, {1, 2, 3, 4, 5, 6, 7, 8});
  kernel.deliver(CAN_RTR_FLAG | 0x701, {}, 1);  // remote request for 1 byte
  EXPECT_EQ(toCandump(*channel->receive()), "181#3412");
  EXPECT_EQ(toCandump(*channel->receive()), "01234567#0102030405060708");
  const std::optional<Frame> remote = channel->receive();
  ASSERT_TRUE(remote);
  EXPECT_TRUE(remote->remote);
  EXPECT_EQ(remote->id, 0x701U);
  EXPECT_EQ(remote->length, 1);
  EXPECT_EQ(channel->receive(), std::nullopt);

  for (const char* text : {"601#4018100400000000", "1FFFFFFF#", "701#R1"}) {
    SCOPED_TRACE(text);
    ASSERT_EQ(channel->send(frame(text)), std::nullopt);
    const std::optional<std::vector<uint8_t>> record = kernel.sent();
    ASSERT_TRUE(record);
    ASSERT_EQ(record->size(), sizeof(can_frame));
    can_frame raw{};
    std::memcpy(&raw, record->data(), sizeof raw);
    const Frame sent = frame(text);
    const uint32_t flags = (sent.extended ? CAN_EFF_FLAG : 0U) | (sent.remote ? CAN_RTR_FLAG : 0U);
    EXPECT_EQ(raw.can_id, sent.id | flags);
    EXPECT_EQ(raw.len, sent.length);
    if (!sent.remote) {
      EXPECT_EQ(std::memcmp(raw.data, sent.data.data(), sent.length), 0);
    }
  }
}

TEST_F(FakeCan, ErrorFramesFromTheKernelSetTheState) {
  auto channel = openOk();
  ASSERT_TRUE(channel);
  kernel.deliverError(CAN_ERR_CRTL, CAN_ERR_CRTL_TX_PASSIVE);
  EXPECT_EQ(channel->receive(), std::nullopt);
  EXPECT_EQ(channel->state(), ChannelState::errorPassive);
  EXPECT_EQ(channel->errorFrames(), 1U);
  kernel.deliverError(CAN_ERR_CRTL, CAN_ERR_CRTL_ACTIVE);
  kernel.deliver(0x181, {1});
  EXPECT_EQ(toCandump(*channel->receive()), "181#01");  // error frames are not handed out
  EXPECT_EQ(channel->state(), ChannelState::active);
}

TEST_F(FakeCan, RecordsThatAreNoClassicFrameAreSkipped) {
  auto channel = openOk();
  ASSERT_TRUE(channel);
  canfd_frame fd{};
  fd.can_id = 0x123;
  fd.len = 64;
  kernel.deliver(&fd, sizeof fd);  // CAN FD: 72 bytes
  const std::vector<uint8_t> shortRecord(8, 0x11);
  kernel.deliver(shortRecord.data(), shortRecord.size());
  const std::vector<uint8_t> longRecord(200, 0xFF);
  kernel.deliver(longRecord.data(), longRecord.size());
  for (const int len : {9, 15, 255}) kernel.deliver(0x181, {1, 2, 3, 4, 5, 6, 7, 8}, len);
  kernel.deliver(0x182, {7});

  const std::optional<Frame> frame = channel->receive();
  ASSERT_TRUE(frame);
  EXPECT_EQ(toCandump(*frame), "182#07");
  EXPECT_EQ(channel->skippedRecords(), 6U);
  EXPECT_EQ(channel->receive(), std::nullopt);
  EXPECT_EQ(channel->state(), ChannelState::active);
}

TEST_F(FakeCan, AnEndlessFloodOfNonFramesDoesNotKeepReceiveFromReturning) {
  SocketCanHost host = kernel.host();
  host.read = [](int, void* data, std::size_t size) -> ssize_t {
    std::memset(data, 0, size);
    return 3;  // never a frame, never empty
  };
  auto opened = SocketCanChannel::open("can0", 500000, host);
  ASSERT_TRUE(std::holds_alternative<std::unique_ptr<SocketCanChannel>>(opened));
  auto& channel = std::get<std::unique_ptr<SocketCanChannel>>(opened);
  EXPECT_EQ(channel->receive(), std::nullopt);  // returns after its share
  EXPECT_GE(channel->skippedRecords(), 100U);
  EXPECT_EQ(channel->state(), ChannelState::active);
}

TEST_F(FakeCan, TheEndOfTheStreamIsALostChannelNotAHang) {
  auto channel = openOk();
  ASSERT_TRUE(channel);
  kernel.closeKernelEnd();
  EXPECT_EQ(channel->receive(), std::nullopt);
  EXPECT_EQ(channel->state(), ChannelState::down);
}

struct ErrnoCase {
  int error;
  ErrorKind kind;
  ChannelState after;
  const char* says;
};

TEST_F(FakeCan, SendErrorsMapToKindAndState) {
  const std::vector<ErrnoCase> cases = {
      {ENOBUFS, ErrorKind::sendFailed, ChannelState::active,
       "transmit queue of CAN interface can0 is full"},
      {EAGAIN, ErrorKind::sendFailed, ChannelState::active,
       "transmit queue of CAN interface can0 is full"},
      {ENETDOWN, ErrorKind::connectionLost, ChannelState::down, "can0 is down"},
      {ENXIO, ErrorKind::connectionLost, ChannelState::down, "can0 is gone"},
      {ENODEV, ErrorKind::connectionLost, ChannelState::down, "can0 is gone"},
      {EIO, ErrorKind::sendFailed, ChannelState::active, "Input/output error"},
  };
  for (const ErrnoCase& c : cases) {
    SCOPED_TRACE(c.error);
    auto channel = openOk();
    ASSERT_TRUE(channel);
    kernel.writeErrors = {c.error};
    const std::optional<Error> error = channel->send(frame("000#0100"));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, c.kind);
    EXPECT_NE(error->message.find(c.says), std::string::npos) << error->message;
    EXPECT_EQ(channel->state(), c.after);
    EXPECT_EQ(kernel.sent(), std::nullopt);
  }
}

TEST_F(FakeCan, ReceiveErrorsMapToTheState) {
  const std::vector<ErrnoCase> cases = {
      {EAGAIN, ErrorKind::sendFailed, ChannelState::active, ""},
      {ENETDOWN, ErrorKind::connectionLost, ChannelState::down, "can0 is down"},
      {ENODEV, ErrorKind::connectionLost, ChannelState::down, "can0 is gone"},
      {ENXIO, ErrorKind::connectionLost, ChannelState::down, "can0 is gone"},
  };
  for (const ErrnoCase& c : cases) {
    SCOPED_TRACE(c.error);
    auto channel = openOk();
    ASSERT_TRUE(channel);
    kernel.readErrors = {c.error};
    EXPECT_EQ(channel->receive(), std::nullopt);
    EXPECT_EQ(channel->state(), c.after);
    EXPECT_NE(channel->notice().find(c.says), std::string::npos) << channel->notice();
  }
}

TEST_F(FakeCan, AFullQueueDuringBusOffIsBusOff) {
  kernel.link.admin = false;
  auto channel = openOk();
  ASSERT_TRUE(channel);
  kernel.link.state = CAN_STATE_BUS_OFF;  // the bus-off error frame was lost
  kernel.writeErrors = {ENOBUFS};
  const std::optional<Error> error = channel->send(frame("601#40"));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->kind, ErrorKind::busOff);
  EXPECT_NE(error->message.find("sudo ip link set can0 type can restart"), std::string::npos)
      << error->message;
  EXPECT_EQ(channel->busOffCount(), 1U);
}

TEST_F(FakeCan, BusOffIsRestartedWhenTheProgramMay) {
  kernel.link.admin = true;
  auto channel = openOk();
  ASSERT_TRUE(channel);
  kernel.requests.clear();
  kernel.link.state = CAN_STATE_BUS_OFF;
  kernel.deliverError(CAN_ERR_BUSOFF);
  EXPECT_EQ(channel->receive(), std::nullopt);
  EXPECT_EQ(requestKinds(), (std::vector<int>{kGet, IFLA_CAN_RESTART}));
  EXPECT_EQ(kernel.link.state, static_cast<uint32_t>(CAN_STATE_ERROR_ACTIVE));
  EXPECT_EQ(channel->state(), ChannelState::active);
  EXPECT_EQ(channel->busOffCount(), 1U);
  EXPECT_EQ(channel->send(frame("601#40")), std::nullopt);
  EXPECT_TRUE(kernel.sent());
}

TEST_F(FakeCan, BusOffWithoutPermissionFailsSendsUntilSomeoneRestartsIt) {
  auto channel = openOk();
  ASSERT_TRUE(channel);
  kernel.link.state = CAN_STATE_BUS_OFF;
  kernel.deliverError(CAN_ERR_BUSOFF);
  EXPECT_EQ(channel->receive(), std::nullopt);
  EXPECT_EQ(channel->state(), ChannelState::busOff);

  // The kernel would drop the frame and say it was sent; the channel does not write it.
  const std::optional<Error> error = channel->send(frame("601#40"));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->kind, ErrorKind::busOff);
  EXPECT_EQ(kernel.sent(), std::nullopt);
  EXPECT_NE(error->message.find("CAP_NET_ADMIN"), std::string::npos) << error->message;
  EXPECT_NE(error->message.find("Fix: sudo ip link set can0 type can restart."), std::string::npos)
      << error->message;
  EXPECT_EQ(channel->notice().find("Fix: sudo ip link set can0 type can restart."),
            channel->notice().find("Fix:"));

  // Someone runs the command: the kernel restarts the controller and says so.
  kernel.link.state = CAN_STATE_ERROR_ACTIVE;
  kernel.deliverError(CAN_ERR_RESTARTED);
  EXPECT_EQ(channel->receive(), std::nullopt);
  EXPECT_EQ(channel->state(), ChannelState::active);
  EXPECT_EQ(channel->send(frame("601#40")), std::nullopt);
  EXPECT_TRUE(kernel.sent());
}

TEST_F(FakeCan, BusOffWithRestartMsIsLeftToTheKernel) {
  kernel.link.admin = true;
  kernel.link.restartMs = 100;
  auto channel = openOk();
  ASSERT_TRUE(channel);
  kernel.requests.clear();
  kernel.link.state = CAN_STATE_BUS_OFF;
  kernel.deliverError(CAN_ERR_BUSOFF);
  EXPECT_EQ(channel->receive(), std::nullopt);
  EXPECT_EQ(requestKinds(), (std::vector<int>{kGet}));
  EXPECT_EQ(channel->state(), ChannelState::busOff);
  const std::optional<Error> error = channel->send(frame("601#40"));
  ASSERT_TRUE(error);
  EXPECT_NE(error->message.find("restarts it by itself within 100 ms"), std::string::npos)
      << error->message;
}

TEST_F(FakeCan, BusOffOnADriverWithoutRestartSaysDownAndUp) {
  kernel.link.admin = true;
  kernel.link.restartSupported = false;
  auto channel = openOk();
  ASSERT_TRUE(channel);
  kernel.link.state = CAN_STATE_BUS_OFF;
  kernel.deliverError(CAN_ERR_BUSOFF);
  channel->receive();
  const std::optional<Error> error = channel->send(frame("601#40"));
  ASSERT_TRUE(error);
  EXPECT_NE(error->message.find("sudo ip link set can0 down; sudo ip link set can0 up"),
            std::string::npos)
      << error->message;
}

TEST_F(FakeCan, AnInterfaceFoundBusOffAtOpenIsRestartedOrNamesTheCommand) {
  kernel.link.state = CAN_STATE_BUS_OFF;
  const Error error = errorOf(open());
  EXPECT_EQ(error.kind, ErrorKind::busOff);
  EXPECT_NE(error.message.find("can0 is bus-off"), std::string::npos) << error.message;
  EXPECT_NE(error.message.find("Fix: sudo ip link set can0 type can restart."), std::string::npos)
      << error.message;

  kernel.link.admin = true;
  kernel.requests.clear();
  auto channel = openOk();
  ASSERT_TRUE(channel);
  EXPECT_EQ(requestKinds(), (std::vector<int>{kGet, IFLA_CAN_RESTART}));
  EXPECT_EQ(channel->state(), ChannelState::active);
}

TEST_F(FakeCan, TheBitRateIsSetApartFromRestartMs) {
  kernel.link.admin = true;
  kernel.link.bitrate = 250000;
  auto channel = openOk();
  ASSERT_TRUE(channel);
  EXPECT_EQ(requestKinds(),
            (std::vector<int>{kGet, kUpDown, IFLA_CAN_BITTIMING, IFLA_CAN_RESTART_MS, kUpDown}));
  EXPECT_EQ(kernel.link.bitrate, 500000U);
  EXPECT_EQ(kernel.link.restartMs, kRestartMs);
  EXPECT_TRUE(kernel.link.up);
  EXPECT_EQ(channel->notice(), "");
}

TEST_F(FakeCan, ADriverThatRefusesRestartMsStillGetsItsBitRate) {
  kernel.link.admin = true;
  kernel.link.restartSupported = false;
  kernel.link.bitrate = std::nullopt;
  auto channel = openOk();
  ASSERT_TRUE(channel);
  EXPECT_EQ(kernel.link.bitrate, 500000U);
  EXPECT_TRUE(kernel.link.up);
  EXPECT_NE(channel->notice().find("restart-ms refused"), std::string::npos) << channel->notice();
}

struct RefusedCase {
  const char* what;
  std::function<void(FakeLink&)> setUp;
  ErrorKind kind;
  std::vector<std::string> says;
  std::vector<std::string> saysNot;
};

TEST_F(FakeCan, WhatTheProgramMayNotFixIsSaidWithItsFix) {
  const std::vector<RefusedCase> cases = {
      {"wrong bit rate",
       [](FakeLink& l) { l.bitrate = 250000; },
       ErrorKind::bitrateMismatch,
       {"can0 runs at 250000 bit/s, but 500000 bit/s is needed", "CAP_NET_ADMIN",
        "Fix: sudo ip link set can0 down; sudo ip link set can0 type can bitrate 500000; sudo ip "
        "link set can0 up.",
        "[CAN] BitRate=500K RestartSec=100ms", "setcap cap_net_admin+ep"},
       {"restart-ms 100;", "Run as root", "&&"}},
      {"re-plugged: no bit rate, down",
       [](FakeLink& l) {
         l.bitrate = std::nullopt;
         l.up = false;
       },
       ErrorKind::permissionDenied,
       {"can0 has no bit rate yet", "sudo ip link set can0 type can bitrate 500000",
        "80-can0.network"},
       {"Run as root"}},
      {"down",
       [](FakeLink& l) { l.up = false; },
       ErrorKind::permissionDenied,
       {"can0 is down", "Fix: sudo ip link set can0 up.", "[Match] Name=can0"},
       {"bitrate 500000;"}},
  };
  for (const RefusedCase& c : cases) {
    SCOPED_TRACE(c.what);
    kernel.link = FakeLink{};
    c.setUp(kernel.link);
    const Error error = errorOf(open());
    EXPECT_EQ(error.kind, c.kind);
    for (const std::string& text : c.says) {
      EXPECT_NE(error.message.find(text), std::string::npos) << text << "\n" << error.message;
    }
    for (const std::string& text : c.saysNot) {
      EXPECT_EQ(error.message.find(text), std::string::npos) << text << "\n" << error.message;
    }
  }
}

TEST_F(FakeCan, AMissingInterfaceNamesNoRoot) {
  const Error error = errorOf(SocketCanChannel::open("can7", 500000, kernel.host()));
  EXPECT_EQ(error.kind, ErrorKind::noSuchInterface);
  EXPECT_NE(error.message.find("can7 does not exist (CAN interfaces here: can0 (peak_usb))"),
            std::string::npos)
      << error.message;
  EXPECT_NE(error.message.find("Plug in the adapter"), std::string::npos) << error.message;
  EXPECT_EQ(error.message.find("sudo"), std::string::npos) << error.message;
  EXPECT_EQ(error.message.find("root"), std::string::npos) << error.message;
}

TEST_F(FakeCan, MalformedNetlinkAnswersAtOpenAreAClearError) {
  for (const std::variant<std::vector<uint8_t>, int>& answer :
       std::vector<std::variant<std::vector<uint8_t>, int>>{std::vector<uint8_t>(3, 0xAB),
                                                            std::vector<uint8_t>{}, ETIMEDOUT}) {
    kernel.scripted = {answer};
    const Error error = errorOf(open());
    EXPECT_EQ(error.kind, ErrorKind::notSupported);
    EXPECT_NE(error.message.find("cannot be read over netlink"), std::string::npos)
        << error.message;
  }
  kernel.scripted = {test_kit::errorAnswer(1, ENODEV)};
  EXPECT_EQ(errorOf(open()).kind, ErrorKind::noSuchInterface);  // gone between two calls
}

TEST_F(FakeCan, ReplugWithANewIndexIsOpenedAgain) {
  kernel.link.admin = true;
  auto channel = openOk();
  ASSERT_TRUE(channel);
  EXPECT_EQ(channel->index(), 5);

  // Unplugged: the socket says ENODEV, the interface is gone.
  kernel.readErrors = {ENODEV};
  channel->receive();
  EXPECT_EQ(channel->state(), ChannelState::down);
  sysfs.remove("can0");
  EXPECT_EQ(errorOf(open()).kind, ErrorKind::noSuchInterface);

  // Plugged in again: a new index, down, without bit timing.
  sysfs.add("can0", 280, 9, "peak_usb");
  kernel.link.up = false;
  kernel.link.bitrate = std::nullopt;
  kernel.requests.clear();
  channel = openOk();
  ASSERT_TRUE(channel);
  EXPECT_EQ(channel->index(), 9);
  EXPECT_EQ(kernel.boundIndex, 9);
  for (const auto& request : kernel.requests) {
    EXPECT_EQ(request[20], 9) << "a request for another interface";  // ifinfomsg.ifi_index
  }
  EXPECT_EQ(kernel.link.bitrate, 500000U);
  EXPECT_TRUE(kernel.link.up);
}

TEST_F(FakeCan, TheAdapterIsFoundByItsDriverAtEveryOpenAndNoOtherOne) {
  sysfs.remove("can0");
  sysfs.add("can0", 280, 3, "gs_usb");
  sysfs.add("can1", 280, 4, "peak_usb");
  auto opened = SocketCanChannel::openByDriver("peak_usb", 500000, kernel.host());
  ASSERT_TRUE(std::holds_alternative<std::unique_ptr<SocketCanChannel>>(opened));
  EXPECT_EQ(std::get<std::unique_ptr<SocketCanChannel>>(opened)->name(), "can1");
  EXPECT_EQ(kernel.boundIndex, 4);

  // Re-plugged under another name.
  sysfs.remove("can1");
  sysfs.add("can2", 280, 8, "peak_usb");
  opened = SocketCanChannel::openByDriver("peak_usb", 500000, kernel.host());
  ASSERT_TRUE(std::holds_alternative<std::unique_ptr<SocketCanChannel>>(opened));
  EXPECT_EQ(std::get<std::unique_ptr<SocketCanChannel>>(opened)->name(), "can2");
  EXPECT_EQ(kernel.boundIndex, 8);

  // Unplugged, and another adapter took its old name: that one is not opened.
  sysfs.remove("can2");
  sysfs.remove("can0");
  sysfs.add("can1", 280, 10, "gs_usb");
  kernel.boundIndex = 0;
  opened = SocketCanChannel::openByDriver("peak_usb", 500000, kernel.host());
  ASSERT_TRUE(std::holds_alternative<Error>(opened));
  const Error& error = std::get<Error>(opened);
  EXPECT_EQ(error.kind, ErrorKind::noSuchInterface);
  EXPECT_NE(error.message.find("No CAN interface with kernel driver peak_usb (a PEAK PCAN-USB "
                               "adapter) is there (CAN interfaces here: can1 (gs_usb))"),
            std::string::npos)
      << error.message;
  EXPECT_EQ(kernel.boundIndex, 0);
  EXPECT_TRUE(kernel.requests.size() == 2U) << "netlink touched another adapter";
}

TEST(CanFixTest, NetworkdBitRates) {
  EXPECT_EQ(networkdBitrate(500000), "500K");
  EXPECT_EQ(networkdBitrate(1000000), "1M");
  EXPECT_EQ(networkdBitrate(33333), "33333");
}

}  // namespace
}  // namespace canbus
