#include "canbus/socketcan_channel.h"

#include <linux/can.h>
#include <linux/can/error.h>
#include <linux/can/raw.h>
#include <net/if.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "canbus/can_interfaces.h"
#include "canbus/can_netlink.h"

namespace canbus {
namespace {

bool isDownError(int error) {
  return error == ENETDOWN || error == ENODEV || error == ENXIO || error == ENETUNREACH;
}

std::string rate(uint32_t bitrate) { return std::to_string(bitrate) + " bit/s"; }

// Gives a real controller the bit rate: down, rate with restart-ms, up. 0 or an errno value.
int reconfigure(int index, uint32_t bitrate) {
  if (const int error = setLinkUp(index, false); error != 0) return error;
  const int error = setCanBitrate(index, bitrate, kRestartMs);
  const int upError = setLinkUp(index, true);
  return error != 0 ? error : upError;
}

// Checks (and when allowed, fixes) the interface's bit rate and that it is up.
std::optional<Error> prepareLink(std::string_view interface, int index, uint32_t bitrate) {
  const std::variant<LinkInfo, int> read = readLinkInfo(index);
  if (std::holds_alternative<int>(read)) return std::nullopt;  // cannot tell; the socket will
  const LinkInfo& link = std::get<LinkInfo>(read);
  const std::string name(interface);

  if (link.kind == "can" && link.bitrate != bitrate) {
    const int error = reconfigure(index, bitrate);
    if (error == 0) return std::nullopt;
    const std::string fix = " Run as root: " + bitrateCommand(interface, bitrate);
    const bool denied = error == EPERM || error == EACCES;
    if (link.bitrate) {
      return Error{
          ErrorKind::bitrateMismatch,
          "CAN interface " + name + " runs at " + rate(*link.bitrate) + ", but " + rate(bitrate) +
              " is needed, and changing it " +
              (denied ? std::string("needs CAP_NET_ADMIN.") : "failed: " + errnoText(error) + ".") +
              fix};
    }
    return Error{
        denied ? ErrorKind::permissionDenied : ErrorKind::bitrateMismatch,
        "CAN interface " + name + " has no bit rate set, and setting " + rate(bitrate) + " " +
            (denied ? std::string("needs CAP_NET_ADMIN.") : "failed: " + errnoText(error) + ".") +
            fix};
  }
  if (!link.up) {
    const int error = setLinkUp(index, true);
    if (error == 0) return std::nullopt;
    return Error{
        error == EPERM || error == EACCES ? ErrorKind::permissionDenied : ErrorKind::connectionLost,
        "CAN interface " + name + " is down, and bringing it up failed: " + errnoText(error) +
            ". Run as root: ip link set " + name + " up"};
  }
  return std::nullopt;
}

}  // namespace

std::string bitrateCommand(std::string_view interface, uint32_t bitrate) {
  const std::string name(interface);
  return "ip link set " + name + " down && ip link set " + name + " type can bitrate " +
         std::to_string(bitrate) + " restart-ms " + std::to_string(kRestartMs) +
         " && ip link set " + name + " up";
}

ChannelState stateAfterErrorFrame(ChannelState current, uint32_t canId,
                                  const std::array<uint8_t, 8>& data) {
  if ((canId & CAN_ERR_BUSOFF) != 0) return ChannelState::busOff;
  ChannelState next = current;
  if ((canId & CAN_ERR_RESTARTED) != 0) next = ChannelState::active;
  if ((canId & CAN_ERR_CRTL) != 0) {
    const uint8_t status = data[1];
    if ((status & (CAN_ERR_CRTL_RX_PASSIVE | CAN_ERR_CRTL_TX_PASSIVE)) != 0) {
      next = ChannelState::errorPassive;
    } else if ((status & CAN_ERR_CRTL_ACTIVE) != 0) {
      next = ChannelState::active;
    }
  }
  if (next == ChannelState::down) next = ChannelState::active;  // an error frame means it is up
  return next;
}

std::variant<std::unique_ptr<SocketCanChannel>, Error> SocketCanChannel::open(
    std::string_view interface, uint32_t bitrate) {
  const std::string name(interface);
  UniqueFd fd(::socket(PF_CAN, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, CAN_RAW));
  if (!fd) {
    const int error = errno;
    if (error == EAFNOSUPPORT || error == EPROTONOSUPPORT) {
      return Error{ErrorKind::notSupported,
                   "This kernel has no SocketCAN support (socket(PF_CAN) failed: " +
                       errnoText(error) + "), so CAN interface " + name +
                       " cannot be opened; load the modules with: modprobe can_raw"};
    }
    return Error{
        error == EPERM || error == EACCES ? ErrorKind::permissionDenied : ErrorKind::notSupported,
        "Cannot open a CAN socket for " + name + ": " + errnoText(error) + "."};
  }
  const unsigned index = ::if_nametoindex(name.c_str());
  if (index == 0) {
    return Error{ErrorKind::noSuchInterface,
                 "CAN interface " + name +
                     " does not exist (CAN interfaces here: " + describeCanInterfaces() + ")."};
  }
  if (!isCanInterface(name)) {
    return Error{ErrorKind::noSuchInterface, "Interface " + name +
                                                 " is not a CAN interface (CAN "
                                                 "interfaces here: " +
                                                 describeCanInterfaces() + ")."};
  }
  if (std::optional<Error> error = prepareLink(name, static_cast<int>(index), bitrate)) {
    return std::move(*error);
  }

  const can_err_mask_t errorMask = CAN_ERR_MASK;
  if (::setsockopt(fd.get(), SOL_CAN_RAW, CAN_RAW_ERR_FILTER, &errorMask, sizeof errorMask) != 0) {
    return Error{ErrorKind::notSupported,
                 "Cannot enable error frames on " + name + ": " + errnoText(errno) + "."};
  }
  sockaddr_can address{};
  address.can_family = AF_CAN;
  address.can_ifindex = static_cast<int>(index);
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    const int error = errno;
    return Error{isDownError(error) ? ErrorKind::noSuchInterface : ErrorKind::notSupported,
                 "Cannot bind to CAN interface " + name + ": " + errnoText(error) + "."};
  }
  return std::unique_ptr<SocketCanChannel>(new SocketCanChannel(name, std::move(fd)));
}

std::optional<Frame> SocketCanChannel::receive() {
  for (;;) {
    can_frame raw{};
    const ssize_t n = ::read(fd_.get(), &raw, sizeof raw);
    if (n < 0) {
      const int error = errno;
      if (error == EINTR) continue;
      if (isDownError(error)) state_ = ChannelState::down;
      return std::nullopt;  // EAGAIN: nothing waiting
    }
    if (static_cast<std::size_t>(n) != sizeof raw) continue;  // not a classic frame
    std::array<uint8_t, 8> data{};
    std::memcpy(data.data(), raw.data, data.size());
    if ((raw.can_id & CAN_ERR_FLAG) != 0) {
      ++errorFrames_;
      state_ = stateAfterErrorFrame(state_, raw.can_id, data);
      continue;
    }
    if (state_ == ChannelState::down) state_ = ChannelState::active;  // it came back up
    Frame frame;
    frame.extended = (raw.can_id & CAN_EFF_FLAG) != 0;
    frame.remote = (raw.can_id & CAN_RTR_FLAG) != 0;
    frame.id = raw.can_id & (frame.extended ? CAN_EFF_MASK : CAN_SFF_MASK);
    frame.length = raw.len > kMaxDataLength ? kMaxDataLength : raw.len;
    if (!frame.remote) std::memcpy(frame.data.data(), raw.data, frame.length);
    return frame;
  }
}

std::optional<Error> SocketCanChannel::send(const Frame& frame) {
  if (!isValid(frame)) {
    return Error{ErrorKind::sendFailed, "Frame " + toCandump(frame) +
                                            " is not a valid CAN frame; " + interface_ +
                                            " did not send it."};
  }
  can_frame raw{};
  raw.can_id = frame.id | (frame.extended ? CAN_EFF_FLAG : 0U) | (frame.remote ? CAN_RTR_FLAG : 0U);
  raw.len = frame.length;
  if (!frame.remote) std::memcpy(raw.data, frame.data.data(), frame.length);
  for (;;) {
    const ssize_t n = ::write(fd_.get(), &raw, sizeof raw);
    if (n == static_cast<ssize_t>(sizeof raw)) return std::nullopt;
    const int error = n < 0 ? errno : EIO;
    if (error == EINTR) continue;
    if (isDownError(error)) {
      state_ = ChannelState::down;
      return Error{ErrorKind::connectionLost,
                   "CAN interface " + interface_ + " is down: " + errnoText(error) + "."};
    }
    if (state_ == ChannelState::busOff) {
      return Error{ErrorKind::busOff, "CAN interface " + interface_ + " is bus-off; the frame " +
                                          toCandump(frame) + " was not sent."};
    }
    if (error == EAGAIN || error == EWOULDBLOCK || error == ENOBUFS) {
      return Error{ErrorKind::sendFailed, "The transmit queue of CAN interface " + interface_ +
                                              " is full; the frame " + toCandump(frame) +
                                              " was not sent."};
    }
    return Error{ErrorKind::sendFailed, "Sending " + toCandump(frame) + " on CAN interface " +
                                            interface_ + " failed: " + errnoText(error) + "."};
  }
}

}  // namespace canbus
