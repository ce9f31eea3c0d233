// A channel on a kernel CAN interface (SocketCAN raw socket): non-blocking, with error frames
// enabled and mapped to the channel state.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "canbus/channel.h"
#include "canbus/unique_fd.h"

namespace canbus {

// restart-ms set together with a bit rate: automatic recovery 100 ms after bus-off.
inline constexpr uint32_t kRestartMs = 100;

// The commands that give the interface the bit rate, for error messages.
std::string bitrateCommand(std::string_view interface, uint32_t bitrate);

// The state after an error frame (can_id with CAN_ERR_FLAG, 8 data bytes) in state `current`:
// bus-off, controller error passive or back to error active, restarted.
ChannelState stateAfterErrorFrame(ChannelState current, uint32_t canId,
                                  const std::array<uint8_t, 8>& data);

class SocketCanChannel final : public Channel {
 public:
  // Opens the interface. A real controller ("can" link) must run at options.bitrate: when it
  // does not, the rate is set (interface down, bit rate and restart-ms, up) if the process may
  // (CAP_NET_ADMIN), else the open fails with the command that fixes it. Virtual interfaces
  // (vcan) have no bit rate.
  static std::variant<std::unique_ptr<SocketCanChannel>, Error> open(std::string_view interface,
                                                                     uint32_t bitrate);

  std::optional<Frame> receive() override;
  std::optional<Error> send(const Frame& frame) override;
  ChannelState state() const override { return state_; }
  std::string name() const override { return interface_; }
  int pollFd() const override { return fd_.get(); }

  // Error frames received so far.
  std::size_t errorFrames() const { return errorFrames_; }

 private:
  SocketCanChannel(std::string interface, UniqueFd fd)
      : interface_(std::move(interface)), fd_(std::move(fd)) {}

  std::string interface_;
  UniqueFd fd_;
  ChannelState state_ = ChannelState::active;
  std::size_t errorFrames_ = 0;
};

}  // namespace canbus
