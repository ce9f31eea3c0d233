// Channel URLs: which transport a channel uses and where it leads.
//   socketcan://IFNAME            a kernel CAN interface (can0, vcan0)
//   socketcand://HOST:PORT/BUS    a socketcand server (canhub); ":PORT" may be left out (29536)
//   loopback://NAME               the in-process loopback bus NAME
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "canbus/channel.h"

namespace canbus {

inline constexpr uint16_t kSocketcandDefaultPort = 29536;

struct SocketCanUrl {
  std::string interface;
  friend bool operator==(const SocketCanUrl&, const SocketCanUrl&) = default;
};

struct SocketcandUrl {
  std::string host;  // name or address; an IPv6 address without its brackets
  uint16_t port = kSocketcandDefaultPort;
  std::string bus;
  friend bool operator==(const SocketcandUrl&, const SocketcandUrl&) = default;
};

struct LoopbackUrl {
  std::string name;
  friend bool operator==(const LoopbackUrl&, const LoopbackUrl&) = default;
};

using ChannelUrl = std::variant<SocketCanUrl, SocketcandUrl, LoopbackUrl>;

// Parses a channel URL; an Error of kind badUrl that says what is wrong otherwise.
std::variant<ChannelUrl, Error> parseChannelUrl(std::string_view url);

}  // namespace canbus
