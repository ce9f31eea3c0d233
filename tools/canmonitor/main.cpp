// canmonitor: a window on a CANopen network through the master component and libcanopen32:
// the network and node statistics tables, NMT, heartbeat, node guarding, SYNC, TIME, PDO
// reception and single SDO transfers. See monitor_options.h for the command line.
#include <QApplication>
#include <cstdio>
#include <string_view>
#include <variant>

#include "monitor_options.h"
#include "monitor_window.h"

int main(int argc, char* argv[]) {
  // Answered before the application exists, so that they need no display.
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--help" || argument == "-h") {
      std::fputs(can_monitor::kUsage, stdout);
      return 0;
    }
    if (argument == "--version") {
      std::printf("canmonitor %s\n", RQ_VERSION);
      return 0;
    }
  }
  QApplication application(argc, argv);
  QStringList arguments = QApplication::arguments();
  arguments.removeFirst();
  auto parsed = can_monitor::parseOptions(arguments);
  if (const auto* error = std::get_if<std::string>(&parsed)) {
    std::fprintf(stderr, "canmonitor: %s\n%s", error->c_str(), can_monitor::kUsage);
    return 2;
  }
  can_monitor::MonitorWindow window(std::get<can_monitor::Options>(std::move(parsed)));
  window.show();
  return QApplication::exec();
}
