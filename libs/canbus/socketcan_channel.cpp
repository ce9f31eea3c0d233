#include "canbus/socketcan_channel.h"

#include <linux/can.h>
#include <linux/can/error.h>
#include <linux/can/raw.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "canbus/can_fixes.h"

namespace canbus {
namespace {

// Records read or skipped in one receive() at most, so that a flood of error frames or of
// records that are no frame cannot keep it from returning.
constexpr int kMaxRecordsPerReceive = 1000;

bool isGoneError(int error) { return error == ENODEV || error == ENXIO; }
bool isDownError(int error) {
  // EPIPE: the other end of a socket pair closed (a real CAN socket never says it).
  return error == ENETDOWN || error == ENETUNREACH || error == EPIPE || isGoneError(error);
}
bool isDenied(int error) { return error == EPERM || error == EACCES; }

std::string rate(uint32_t bitrate) { return std::to_string(bitrate) + " bit/s"; }

std::string needsAdmin() { return "the program may not (that needs CAP_NET_ADMIN)"; }

// What happened to a request the program tried: "the program may not (...)" or "it failed: ...".
std::string refusal(int error) {
  return isDenied(error) ? needsAdmin() : "it failed: " + netlinkErrorText(error);
}

// An interface that is there but cannot be read over netlink.
Error unreadable(const std::string& name, int error) {
  if (isGoneError(error)) {
    return Error{ErrorKind::noSuchInterface, "CAN interface " + name +
                                                 " disappeared while it was being opened. " +
                                                 canFixText(CanFix::absent, name, 0)};
  }
  return Error{ErrorKind::notSupported,
               "The state of CAN interface " + name +
                   " cannot be read over netlink: " + netlinkErrorText(error) + "."};
}

// Gives a real controller the bit rate: down, the rate, restart-ms (a driver without restart
// support refuses it: noted, not an error), up. 0 or an errno value.
int reconfigure(NetlinkClient& netlink, const std::string& name, int index, uint32_t bitrate,
                std::string& notice) {
  if (const int error = netlink.setUp(index, false); error != 0) return error;
  int error = netlink.setBitrate(index, bitrate);
  if (error == 0) {
    const int restartError = netlink.setRestartMs(index, kRestartMs);
    if (restartError == EOPNOTSUPP || restartError == EINVAL) {
      notice = "The driver of CAN interface " + name +
               " does not restart it by itself after a bus-off (restart-ms refused: " +
               errnoText(restartError) + "); the program restarts it when it may.";
    } else if (restartError != 0) {
      error = restartError;
    }
  }
  const int upError = netlink.setUp(index, true);
  return error != 0 ? error : upError;
}

// The text for a bus-off that stays, and its fix, from the restart request's result.
std::string unrestarted(const std::string& name, uint32_t bitrate, int error) {
  if (error == EOPNOTSUPP) return canFixText(CanFix::cannotRestart, name, bitrate);
  return "The kernel does not restart it (restart-ms 0), and " + refusal(error) + ". " +
         canFixText(CanFix::busOff, name, bitrate);
}

struct Prepared {
  std::string notice;
  bool busOff = false;  // bus-off, and the kernel restarts it (restart-ms set)
};

// Checks (and where it may, fixes) the bit rate, that the interface is up and not bus-off.
std::variant<Prepared, Error> prepareLink(NetlinkClient& netlink, const std::string& name,
                                          int index, uint32_t bitrate) {
  std::variant<LinkInfo, int> read = netlink.readLink(index);
  if (const int* error = std::get_if<int>(&read)) return unreadable(name, *error);
  const LinkInfo& link = std::get<LinkInfo>(read);
  Prepared prepared;

  if (link.kind == "can" && link.bitrate != bitrate) {
    const int error = reconfigure(netlink, name, index, bitrate, prepared.notice);
    if (error == 0) return prepared;
    const std::string fix = canFixText(CanFix::bitrate, name, bitrate);
    if (link.bitrate) {
      return Error{ErrorKind::bitrateMismatch,
                   "CAN interface " + name + " runs at " + rate(*link.bitrate) + ", but " +
                       rate(bitrate) + " is needed, and changing it: " + refusal(error) + ". " +
                       fix};
    }
    return Error{isDenied(error) ? ErrorKind::permissionDenied : ErrorKind::bitrateMismatch,
                 "CAN interface " + name +
                     " has no bit rate yet (as after plugging the adapter in), and setting " +
                     rate(bitrate) + ": " + refusal(error) + ". " + fix};
  }
  if (!link.up) {
    const int error = netlink.setUp(index, true);
    if (error == 0) return prepared;
    return Error{isDenied(error) ? ErrorKind::permissionDenied : ErrorKind::connectionLost,
                 "CAN interface " + name + " is down, and bringing it up: " + refusal(error) +
                     ". " + canFixText(CanFix::down, name, bitrate)};
  }
  if (link.kind == "can" && link.canState == CanState::busOff) {
    if (link.restartMs.value_or(0) > 0) {
      prepared.busOff = true;  // the kernel restarts it within restart-ms
      return prepared;
    }
    const int error = netlink.restart(index);
    if (error == 0 || error == EBUSY) return prepared;  // EBUSY: no longer bus-off
    return Error{ErrorKind::busOff,
                 "CAN interface " + name + " is bus-off. " + unrestarted(name, bitrate, error)};
  }
  return prepared;
}

}  // namespace

SocketCanHost SocketCanHost::kernel() {
  SocketCanHost host;
  host.openSocket = []() -> std::variant<UniqueFd, int> {
    UniqueFd fd(::socket(PF_CAN, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, CAN_RAW));
    if (!fd) return errno;
    const can_err_mask_t errorMask = CAN_ERR_MASK;
    if (::setsockopt(fd.get(), SOL_CAN_RAW, CAN_RAW_ERR_FILTER, &errorMask, sizeof errorMask) !=
        0) {
      return errno;
    }
    return fd;
  };
  host.bindSocket = [](int fd, int index) {
    sockaddr_can address{};
    address.can_family = AF_CAN;
    address.can_ifindex = index;
    return ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 ? 0 : errno;
  };
  host.indexOf = [](const std::string& name) {
    return static_cast<int>(::if_nametoindex(name.c_str()));
  };
  host.read = [](int fd, void* data, std::size_t size) { return ::read(fd, data, size); };
  host.write = [](int fd, const void* data, std::size_t size) { return ::write(fd, data, size); };
  host.netlink = netlinkToKernel();
  return host;
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
    std::string_view interface, uint32_t bitrate, const SocketCanHost& host) {
  const std::string name(interface);
  std::variant<UniqueFd, int> socket = host.openSocket();
  if (const int* error = std::get_if<int>(&socket)) {
    if (*error == EAFNOSUPPORT || *error == EPROTONOSUPPORT) {
      return Error{ErrorKind::notSupported,
                   "This kernel has no SocketCAN support (socket(PF_CAN) failed: " +
                       errnoText(*error) + "), so CAN interface " + name +
                       " cannot be opened; load the modules with: sudo modprobe can_raw"};
    }
    return Error{isDenied(*error) ? ErrorKind::permissionDenied : ErrorKind::notSupported,
                 "Cannot open a CAN socket for " + name + ": " + errnoText(*error) + "."};
  }
  const int index = host.indexOf(name);
  if (index <= 0) {
    return Error{ErrorKind::noSuchInterface, "CAN interface " + name +
                                                 " does not exist (CAN interfaces here: " +
                                                 describeCanInterfaces(host.sysfsRoot) + "). " +
                                                 canFixText(CanFix::absent, name, bitrate)};
  }
  if (!isCanInterface(name, host.sysfsRoot)) {
    return Error{ErrorKind::noSuchInterface, "Interface " + name +
                                                 " is not a CAN interface (CAN interfaces here: " +
                                                 describeCanInterfaces(host.sysfsRoot) + ")."};
  }
  NetlinkClient netlink(host.netlink);
  std::variant<Prepared, Error> prepared = prepareLink(netlink, name, index, bitrate);
  if (Error* error = std::get_if<Error>(&prepared)) return std::move(*error);

  UniqueFd fd = std::move(std::get<UniqueFd>(socket));
  if (const int error = host.bindSocket(fd.get(), index); error != 0) {
    return Error{isDownError(error) ? ErrorKind::noSuchInterface : ErrorKind::notSupported,
                 "Cannot bind to CAN interface " + name + ": " + errnoText(error) + "."};
  }
  auto channel = std::make_unique<SocketCanChannel>(std::move(fd), name, index, bitrate, host);
  channel->notice_ = std::get<Prepared>(prepared).notice;
  if (std::get<Prepared>(prepared).busOff) {
    channel->state_ = ChannelState::busOff;
    channel->recovery_ = "The kernel restarts it by itself shortly (restart-ms is set).";
  }
  return channel;
}

std::variant<std::unique_ptr<SocketCanChannel>, Error> SocketCanChannel::openByDriver(
    std::string_view driver, uint32_t bitrate, const SocketCanHost& host) {
  for (const CanInterface& interface : listCanInterfaces(host.sysfsRoot)) {
    if (interface.driver == driver) return open(interface.name, bitrate, host);
  }
  const std::string adapter = driver == "peak_usb" ? " (a PEAK PCAN-USB adapter)" : "";
  return Error{ErrorKind::noSuchInterface,
               "No CAN interface with kernel driver " + std::string(driver) + adapter +
                   " is there (CAN interfaces here: " + describeCanInterfaces(host.sysfsRoot) +
                   "). " + canFixText(CanFix::absent, "", bitrate)};
}

SocketCanChannel::SocketCanChannel(UniqueFd fd, std::string interface, int index, uint32_t bitrate,
                                   SocketCanHost host)
    : interface_(std::move(interface)),
      fd_(std::move(fd)),
      index_(index),
      bitrate_(bitrate),
      host_(std::move(host)),
      netlink_(host_.netlink) {}

void SocketCanChannel::enterBusOff() {
  ++busOffs_;
  state_ = ChannelState::busOff;
  recover();
}

void SocketCanChannel::recover() {
  std::variant<LinkInfo, int> read = netlink_.readLink(index_);
  if (const int* error = std::get_if<int>(&read)) {
    recovery_ = "Its state cannot be read over netlink: " + netlinkErrorText(*error) + ".";
    return;
  }
  const LinkInfo& link = std::get<LinkInfo>(read);
  if (link.canState && *link.canState != CanState::busOff) {
    state_ = *link.canState == CanState::errorPassive ? ChannelState::errorPassive
                                                      : ChannelState::active;
    recovery_.clear();
    return;
  }
  if (link.restartMs.value_or(0) > 0) {
    recovery_ = "The kernel restarts it by itself within " + std::to_string(*link.restartMs) +
                " ms (restart-ms).";
    return;
  }
  const int error = netlink_.restart(index_);
  if (error == 0 || error == EBUSY) {  // EBUSY: it is no longer bus-off
    state_ = ChannelState::active;
    recovery_.clear();
    return;
  }
  recovery_ = unrestarted(interface_, bitrate_, error);
}

std::string SocketCanChannel::busOffText() const {
  return "CAN interface " + interface_ +
         " is bus-off: its controller stopped after too many errors (check the wiring, the "
         "termination and that every node runs at " +
         rate(bitrate_) + "). " + recovery_;
}

std::string SocketCanChannel::notice() const {
  if (state_ == ChannelState::busOff) return busOffText();
  if (state_ == ChannelState::down) return lostText_;
  return notice_;
}

Error SocketCanChannel::lost(int error) {
  state_ = ChannelState::down;
  lostText_ = isGoneError(error)
                  ? "CAN interface " + interface_ + " is gone (" + errnoText(error) +
                        "; adapter unplugged?)."
                  : "CAN interface " + interface_ + " is down (" + errnoText(error) + ").";
  return Error{ErrorKind::connectionLost, lostText_};
}

std::optional<Frame> SocketCanChannel::receive() {
  for (int records = 0; records < kMaxRecordsPerReceive; ++records) {
    // Room for more than a CAN FD frame, so that a longer record shows as one.
    alignas(canfd_frame) uint8_t record[sizeof(canfd_frame) + 8];
    const ssize_t n = host_.read(fd_.get(), record, sizeof record);
    if (n < 0) {
      const int error = errno;
      if (error == EINTR) continue;
      if (isDownError(error)) lost(error);
      return std::nullopt;  // EAGAIN: nothing waiting
    }
    if (n == 0) {  // the other end of a socket pair closed
      lost(ENETDOWN);
      return std::nullopt;
    }
    if (static_cast<std::size_t>(n) != sizeof(can_frame)) {  // CAN FD or no frame at all
      ++skippedRecords_;
      continue;
    }
    can_frame raw{};
    std::memcpy(&raw, record, sizeof raw);
    std::array<uint8_t, 8> data{};
    std::memcpy(data.data(), raw.data, data.size());
    if ((raw.can_id & CAN_ERR_FLAG) != 0) {
      ++errorFrames_;
      const ChannelState next = stateAfterErrorFrame(state_, raw.can_id, data);
      if (next == ChannelState::busOff && state_ != ChannelState::busOff) {
        enterBusOff();
      } else {
        if (next != ChannelState::busOff) recovery_.clear();
        state_ = next;
      }
      continue;
    }
    if (raw.len > kMaxDataLength) {
      ++skippedRecords_;
      continue;
    }
    // A frame from the bus: the controller is back on it.
    if (state_ == ChannelState::down || state_ == ChannelState::busOff) {
      state_ = ChannelState::active;
      recovery_.clear();
    }
    Frame frame;
    frame.extended = (raw.can_id & CAN_EFF_FLAG) != 0;
    frame.remote = (raw.can_id & CAN_RTR_FLAG) != 0;
    frame.id = raw.can_id & (frame.extended ? CAN_EFF_MASK : CAN_SFF_MASK);
    frame.length = raw.len;
    if (!frame.remote) std::memcpy(frame.data.data(), raw.data, frame.length);
    return frame;
  }
  return std::nullopt;
}

std::optional<Error> SocketCanChannel::send(const Frame& frame) {
  if (!isValid(frame)) {
    return Error{ErrorKind::sendFailed, "Frame " + toCandump(frame) +
                                            " is not a valid CAN frame; " + interface_ +
                                            " did not send it."};
  }
  // While bus-off the kernel drops frames and still says they were sent: look again (and
  // restart when it may) instead of writing into the void.
  if (state_ == ChannelState::busOff) recover();
  if (state_ == ChannelState::busOff) {
    return Error{ErrorKind::busOff,
                 busOffText() + " The frame " + toCandump(frame) + " was not sent."};
  }
  can_frame raw{};
  raw.can_id = frame.id | (frame.extended ? CAN_EFF_FLAG : 0U) | (frame.remote ? CAN_RTR_FLAG : 0U);
  raw.len = frame.length;
  if (!frame.remote) std::memcpy(raw.data, frame.data.data(), frame.length);
  for (;;) {
    const ssize_t n = host_.write(fd_.get(), &raw, sizeof raw);
    if (n == static_cast<ssize_t>(sizeof raw)) return std::nullopt;
    const int error = n < 0 ? errno : EIO;
    if (error == EINTR) continue;
    if (isDownError(error)) return lost(error);
    if (error == EAGAIN || error == EWOULDBLOCK || error == ENOBUFS) {
      // A full transmit queue is what a bus-off looks like from here: ask the controller.
      std::variant<LinkInfo, int> read = netlink_.readLink(index_);
      if (const auto* link = std::get_if<LinkInfo>(&read);
          link != nullptr && link->canState == CanState::busOff) {
        enterBusOff();
        const std::string what =
            state_ == ChannelState::busOff
                ? busOffText()
                : "CAN interface " + interface_ + " was bus-off; the program restarted it.";
        return Error{ErrorKind::busOff, what + " The frame " + toCandump(frame) + " was not sent."};
      }
      return Error{ErrorKind::sendFailed, "The transmit queue of CAN interface " + interface_ +
                                              " is full; the frame " + toCandump(frame) +
                                              " was not sent."};
    }
    return Error{ErrorKind::sendFailed, "Sending " + toCandump(frame) + " on CAN interface " +
                                            interface_ + " failed: " + errnoText(error) + "."};
  }
}

}  // namespace canbus
