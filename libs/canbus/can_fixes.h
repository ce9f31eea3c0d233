// How a user fixes, by hand, what the library may not fix itself on a kernel CAN interface: the
// one place that writes these texts. Each names only the commands for the case at hand, each
// command with the `sudo` it needs, then how to make the setting survive re-plugging and reboots
// and how to let the program do it. Cases that root cannot fix name no root.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace canbus {

enum class CanFix {
  absent,         // no such interface: plug the adapter in
  down,           // the interface is down
  bitrate,        // no or another bit rate
  busOff,         // bus-off, and the kernel does not restart it (restart-ms 0)
  cannotRestart,  // bus-off, and the driver has no restart (down and up again)
};

// restart-ms the library gives an interface whose bit rate it sets, and the persistent setting
// recommends: the kernel restarts the controller 100 ms after a bus-off.
inline constexpr uint32_t kRestartMs = 100;

// The fix for the case, e.g. for bitrate on can0 at 500000 bit/s:
//   "Fix: sudo ip link set can0 down; sudo ip link set can0 type can bitrate 500000; sudo ip
//   link set can0 up. To keep it across re-plugging and reboots: ..."
std::string canFixText(CanFix fix, std::string_view interface, uint32_t bitrate);

// The bit rate as systemd-networkd writes it: 500K, 1M, 33333.
std::string networkdBitrate(uint32_t bitrate);

}  // namespace canbus
