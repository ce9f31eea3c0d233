// Expedited SDO round trips per second through the virtual bus, from the driver library to the
// simulated module and back, unpaced and with the bus paced at 500 kbit/s, beside the wire limit.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "canbus/frame.h"
#include "canbus/wire_timing.h"
#include "child_process.h"
#include "drivers/canopen.h"
#include "figures.h"

namespace {

bool gDone = false;
uint16_t gCode = 0;

void uploadDone(uint8_t, uint16_t code) {
  gDone = true;
  gCode = code;
}
void downloadDone(uint8_t, uint16_t) {}
void pdo(uint8_t, uint8_t) {}
void supervision(uint8_t, uint16_t, uint16_t) {}
void emcy(uint8_t, uint8_t) {}
void boot(uint8_t) {}

// Round trips per second over `count` reads of the serial number; 0 when a transfer failed.
double measure(const std::string& hubArguments, int count) {
  const std::string dir = programDirectory();
  std::vector<std::string> hubArgv = {dir + "/canhub", "--listen", "127.0.0.1:0"};
  if (!hubArguments.empty()) {
    hubArgv.push_back("--bitrate");
    hubArgv.push_back(hubArguments);
  }
  ChildProcess hub(hubArgv);
  const std::string listening = hub.readLine();  // "listening on 127.0.0.1:PORT"
  const std::string port = listening.substr(listening.rfind(':') + 1);
  const std::string url = "socketcand://127.0.0.1:" + port + "/bench";
  ChildProcess module({dir + "/rq730sim", "--channel", url, "--warmup-ms", "0"});
  if (module.readLine() != "ready") return 0;

  setenv("CANOPEN32_CHANNELS", ("9=" + url).c_str(), 1);
  if (kcoInit(9, 500000, 0, uploadDone, downloadDone, pdo, pdo, supervision, supervision, emcy,
              boot) != KCO_INIT_OK) {
    return 0;
  }
  uint32_t serial = 0;
  const auto readOnce = [&] {
    gDone = false;
    if (kcoSDO(1, 0x1018, 4, KCO_SDO_UPLOAD, KCO_TYPE_U32, &serial) != KCO_SDO_ACCEPTED) {
      return false;
    }
    while (!gDone) kcoLoop();
    return gCode == KCO_SDO_DONE;
  };
  for (int i = 0; i < 20; ++i) readOnce();  // the connection settles
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) {
    if (!readOnce()) return 0;
  }
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  return count / elapsed.count();
}

}  // namespace

int main() {
  const int count = 2000;
  // Two 8-byte frames per round trip: 2 x 111..135 bits at 500 kbit/s = 444..540 us.
  const double limitBest = 1e6 / 444.0;
  const double limitWorst = 1e6 / 540.0;
  const double unpaced = measure("", count);
  const double paced = measure("500000", count);
  // The hub's own limit: the request and the answer of this very transfer, back to back, with
  // the bits the hub counts for them (stuff bits included).
  canbus::Frame request{};
  request.id = 0x601;
  request.length = 8;
  request.data = {0x40, 0x18, 0x10, 0x04, 0, 0, 0, 0};
  canbus::Frame answer{};
  answer.id = 0x581;
  answer.length = 8;
  const uint32_t serial = 73012345;
  answer.data = {0x43,
                 0x18,
                 0x10,
                 0x04,
                 static_cast<uint8_t>(serial),
                 static_cast<uint8_t>(serial >> 8),
                 static_cast<uint8_t>(serial >> 16),
                 static_cast<uint8_t>(serial >> 24)};
  const double hubLimit =
      1e9 / static_cast<double>(
                (canbus::wireTime(request, 500000) + canbus::wireTime(answer, 500000)).count());
  std::printf("SDO expedited upload round trips through canhub (%d each):\n", count);
  reportFigure("unpaced SDO round trips", unpaced, "/s", ">= 20000", "loopback TCP, four hops");
  char wire[128];
  std::snprintf(wire, sizeof wire, "hub's wire limit %.0f /s (any frames: %.0f..%.0f /s)", hubLimit,
                limitWorst, limitBest);
  char goal[32];
  std::snprintf(goal, sizeof goal, ">= %.0f", 0.9 * hubLimit);
  reportFigure("paced SDO round trips at 500 kbit/s", paced, "/s", goal, wire);
  return unpaced > 0 && paced > 0 ? 0 : 1;
}
