// A kernel CAN interface without a kernel: a SocketCanHost whose socket is one end of a
// socketpair(AF_UNIX, SOCK_SEQPACKET) carrying 16-byte struct can_frame records (the test holds
// the other end, as the "kernel"), whose netlink requests are recorded and answered from a link
// state the way drivers/net/can/dev answers them, and whose sysfs is a tree in a temporary
// directory.
#pragma once

#include <fcntl.h>
#include <linux/can.h>
#include <linux/can/error.h>
#include <linux/can/netlink.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "canbus/can_netlink.h"
#include "canbus/socketcan_channel.h"

namespace test_kit {

using canbus::NetlinkBuilder;
using canbus::SocketCanHost;
using canbus::UniqueFd;

// A fake /sys/class/net in a temporary directory.
class FakeSysfs {
 public:
  explicit FakeSysfs(const std::string& tag) {
    root_ = std::filesystem::temp_directory_path() /
            ("canbus-sysfs-" + tag + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_ / "net");
    for (const char* driver : {"peak_usb", "gs_usb", "e1000"}) {
      std::filesystem::create_directories(root_ / "drivers" / driver);
    }
  }
  ~FakeSysfs() { std::filesystem::remove_all(root_); }
  FakeSysfs(const FakeSysfs&) = delete;
  FakeSysfs& operator=(const FakeSysfs&) = delete;

  void add(const std::string& name, int type, int index, const std::string& driver) {
    const std::filesystem::path dir = root_ / "net" / name;
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "type") << type << "\n";
    std::ofstream(dir / "ifindex") << index << "\n";
    if (!driver.empty()) {
      std::filesystem::create_directories(dir / "device");
      std::filesystem::create_directory_symlink(root_ / "drivers" / driver,
                                                dir / "device" / "driver");
    }
  }
  void remove(const std::string& name) { std::filesystem::remove_all(root_ / "net" / name); }
  // The interface's index as sysfs tells it, 0 when it is not there.
  int indexOf(const std::string& name) const {
    std::ifstream in(root_ / "net" / name / "ifindex");
    int index = 0;
    return in >> index ? index : 0;
  }
  std::string net() const { return (root_ / "net").string(); }

 private:
  std::filesystem::path root_;
};

// An acknowledgement or error answer (struct nlmsgerr) to the request with this sequence.
inline std::vector<uint8_t> errorAnswer(uint32_t sequence, int error) {
  nlmsghdr header{};
  header.nlmsg_len = sizeof(nlmsghdr) + sizeof(nlmsgerr);
  header.nlmsg_type = NLMSG_ERROR;
  header.nlmsg_seq = sequence;
  nlmsgerr body{};
  body.error = -error;
  std::vector<uint8_t> bytes(header.nlmsg_len);
  std::memcpy(bytes.data(), &header, sizeof header);
  std::memcpy(bytes.data() + sizeof header, &body, sizeof body);
  return bytes;
}

inline uint32_t sequenceOf(const std::vector<uint8_t>& request) {
  nlmsghdr header{};
  std::memcpy(&header, request.data(), sizeof header);
  return header.nlmsg_seq;
}

// One CAN controller link as the kernel keeps it, and the permission of the process.
struct FakeLink {
  std::string name = "can0";
  bool up = true;
  std::optional<uint32_t> bitrate = 500000;
  uint32_t restartMs = 0;
  uint32_t state = CAN_STATE_ERROR_ACTIVE;
  std::string kind = "can";
  bool admin = false;            // CAP_NET_ADMIN
  bool restartSupported = true;  // the driver has do_set_mode (restart, restart-ms)
  bool exists = true;
};

class FakeKernel {
 public:
  explicit FakeKernel(FakeSysfs& sysfs) : sysfs_(sysfs) {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) == 0) {
      channelEnd_ = ends[0];
      kernelEnd_ = ends[1];
    }
  }
  ~FakeKernel() {
    if (channelEnd_ >= 0) ::close(channelEnd_);
    if (kernelEnd_ >= 0) ::close(kernelEnd_);
  }
  FakeKernel(const FakeKernel&) = delete;
  FakeKernel& operator=(const FakeKernel&) = delete;

  FakeLink link;
  std::vector<std::vector<uint8_t>> requests;
  // Answers the next requests instead of the link (front first), for malformed answers.
  std::deque<std::variant<std::vector<uint8_t>, int>> scripted;
  // errno values the next read(2)/write(2) calls of the channel fail with (front first).
  std::deque<int> readErrors;
  std::deque<int> writeErrors;
  int bindError = 0;

  SocketCanHost host() {
    SocketCanHost host = SocketCanHost::kernel();
    host.openSocket = [this]() -> std::variant<UniqueFd, int> {
      if (channelEnd_ < 0) return EMFILE;
      const int fd = ::dup(channelEnd_);
      if (fd < 0) return errno;
      ::fcntl(fd, F_SETFL, O_NONBLOCK);
      return UniqueFd(fd);
    };
    host.bindSocket = [this](int, int index) {
      boundIndex = index;
      return bindError;
    };
    host.indexOf = [this](const std::string& name) { return sysfs_.indexOf(name); };
    host.read = [this](int fd, void* data, std::size_t size) -> ssize_t {
      if (!readErrors.empty()) {
        errno = readErrors.front();
        readErrors.pop_front();
        return -1;
      }
      return ::read(fd, data, size);
    };
    host.write = [this](int fd, const void* data, std::size_t size) -> ssize_t {
      if (!writeErrors.empty()) {
        errno = writeErrors.front();
        writeErrors.pop_front();
        return -1;
      }
      return ::write(fd, data, size);
    };
    host.netlink = [this](const std::vector<uint8_t>& request) { return answer(request); };
    host.sysfsRoot = sysfs_.net();
    return host;
  }

  // The kernel delivers a record (a can_frame, or any bytes) to the channel's socket.
  // Never blocks: a record that does not fit any more is dropped (false), as the kernel does.
  bool deliver(const void* record, std::size_t size) const {
    return ::send(kernelEnd_, record, size, MSG_DONTWAIT) == static_cast<ssize_t>(size);
  }
  // A can_frame; its length field is the number of data bytes unless `len` says otherwise.
  bool deliver(uint32_t canId, std::initializer_list<uint8_t> data, int len = -1) const {
    can_frame frame{};
    frame.can_id = canId;
    frame.len = static_cast<uint8_t>(len < 0 ? static_cast<int>(data.size()) : len);
    std::copy(data.begin(), data.end(), frame.data);
    return deliver(&frame, sizeof frame);
  }
  bool deliverError(uint32_t errorClass, uint8_t controller = 0) const {
    return deliver(CAN_ERR_FLAG | errorClass, {0, controller, 0, 0, 0, 0, 0, 0}, CAN_ERR_DLC);
  }
  // The next record the channel sent, if any.
  std::optional<std::vector<uint8_t>> sent() const {
    uint8_t buffer[128];
    const ssize_t n = ::recv(kernelEnd_, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0) return std::nullopt;
    return std::vector<uint8_t>(buffer, buffer + n);
  }
  // The "kernel" closes its end: the channel's socket sees the end of the stream.
  void closeKernelEnd() {
    ::close(kernelEnd_);
    kernelEnd_ = -1;
  }

  // The inner IFLA_CAN_* attribute type of a NEWLINK request that changes a CAN link (byte 50
  // in the documented layout), or 0 for a request without IFLA_LINKINFO.
  static uint16_t canAttributeOf(const std::vector<uint8_t>& request) {
    if (request.size() < 56) return 0;
    uint16_t type = 0;
    std::memcpy(&type, request.data() + 50, sizeof type);
    return type;
  }

  int boundIndex = 0;

 private:
  std::variant<std::vector<uint8_t>, int> answer(const std::vector<uint8_t>& request) {
    requests.push_back(request);
    if (!scripted.empty()) {
      auto next = std::move(scripted.front());
      scripted.pop_front();
      return next;
    }
    const uint32_t sequence = sequenceOf(request);
    nlmsghdr header{};
    std::memcpy(&header, request.data(), sizeof header);
    if (!link.exists) return errorAnswer(sequence, ENODEV);
    ifinfomsg info{};
    std::memcpy(&info, request.data() + NLMSG_LENGTH(0), sizeof info);
    if (header.nlmsg_type == RTM_GETLINK) return linkMessage(sequence, info.ifi_index);
    if (!link.admin) return errorAnswer(sequence, EPERM);
    const uint16_t attribute = canAttributeOf(request);
    uint32_t value = 0;
    if (request.size() >= 56) std::memcpy(&value, request.data() + 52, sizeof value);
    switch (attribute) {
      case 0:
        link.up = (info.ifi_flags & IFF_UP) != 0;
        if (link.up) link.state = CAN_STATE_ERROR_ACTIVE;
        return errorAnswer(sequence, 0);
      case IFLA_CAN_BITTIMING:
        if (link.up) return errorAnswer(sequence, EBUSY);
        link.bitrate = value;
        return errorAnswer(sequence, 0);
      case IFLA_CAN_RESTART_MS:
        if (!link.restartSupported) return errorAnswer(sequence, EOPNOTSUPP);
        if (link.up) return errorAnswer(sequence, EBUSY);
        link.restartMs = value;
        return errorAnswer(sequence, 0);
      case IFLA_CAN_RESTART:
        if (!link.restartSupported) return errorAnswer(sequence, EOPNOTSUPP);
        if (!link.up) return errorAnswer(sequence, EINVAL);
        if (link.restartMs != 0 || link.state != CAN_STATE_BUS_OFF) {
          return errorAnswer(sequence, EBUSY);
        }
        link.state = CAN_STATE_ERROR_ACTIVE;
        deliverError(CAN_ERR_RESTARTED);
        return errorAnswer(sequence, 0);
      default: return errorAnswer(sequence, EINVAL);
    }
  }

  std::vector<uint8_t> linkMessage(uint32_t sequence, int index) const {
    NetlinkBuilder message(RTM_NEWLINK, 0, sequence);
    ifinfomsg info{};
    info.ifi_index = index;
    info.ifi_flags = link.up ? IFF_UP : 0;
    message.append(&info, sizeof info);
    message.attribute(IFLA_IFNAME, link.name.c_str(), link.name.size() + 1);
    const std::size_t linkInfo = message.beginNested(IFLA_LINKINFO);
    message.attribute(IFLA_INFO_KIND, link.kind.data(), link.kind.size());
    const std::size_t data = message.beginNested(IFLA_INFO_DATA);
    message.attribute(IFLA_CAN_STATE, &link.state, sizeof link.state);
    if (link.bitrate) {
      can_bittiming timing{};
      timing.bitrate = *link.bitrate;
      message.attribute(IFLA_CAN_BITTIMING, &timing, sizeof timing);
    }
    message.attribute(IFLA_CAN_RESTART_MS, &link.restartMs, sizeof link.restartMs);
    message.endNested(data);
    message.endNested(linkInfo);
    return message.bytes();
  }

  FakeSysfs& sysfs_;
  int channelEnd_ = -1;
  int kernelEnd_ = -1;
};

}  // namespace test_kit
