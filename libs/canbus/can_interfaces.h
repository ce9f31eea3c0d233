// Finding kernel CAN interfaces through sysfs: /sys/class/net/IF/type is 280 (ARPHRD_CAN) for
// CAN, and /sys/class/net/IF/device/driver links to the kernel driver (peak_usb, gs_usb, ...);
// virtual interfaces (vcan) have no device link.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace canbus {

inline constexpr std::string_view kSysClassNet = "/sys/class/net";

struct CanInterface {
  std::string name;    // e.g. "can0"
  std::string driver;  // e.g. "peak_usb"; empty for virtual interfaces
  int index = 0;       // interface index (0 when sysfs does not tell it)
  friend bool operator==(const CanInterface&, const CanInterface&) = default;
};

// All CAN interfaces, in interface-index order (the order they appeared in), then by name.
// sysfsRoot is for tests; it stands for /sys/class/net.
std::vector<CanInterface> listCanInterfaces(std::string_view sysfsRoot = kSysClassNet);

// The first CAN interface whose kernel driver is `driver`, e.g. the first PEAK PCAN-USB adapter
// for "peak_usb".
std::optional<std::string> findInterfaceByDriver(std::string_view driver,
                                                 std::string_view sysfsRoot = kSysClassNet);

// Whether the interface exists and is a CAN interface.
bool isCanInterface(std::string_view name, std::string_view sysfsRoot = kSysClassNet);

// The names of all CAN interfaces, comma-separated, or "none" (for error messages).
std::string describeCanInterfaces(std::string_view sysfsRoot = kSysClassNet);

}  // namespace canbus
