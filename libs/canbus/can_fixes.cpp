#include "canbus/can_fixes.h"

namespace canbus {
namespace {

std::string persistent(const std::string& name, uint32_t bitrate) {
  return " To keep the bit rate and the automatic restart across re-plugging and reboots, let "
         "systemd-networkd set them: a file /etc/systemd/network/80-" +
         name + ".network with \"[Match] Name=" + name +
         "\" and \"[CAN] BitRate=" + networkdBitrate(bitrate) +
         " RestartSec=" + std::to_string(kRestartMs) +
         "ms\" (one setting per line), then: sudo systemctl enable --now systemd-networkd "
         "(or a udev rule that runs the commands when the adapter appears).";
}

std::string capability() {
  return " Or let the program do this itself: sudo setcap cap_net_admin+ep on the program "
         "(e.g. /usr/bin/RQ730Calib).";
}

}  // namespace

std::string networkdBitrate(uint32_t bitrate) {
  if (bitrate != 0 && bitrate % 1000000 == 0) return std::to_string(bitrate / 1000000) + "M";
  if (bitrate != 0 && bitrate % 1000 == 0) return std::to_string(bitrate / 1000) + "K";
  return std::to_string(bitrate);
}

std::string canFixText(CanFix fix, std::string_view interface, uint32_t bitrate) {
  const std::string name(interface);
  const std::string ip = "sudo ip link set " + name;
  switch (fix) {
    case CanFix::absent:
      return "Plug in the adapter and check with `ip link show type can` that " +
             (name.empty() ? std::string("it") : name) + " appears.";
    case CanFix::down: return "Fix: " + ip + " up." + persistent(name, bitrate) + capability();
    case CanFix::bitrate:
      return "Fix: " + ip + " down; " + ip + " type can bitrate " + std::to_string(bitrate) + "; " +
             ip + " up." + persistent(name, bitrate) + capability();
    case CanFix::busOff:
      return "Fix: " + ip + " type can restart." + persistent(name, bitrate) + capability();
    case CanFix::cannotRestart:
      return "Its driver cannot restart it; fix: " + ip + " down; " + ip + " up.";
  }
  return {};
}

}  // namespace canbus
