// A channel on a kernel CAN interface (SocketCAN raw socket): non-blocking, with error frames
// enabled and mapped to the channel state; restarts a bus-off controller that the kernel does
// not restart itself, when it may.
#pragma once

#include <sys/types.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "canbus/can_interfaces.h"
#include "canbus/can_netlink.h"
#include "canbus/channel.h"
#include "canbus/unique_fd.h"

namespace canbus {

// The state after an error frame (can_id with CAN_ERR_FLAG, 8 data bytes) in state `current`:
// bus-off, controller error passive or back to error active, restarted.
ChannelState stateAfterErrorFrame(ChannelState current, uint32_t canId,
                                  const std::array<uint8_t, 8>& data);

// What SocketCAN needs from the system. kernel() is the real one; tests hand in a socketpair, a
// netlink that they answer and a sysfs tree of their own.
struct SocketCanHost {
  // A CAN_RAW socket, non-blocking, with error frames enabled; or an errno value.
  std::function<std::variant<UniqueFd, int>()> openSocket;
  // Binds the socket to the interface: 0 or an errno value.
  std::function<int(int fd, int index)> bindSocket;
  // The interface's index, 0 when there is none.
  std::function<int(const std::string& name)> indexOf;
  // read(2) and write(2) on the socket.
  std::function<ssize_t(int fd, void* data, std::size_t size)> read;
  std::function<ssize_t(int fd, const void* data, std::size_t size)> write;
  NetlinkExchange netlink;
  std::string sysfsRoot{kSysClassNet};

  static SocketCanHost kernel();
};

class SocketCanChannel final : public Channel {
 public:
  // Opens the interface. A real controller ("can" link) must run at `bitrate`: when it does not
  // (or has none yet, as after re-plugging), the rate is set (down, bit rate, restart-ms when
  // the driver supports it, up) if the process may (CAP_NET_ADMIN), else the open fails with the
  // commands that fix it. An interface that is down is brought up the same way; one that is
  // bus-off is restarted. Virtual interfaces (vcan) have no bit rate.
  static std::variant<std::unique_ptr<SocketCanChannel>, Error> open(
      std::string_view interface, uint32_t bitrate,
      const SocketCanHost& host = SocketCanHost::kernel());

  // Opens the first CAN interface whose kernel driver is `driver` (by sysfs, at every call), so
  // a re-plugged adapter is found under whatever name it got, and another adapter never.
  static std::variant<std::unique_ptr<SocketCanChannel>, Error> openByDriver(
      std::string_view driver, uint32_t bitrate,
      const SocketCanHost& host = SocketCanHost::kernel());

  // A channel on an open socket (bound to the interface `index` named `interface`) whose link
  // runs at `bitrate` (for the fix texts).
  SocketCanChannel(UniqueFd fd, std::string interface, int index, uint32_t bitrate,
                   SocketCanHost host);

  std::optional<Frame> receive() override;
  std::optional<Error> send(const Frame& frame) override;
  ChannelState state() const override { return state_; }
  std::string name() const override { return interface_; }
  int pollFd() const override { return fd_.get(); }
  uint64_t busOffCount() const override { return busOffs_; }
  // While bus-off: why it stays and how to end it; when down: why; else what open() noted.
  std::string notice() const override;

  int index() const { return index_; }
  // Error frames received so far.
  std::size_t errorFrames() const { return errorFrames_; }
  // Records from the socket that were no classic CAN frame (other length, bad length field).
  std::size_t skippedRecords() const { return skippedRecords_; }

 private:
  void enterBusOff();
  // Reads the controller state and restarts a bus-off controller the kernel does not restart.
  void recover();
  std::string busOffText() const;
  Error lost(int error);

  std::string interface_;
  UniqueFd fd_;
  int index_;
  uint32_t bitrate_;
  SocketCanHost host_;
  NetlinkClient netlink_;
  ChannelState state_ = ChannelState::active;
  std::size_t errorFrames_ = 0;
  std::size_t skippedRecords_ = 0;
  uint64_t busOffs_ = 0;
  std::string recovery_;  // why the bus-off stays and how to end it; empty while none
  std::string notice_;
  std::string lostText_;  // why the channel went down
};

}  // namespace canbus
