// canmonitor: a window on a CANopen network through the master component and libcanopen32:
// the network and node statistics tables, NMT, heartbeat, node guarding, SYNC, TIME, PDO
// reception and single SDO transfers. See monitor_options.h for the command line.
#include <QApplication>
#include <cstdio>
#include <variant>

#include "monitor_options.h"
#include "monitor_window.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  QStringList arguments = QApplication::arguments();
  arguments.removeFirst();
  if (arguments.contains("--help") || arguments.contains("-h")) {
    std::fputs(can_monitor::kUsage, stdout);
    return 0;
  }
  auto parsed = can_monitor::parseOptions(arguments);
  if (const auto* error = std::get_if<std::string>(&parsed)) {
    std::fprintf(stderr, "canmonitor: %s\n%s", error->c_str(), can_monitor::kUsage);
    return 2;
  }
  can_monitor::MonitorWindow window(std::get<can_monitor::Options>(std::move(parsed)));
  window.show();
  return QApplication::exec();
}
