// rtnetlink for CAN interfaces: read an interface's state, bit rate, restart-ms and controller
// state (RTM_GETLINK, no privileges needed); set the bit rate, restart-ms, bring it up or down,
// or restart a bus-off controller (RTM_NEWLINK, needs CAP_NET_ADMIN).
//
// The way to the kernel is a NetlinkExchange: one request out, the kernel's answer back. The
// kernel's is netlinkToKernel(); tests hand in their own to see the request bytes and to answer
// with whatever they like. Whatever the answer, a call returns a link or an errno value; answers
// that are short, malformed or for another request give EPROTO.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace canbus {

// The controller states of IFLA_CAN_STATE (enum can_state).
enum class CanState : uint32_t {
  errorActive = 0,
  errorWarning = 1,
  errorPassive = 2,
  busOff = 3,
  stopped = 4,
  sleeping = 5,
};

struct LinkInfo {
  int index = 0;
  std::string name;
  bool up = false;                  // IFF_UP
  std::string kind;                 // IFLA_INFO_KIND: "can" for controllers, "vcan", ...; or empty
  std::optional<uint32_t> bitrate;  // IFLA_CAN_BITTIMING, present once a rate was set
  std::optional<uint32_t> restartMs;
  std::optional<CanState> canState;  // IFLA_CAN_STATE, when it is one the kernel defines
};

// Builds netlink messages: a header, a fixed part, attributes, nested attributes.
class NetlinkBuilder {
 public:
  NetlinkBuilder(uint16_t type, uint16_t flags, uint32_t sequence);
  void append(const void* data, std::size_t size);  // fixed part (e.g. struct ifinfomsg), aligned
  void attribute(uint16_t type, const void* data, std::size_t size);
  std::size_t beginNested(uint16_t type);
  void endNested(std::size_t start);
  // The finished message (its length field set).
  const std::vector<uint8_t>& bytes();

 private:
  void pad();
  std::vector<uint8_t> bytes_;
};

// Parses one RTM_NEWLINK message (starting at its nlmsghdr); nullopt when it is not one.
std::optional<LinkInfo> parseLinkMessage(const uint8_t* data, std::size_t size);

// What the kernel answered to the request with this sequence number: for a GET (wantLink) the
// link, else 0 for the acknowledgement; an errno value from an NLMSG_ERROR; EPROTO when the
// answer is short, malformed, bogus or holds nothing for this request.
std::variant<LinkInfo, int> parseAnswer(const std::vector<uint8_t>& answer, uint32_t sequence,
                                        bool wantLink);

// Sends one request, returns the answer (the datagram that carries the answer to its sequence
// number) or an errno value.
using NetlinkExchange =
    std::function<std::variant<std::vector<uint8_t>, int>(const std::vector<uint8_t>& request)>;

// The kernel's rtnetlink (a fresh NETLINK_ROUTE socket per request, 1 s time-out: ETIMEDOUT).
NetlinkExchange netlinkToKernel();

// errnoText, but EPROTO says that the kernel's answer made no sense.
std::string netlinkErrorText(int error);

// The requests on CAN links. Sequence numbers count from 1 per client. Errors are errno values
// (EPERM without CAP_NET_ADMIN).
class NetlinkClient {
 public:
  explicit NetlinkClient(NetlinkExchange exchange = netlinkToKernel())
      : exchange_(std::move(exchange)) {}

  std::variant<LinkInfo, int> readLink(int index);
  int setUp(int index, bool up);
  // Only the bit rate (the kernel computes the segments); the interface must be down.
  int setBitrate(int index, uint32_t bitrate);
  // Only restart-ms; the interface must be down. Drivers without restart support refuse it
  // (EOPNOTSUPP, some EINVAL).
  int setRestartMs(int index, uint32_t restartMs);
  // Restarts a bus-off controller now (`ip link set IF type can restart`).
  int restart(int index);

 private:
  std::variant<LinkInfo, int> run(NetlinkBuilder& request, uint32_t sequence, bool wantLink);
  int changeCan(int index, uint16_t attribute, const void* data, std::size_t size);

  NetlinkExchange exchange_;
  uint32_t nextSequence_ = 1;
};

// Reads the link by index from the kernel. Errors are errno values.
std::variant<LinkInfo, int> readLinkInfo(int index);

}  // namespace canbus
