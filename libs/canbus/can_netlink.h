// rtnetlink for CAN interfaces: read an interface's state and bit rate (RTM_GETLINK, no
// privileges needed) and set the bit rate or bring it up or down (RTM_NEWLINK, needs
// CAP_NET_ADMIN).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace canbus {

struct LinkInfo {
  int index = 0;
  std::string name;
  bool up = false;                  // IFF_UP
  std::string kind;                 // IFLA_INFO_KIND: "can" for controllers, "vcan", ...; or empty
  std::optional<uint32_t> bitrate;  // IFLA_CAN_BITTIMING, present once a rate was set
  std::optional<uint32_t> restartMs;
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

// Reads the link by index. Errors are errno values.
std::variant<LinkInfo, int> readLinkInfo(int index);

// These return 0 or an errno value (EPERM without CAP_NET_ADMIN).
int setLinkUp(int index, bool up);
int setCanBitrate(int index, uint32_t bitrate, uint32_t restartMs);

}  // namespace canbus
