#include "port_name.h"

#include <sys/stat.h>

#include <cstdint>
#include <optional>

namespace serial_port {
namespace {

constexpr std::string_view kDevDir = "/dev/";
// Port numbers above this are not COM numbers but ordinary names (and never overflow).
constexpr uint64_t kMaxComNumber = 999999;

bool equalsIgnoringCase(std::string_view text, std::string_view upper) {
  if (text.size() != upper.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != upper[i]) return false;
  }
  return true;
}

// The n of "COMn", or nothing when the name is not of that form.
std::optional<uint64_t> comNumber(std::string_view name) {
  if (name.size() < 4 || !equalsIgnoringCase(name.substr(0, 3), "COM")) return std::nullopt;
  std::string_view digits = name.substr(3);
  if (digits.front() == '0') return std::nullopt;
  uint64_t n = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + static_cast<uint64_t>(c - '0');
    if (n > kMaxComNumber) return std::nullopt;
  }
  return n;
}

}  // namespace

std::string resolvePortName(std::string_view name, const PathExists& exists) {
  if (!name.empty() && name.front() == '/') return std::string(name);
  if (auto n = comNumber(name)) {
    std::string alias = std::string(kDevDir) + "COM" + std::to_string(*n);
    if (exists(alias)) return alias;
    return std::string(kDevDir) + "ttyS" + std::to_string(*n - 1);
  }
  return std::string(kDevDir) + std::string(name);
}

std::string resolvePortName(std::string_view name) {
  return resolvePortName(name, [](const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
  });
}

}  // namespace serial_port
