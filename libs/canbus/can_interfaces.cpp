#include "canbus/can_interfaces.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace canbus {
namespace {

namespace fs = std::filesystem;

constexpr int kArphrdCan = 280;

std::optional<int> readNumber(const fs::path& path) {
  std::ifstream in(path);
  int value = 0;
  if (in >> value) return value;
  return std::nullopt;
}

std::string driverOf(const fs::path& interfaceDir) {
  std::error_code ec;
  const fs::path target = fs::read_symlink(interfaceDir / "device" / "driver", ec);
  if (ec) return {};
  return target.filename().string();
}

}  // namespace

bool isCanInterface(std::string_view name, std::string_view sysfsRoot) {
  if (name.empty() || name.find('/') != std::string_view::npos || name == "." || name == "..") {
    return false;
  }
  return readNumber(fs::path(sysfsRoot) / fs::path(name) / "type") == kArphrdCan;
}

std::vector<CanInterface> listCanInterfaces(std::string_view sysfsRoot) {
  std::vector<CanInterface> interfaces;
  std::error_code ec;
  for (fs::directory_iterator it(fs::path(sysfsRoot), ec), end; !ec && it != end;
       it.increment(ec)) {
    const fs::path dir = it->path();
    if (readNumber(dir / "type") != kArphrdCan) continue;
    interfaces.push_back(CanInterface{dir.filename().string(), driverOf(dir),
                                      readNumber(dir / "ifindex").value_or(0)});
  }
  std::sort(interfaces.begin(), interfaces.end(), [](const CanInterface& a, const CanInterface& b) {
    if (a.index != b.index) return a.index < b.index;
    if (a.name.size() != b.name.size()) return a.name.size() < b.name.size();  // can2 < can10
    return a.name < b.name;
  });
  return interfaces;
}

std::optional<std::string> findInterfaceByDriver(std::string_view driver,
                                                 std::string_view sysfsRoot) {
  for (const CanInterface& interface : listCanInterfaces(sysfsRoot)) {
    if (interface.driver == driver) return interface.name;
  }
  return std::nullopt;
}

std::string describeCanInterfaces(std::string_view sysfsRoot) {
  std::string text;
  for (const CanInterface& interface : listCanInterfaces(sysfsRoot)) {
    if (!text.empty()) text += ", ";
    text += interface.name;
    if (!interface.driver.empty()) text += " (" + interface.driver + ")";
  }
  return text.empty() ? "none" : text;
}

}  // namespace canbus
