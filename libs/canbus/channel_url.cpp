#include "canbus/channel_url.h"

#include <algorithm>
#include <charconv>

namespace canbus {
namespace {

constexpr std::string_view kForms =
    "expected socketcan://IFNAME, socketcand://HOST:PORT/BUS or loopback://NAME";
constexpr std::size_t kMaxInterfaceName = 15;  // IFNAMSIZ - 1
constexpr std::size_t kMaxBusName = 64;

Error badUrl(std::string_view url, std::string_view why) {
  std::string message = "Channel URL '";
  message += url;
  message += "' is not valid: ";
  message += why;
  message += '.';
  return Error{ErrorKind::badUrl, std::move(message)};
}

bool isPrintableWord(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c > ' ' && c < 0x7F; });
}

// The kernel's rule for interface names (dev_valid_name): 1..15 bytes, no '/', ':' or
// whitespace, not "." or "..".
bool isValidInterfaceName(std::string_view name) {
  if (name.empty() || name.size() > kMaxInterfaceName || name == "." || name == "..") {
    return false;
  }
  return isPrintableWord(name) && name.find_first_of("/:") == std::string_view::npos;
}

// Bus names travel inside "< open BUS >", so they must be one token without brackets.
bool isValidBusName(std::string_view name) {
  return !name.empty() && name.size() <= kMaxBusName && isPrintableWord(name) &&
         name.find_first_of("<>/") == std::string_view::npos;
}

std::variant<ChannelUrl, Error> parseSocketcand(std::string_view url, std::string_view rest) {
  const std::size_t slash = rest.find('/');
  if (slash == std::string_view::npos)
    return badUrl(url, "the bus name is missing (HOST:PORT/BUS)");
  const std::string_view authority = rest.substr(0, slash);
  const std::string_view bus = rest.substr(slash + 1);

  SocketcandUrl result;
  std::string_view portText;
  if (!authority.empty() && authority.front() == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos) return badUrl(url, "the IPv6 address lacks its ']'");
    result.host = std::string(authority.substr(1, close - 1));
    const std::string_view after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':') return badUrl(url, "expected ':PORT' after the IPv6 address");
      portText = after.substr(1);
      if (portText.empty()) return badUrl(url, "the port is empty");
    }
  } else {
    const std::size_t colon = authority.rfind(':');
    if (colon != std::string_view::npos) {
      result.host = std::string(authority.substr(0, colon));
      portText = authority.substr(colon + 1);
      if (portText.empty()) return badUrl(url, "the port is empty");
    } else {
      result.host = std::string(authority);
    }
    if (result.host.find(':') != std::string::npos) {
      return badUrl(url, "an IPv6 address must be written in brackets, e.g. [::1]:29536");
    }
  }
  if (result.host.empty() || !isPrintableWord(result.host)) {
    return badUrl(url, "the host is missing or not valid");
  }
  if (!portText.empty()) {
    unsigned value = 0;
    const auto [end, ec] =
        std::from_chars(portText.data(), portText.data() + portText.size(), value);
    if (ec != std::errc() || end != portText.data() + portText.size() || value == 0 ||
        value > 65535) {
      return badUrl(url, "the port must be a number from 1 to 65535");
    }
    result.port = static_cast<uint16_t>(value);
  }
  if (!isValidBusName(bus)) {
    return badUrl(url,
                  "the bus name must be 1 to 64 printable characters without spaces, '<', "
                  "'>' or '/'");
  }
  result.bus = std::string(bus);
  return ChannelUrl{std::move(result)};
}

}  // namespace

std::variant<ChannelUrl, Error> parseChannelUrl(std::string_view url) {
  const std::size_t sep = url.find("://");
  if (sep == std::string_view::npos) return badUrl(url, kForms);
  const std::string_view scheme = url.substr(0, sep);
  const std::string_view rest = url.substr(sep + 3);

  if (scheme == "socketcan") {
    if (!isValidInterfaceName(rest)) {
      return badUrl(url,
                    "the interface name must be 1 to 15 characters without spaces, '/' or "
                    "':'");
    }
    return ChannelUrl{SocketCanUrl{std::string(rest)}};
  }
  if (scheme == "socketcand") return parseSocketcand(url, rest);
  if (scheme == "loopback") {
    if (rest.empty() || rest.size() > kMaxBusName || !isPrintableWord(rest)) {
      return badUrl(url,
                    "the loopback bus name must be 1 to 64 printable characters without "
                    "spaces");
    }
    return ChannelUrl{LoopbackUrl{std::string(rest)}};
  }
  std::string why = "unknown scheme '";
  why += scheme;
  why += "', ";
  why += kForms;
  return badUrl(url, why);
}

}  // namespace canbus
