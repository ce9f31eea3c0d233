#include "canbus/can_netlink.h"

#include <linux/can/netlink.h>
#include <linux/if.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cerrno>
#include <cstring>

#include "canbus/unique_fd.h"

namespace canbus {
namespace {

constexpr std::size_t kAlign = 4;  // NLMSG_ALIGNTO == RTA_ALIGNTO

std::size_t aligned(std::size_t size) { return (size + kAlign - 1) & ~(kAlign - 1); }

template <typename T>
T load(const uint8_t* data) {
  T value;
  std::memcpy(&value, data, sizeof value);
  return value;
}

struct Attribute {
  uint16_t type;
  const uint8_t* data;
  std::size_t size;
};

// The attributes in [data, data + size).
std::vector<Attribute> attributes(const uint8_t* data, std::size_t size) {
  std::vector<Attribute> result;
  std::size_t pos = 0;
  while (pos + sizeof(rtattr) <= size) {
    const rtattr header = load<rtattr>(data + pos);
    if (header.rta_len < sizeof(rtattr) || pos + header.rta_len > size) break;
    result.push_back(Attribute{static_cast<uint16_t>(header.rta_type & NLA_TYPE_MASK),
                               data + pos + sizeof(rtattr), header.rta_len - sizeof(rtattr)});
    pos += aligned(header.rta_len);
  }
  return result;
}

// Whether the datagram carries a message with this sequence number.
bool carriesSequence(const uint8_t* data, std::size_t size, uint32_t sequence) {
  std::size_t pos = 0;
  while (pos + sizeof(nlmsghdr) <= size) {
    const nlmsghdr header = load<nlmsghdr>(data + pos);
    if (header.nlmsg_seq == sequence) return true;
    if (header.nlmsg_len < sizeof(nlmsghdr)) return false;
    pos += aligned(header.nlmsg_len);
  }
  return false;
}

}  // namespace

NetlinkBuilder::NetlinkBuilder(uint16_t type, uint16_t flags, uint32_t sequence) {
  nlmsghdr header{};
  header.nlmsg_type = type;
  header.nlmsg_flags = flags;
  header.nlmsg_seq = sequence;
  append(&header, sizeof header);
}

void NetlinkBuilder::pad() { bytes_.resize(aligned(bytes_.size()), 0); }

void NetlinkBuilder::append(const void* data, std::size_t size) {
  const auto* begin = static_cast<const uint8_t*>(data);
  bytes_.insert(bytes_.end(), begin, begin + size);
  pad();
}

void NetlinkBuilder::attribute(uint16_t type, const void* data, std::size_t size) {
  rtattr header{};
  header.rta_len = static_cast<unsigned short>(sizeof(rtattr) + size);
  header.rta_type = type;
  const auto* raw = reinterpret_cast<const uint8_t*>(&header);
  bytes_.insert(bytes_.end(), raw, raw + sizeof header);
  const auto* begin = static_cast<const uint8_t*>(data);
  bytes_.insert(bytes_.end(), begin, begin + size);
  pad();
}

std::size_t NetlinkBuilder::beginNested(uint16_t type) {
  const std::size_t start = bytes_.size();
  attribute(type, nullptr, 0);
  return start;
}

void NetlinkBuilder::endNested(std::size_t start) {
  const auto length = static_cast<unsigned short>(bytes_.size() - start);
  std::memcpy(bytes_.data() + start + offsetof(rtattr, rta_len), &length, sizeof length);
}

const std::vector<uint8_t>& NetlinkBuilder::bytes() {
  const auto length = static_cast<uint32_t>(bytes_.size());
  std::memcpy(bytes_.data() + offsetof(nlmsghdr, nlmsg_len), &length, sizeof length);
  return bytes_;
}

std::optional<LinkInfo> parseLinkMessage(const uint8_t* data, std::size_t size) {
  if (size < sizeof(nlmsghdr)) return std::nullopt;
  const nlmsghdr header = load<nlmsghdr>(data);
  if (header.nlmsg_type != RTM_NEWLINK || header.nlmsg_len > size) return std::nullopt;
  const std::size_t fixed = aligned(sizeof(nlmsghdr)) + aligned(sizeof(ifinfomsg));
  if (header.nlmsg_len < fixed) return std::nullopt;
  const ifinfomsg info = load<ifinfomsg>(data + aligned(sizeof(nlmsghdr)));

  LinkInfo link;
  link.index = info.ifi_index;
  link.up = (info.ifi_flags & IFF_UP) != 0;
  for (const Attribute& attribute : attributes(data + fixed, header.nlmsg_len - fixed)) {
    if (attribute.type == IFLA_IFNAME) {
      link.name.assign(reinterpret_cast<const char*>(attribute.data),
                       strnlen(reinterpret_cast<const char*>(attribute.data), attribute.size));
    } else if (attribute.type == IFLA_LINKINFO) {
      for (const Attribute& linkInfo : attributes(attribute.data, attribute.size)) {
        if (linkInfo.type == IFLA_INFO_KIND) {
          link.kind.assign(reinterpret_cast<const char*>(linkInfo.data),
                           strnlen(reinterpret_cast<const char*>(linkInfo.data), linkInfo.size));
        } else if (linkInfo.type == IFLA_INFO_DATA) {
          for (const Attribute& can : attributes(linkInfo.data, linkInfo.size)) {
            if (can.type == IFLA_CAN_BITTIMING && can.size >= sizeof(can_bittiming)) {
              const can_bittiming timing = load<can_bittiming>(can.data);
              if (timing.bitrate != 0) link.bitrate = timing.bitrate;
            } else if (can.type == IFLA_CAN_RESTART_MS && can.size >= sizeof(uint32_t)) {
              link.restartMs = load<uint32_t>(can.data);
            } else if (can.type == IFLA_CAN_STATE && can.size >= sizeof(uint32_t)) {
              const auto state = load<uint32_t>(can.data);
              if (state <= static_cast<uint32_t>(CanState::sleeping)) {
                link.canState = static_cast<CanState>(state);
              }
            }
          }
        }
      }
    }
  }
  // IFLA_INFO_DATA is only meaningful for "can" links; other kinds keep no bit rate.
  if (link.kind != "can") {
    link.bitrate.reset();
    link.restartMs.reset();
    link.canState.reset();
  }
  return link;
}

std::variant<LinkInfo, int> parseAnswer(const std::vector<uint8_t>& answer, uint32_t sequence,
                                        bool wantLink) {
  const uint8_t* data = answer.data();
  const std::size_t total = answer.size();
  std::size_t pos = 0;
  while (pos + sizeof(nlmsghdr) <= total) {
    const nlmsghdr header = load<nlmsghdr>(data + pos);
    if (header.nlmsg_len < sizeof(nlmsghdr) || header.nlmsg_len > total - pos) return EPROTO;
    if (header.nlmsg_seq == sequence) {
      if (header.nlmsg_type == NLMSG_ERROR) {
        if (header.nlmsg_len < sizeof(nlmsghdr) + sizeof(nlmsgerr)) return EPROTO;
        const nlmsgerr error = load<nlmsgerr>(data + pos + sizeof(nlmsghdr));
        if (error.error > 0 || error.error < -4095) return EPROTO;  // no errno value
        if (error.error == 0) return wantLink ? EPROTO : 0;         // 0 is the acknowledgement
        return -error.error;
      }
      if (header.nlmsg_type == RTM_NEWLINK && wantLink) {
        std::optional<LinkInfo> link = parseLinkMessage(data + pos, header.nlmsg_len);
        if (!link) return EPROTO;
        return std::move(*link);
      }
      return EPROTO;  // an answer of another kind
    }
    pos += aligned(header.nlmsg_len);
  }
  return EPROTO;  // nothing for this request
}

NetlinkExchange netlinkToKernel() {
  return [](const std::vector<uint8_t>& request) -> std::variant<std::vector<uint8_t>, int> {
    if (request.size() < sizeof(nlmsghdr)) return EINVAL;
    const uint32_t sequence = load<nlmsghdr>(request.data()).nlmsg_seq;
    UniqueFd fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (!fd) return errno;
    const timeval timeout{1, 0};
    ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd.get(), request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&kernel),
                 sizeof kernel) < 0) {
      return errno;
    }
    std::vector<uint8_t> buffer(32 * 1024);
    for (;;) {
      const ssize_t n = ::recv(fd.get(), buffer.data(), buffer.size(), 0);
      if (n < 0) {
        const int error = errno;
        if (error == EINTR) continue;
        return error == EAGAIN || error == EWOULDBLOCK ? ETIMEDOUT : error;
      }
      if (carriesSequence(buffer.data(), static_cast<std::size_t>(n), sequence)) {
        buffer.resize(static_cast<std::size_t>(n));
        return buffer;
      }
    }
  };
}

std::string netlinkErrorText(int error) {
  if (error == EPROTO)
    return "the kernel's netlink answer made no sense (" + errnoText(error) + ")";
  return errnoText(error);
}

std::variant<LinkInfo, int> NetlinkClient::run(NetlinkBuilder& request, uint32_t sequence,
                                               bool wantLink) {
  if (!exchange_) return ENOSYS;
  std::variant<std::vector<uint8_t>, int> answer = exchange_(request.bytes());
  if (const int* error = std::get_if<int>(&answer)) return *error > 0 ? *error : EPROTO;
  return parseAnswer(std::get<std::vector<uint8_t>>(answer), sequence, wantLink);
}

std::variant<LinkInfo, int> NetlinkClient::readLink(int index) {
  const uint32_t sequence = nextSequence_++;
  NetlinkBuilder request(RTM_GETLINK, NLM_F_REQUEST, sequence);
  ifinfomsg info{};
  info.ifi_family = AF_UNSPEC;
  info.ifi_index = index;
  request.append(&info, sizeof info);
  return run(request, sequence, true);
}

int NetlinkClient::setUp(int index, bool up) {
  const uint32_t sequence = nextSequence_++;
  NetlinkBuilder request(RTM_NEWLINK, NLM_F_REQUEST | NLM_F_ACK, sequence);
  ifinfomsg info{};
  info.ifi_family = AF_UNSPEC;
  info.ifi_index = index;
  info.ifi_flags = up ? IFF_UP : 0;
  info.ifi_change = IFF_UP;
  request.append(&info, sizeof info);
  const std::variant<LinkInfo, int> result = run(request, sequence, false);
  return std::holds_alternative<int>(result) ? std::get<int>(result) : EPROTO;
}

int NetlinkClient::changeCan(int index, uint16_t attribute, const void* data, std::size_t size) {
  const uint32_t sequence = nextSequence_++;
  NetlinkBuilder request(RTM_NEWLINK, NLM_F_REQUEST | NLM_F_ACK, sequence);
  ifinfomsg info{};
  info.ifi_family = AF_UNSPEC;
  info.ifi_index = index;
  request.append(&info, sizeof info);
  const std::size_t linkInfo = request.beginNested(IFLA_LINKINFO);
  static constexpr char kKind[] = "can";
  request.attribute(IFLA_INFO_KIND, kKind, sizeof kKind - 1);
  const std::size_t canData = request.beginNested(IFLA_INFO_DATA);
  request.attribute(attribute, data, size);
  request.endNested(canData);
  request.endNested(linkInfo);
  const std::variant<LinkInfo, int> result = run(request, sequence, false);
  return std::holds_alternative<int>(result) ? std::get<int>(result) : EPROTO;
}

int NetlinkClient::setBitrate(int index, uint32_t bitrate) {
  can_bittiming timing{};
  timing.bitrate = bitrate;  // the kernel computes the segments from the rate
  return changeCan(index, IFLA_CAN_BITTIMING, &timing, sizeof timing);
}

int NetlinkClient::setRestartMs(int index, uint32_t restartMs) {
  return changeCan(index, IFLA_CAN_RESTART_MS, &restartMs, sizeof restartMs);
}

int NetlinkClient::restart(int index) {
  const uint32_t now = 1;
  return changeCan(index, IFLA_CAN_RESTART, &now, sizeof now);
}

std::variant<LinkInfo, int> readLinkInfo(int index) { return NetlinkClient().readLink(index); }

}  // namespace canbus
