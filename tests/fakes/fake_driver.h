// A recording fake of the driver library, linked in place of libcanopen32.so. It records every
// kco* call except kcoLoop (which it counts), answers with configurable result codes, and runs
// scripted actions inside kcoLoop, where a test delivers callbacks as the real library would.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "drivers/canopen.h"

namespace fake_driver {

struct Call {
  std::string function;         // "kcoInit", "kcoNMT", ...
  std::vector<uint32_t> args;   // the integer arguments in order; a kcoSDO download also has
                                // the value it sends, read from its variable, at the end
  const void* data = nullptr;   // the pointer argument, if any

  bool operator==(const Call&) const = default;
};

struct Callbacks {
  kcoSdoDoneCallback sdoUploadDone = nullptr;
  kcoSdoDoneCallback sdoDownloadDone = nullptr;
  kcoPdoCallback pdoReceived = nullptr;
  kcoPdoCallback pdoTransmitted = nullptr;
  kcoNodeguardCallback nodeguard = nullptr;
  kcoHeartbeatCallback heartbeat = nullptr;
  kcoEmcyCallback emcy = nullptr;
  kcoBootCallback boot = nullptr;
};

// Forgets calls, results, scripts and callbacks.
void reset();

const std::vector<Call>& calls();
void clearCalls();
// Calls of one function, in order.
std::vector<Call> callsOf(const std::string& function);
int loopCount();

// kcoInit's result for one hardware code (default: success for every code).
void setInitResult(uint8_t hardware, uint16_t code);
// Result of the other functions (default: each one's success code).
void setResult(const std::string& function, uint16_t code);

// Runs `action` inside the next kcoLoop call (actions queued together run in one call).
void onNextLoop(std::function<void()> action);
// Runs `probe` at the start of every kcoLoop call, before the scripted actions (null: none).
void onEveryLoop(std::function<void()> probe);

// The driver table of the last kcoPDO install, copied during that call as (length, variable):
// the entries up to and including the first one of length 0, at most eight.
std::vector<std::pair<int, void*>> lastPdoTable();

// Answers an accepted kcoSDO request inside the next kcoLoop: returns the completion code and,
// for an upload, may fill the variable. Without a server every transfer succeeds, uploads leave
// numbers untouched and a text upload reads "fake node".
using SdoServer = std::function<uint16_t(uint8_t node, uint16_t index, uint8_t subindex,
                                         uint16_t function, uint16_t datatype, void* data)>;
void setSdoServer(SdoServer server);
// The node id that the completion reports (default: the requested node).
void setSdoCompletionNode(uint8_t node);

// The callbacks registered by the last kcoInit.
const Callbacks& callbacks();

}  // namespace fake_driver
