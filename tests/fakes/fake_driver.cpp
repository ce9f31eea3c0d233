#include "fake_driver.h"

#include <cstring>
#include <optional>
#include <utility>

namespace fake_driver {
namespace {

struct State {
  std::vector<Call> calls;
  int loops = 0;
  std::map<uint8_t, uint16_t> initResults;
  std::map<std::string, uint16_t> results;
  std::vector<std::function<void()>> nextLoop;
  std::function<void()> everyLoop;
  std::vector<std::pair<int, void*>> pdoTable;
  Callbacks callbacks;
  SdoServer sdoServer;
  std::optional<uint8_t> completionNode;
};

State& state() {
  static State s;
  return s;
}

uint16_t resultOf(const std::string& function, uint16_t success) {
  const auto found = state().results.find(function);
  return found == state().results.end() ? success : found->second;
}

void record(std::string function, std::vector<uint32_t> args, const void* data = nullptr) {
  state().calls.push_back({std::move(function), std::move(args), data});
}

}  // namespace

void reset() { state() = State{}; }
const std::vector<Call>& calls() { return state().calls; }
void clearCalls() { state().calls.clear(); }
int loopCount() { return state().loops; }

std::vector<Call> callsOf(const std::string& function) {
  std::vector<Call> result;
  for (const Call& call : state().calls) {
    if (call.function == function) result.push_back(call);
  }
  return result;
}

void setInitResult(uint8_t hardware, uint16_t code) { state().initResults[hardware] = code; }
void setResult(const std::string& function, uint16_t code) { state().results[function] = code; }
void onNextLoop(std::function<void()> action) { state().nextLoop.push_back(std::move(action)); }
void onEveryLoop(std::function<void()> probe) { state().everyLoop = std::move(probe); }
std::vector<std::pair<int, void*>> lastPdoTable() { return state().pdoTable; }
const Callbacks& callbacks() { return state().callbacks; }
void setSdoServer(SdoServer server) { state().sdoServer = std::move(server); }
void setSdoCompletionNode(uint8_t node) { state().completionNode = node; }

uint32_t readVariable(uint16_t datatype, const void* data) {
  uint8_t u8 = 0;
  uint16_t u16 = 0;
  uint32_t u32 = 0;
  switch (datatype) {
    case KCO_TYPE_U8: std::memcpy(&u8, data, 1); return u8;
    case KCO_TYPE_U16: std::memcpy(&u16, data, 2); return u16;
    case KCO_TYPE_U32: std::memcpy(&u32, data, 4); return u32;
    default: return 0;
  }
}

}  // namespace fake_driver

using fake_driver::readVariable;
using fake_driver::record;
using fake_driver::resultOf;
using fake_driver::state;

extern "C" {

uint16_t kcoInit(uint8_t hardware, uint32_t bitrate, uint8_t extended,
                 kcoSdoDoneCallback sdoUploadDone, kcoSdoDoneCallback sdoDownloadDone,
                 kcoPdoCallback pdoReceived, kcoPdoCallback pdoTransmitted,
                 kcoNodeguardCallback nodeguard, kcoHeartbeatCallback heartbeat,
                 kcoEmcyCallback emcy, kcoBootCallback boot) {
  record("kcoInit", {hardware, bitrate, extended});
  state().callbacks = {sdoUploadDone, sdoDownloadDone, pdoReceived, pdoTransmitted,
                       nodeguard,     heartbeat,       emcy,        boot};
  const auto found = state().initResults.find(hardware);
  return found == state().initResults.end() ? uint16_t{KCO_INIT_OK} : found->second;
}

uint16_t kcoLoop(void) {
  ++state().loops;
  if (state().everyLoop) state().everyLoop();
  auto actions = std::exchange(state().nextLoop, {});
  for (auto& action : actions) action();
  return 0;
}

const char* kcoGetText(uint16_t code) {
  static std::map<uint16_t, std::string> texts;
  auto [it, added] = texts.try_emplace(code, "fake driver text for code " + std::to_string(code));
  return it->second.c_str();
}

uint16_t kcoNMT(uint8_t node, uint16_t command) {
  record("kcoNMT", {node, command});
  return resultOf("kcoNMT", KCO_NMT_OK);
}

uint16_t kcoSDO(uint8_t node, uint16_t index, uint8_t subindex, uint16_t function,
                uint16_t datatype, void* data) {
  std::vector<uint32_t> args{node, index, subindex, function, datatype};
  if (function == KCO_SDO_DOWNLOAD) args.push_back(readVariable(datatype, data));
  record("kcoSDO", std::move(args), data);
  const uint16_t result = resultOf("kcoSDO", KCO_SDO_ACCEPTED);
  if (result != KCO_SDO_ACCEPTED) return result;
  fake_driver::onNextLoop([=] {
    uint16_t code = KCO_SDO_DONE;
    if (state().sdoServer) {
      code = state().sdoServer(node, index, subindex, function, datatype, data);
    } else if (function == KCO_SDO_UPLOAD && datatype == KCO_TYPE_TEXT) {
      static const char* const kName = "fake node";
      std::memcpy(data, &kName, sizeof kName);
    }
    const uint8_t reported = state().completionNode.value_or(node);
    const fake_driver::Callbacks& cb = state().callbacks;
    if (function == KCO_SDO_UPLOAD) {
      if (cb.sdoUploadDone) cb.sdoUploadDone(reported, code);
    } else if (cb.sdoDownloadDone) {
      cb.sdoDownloadDone(reported, code);
    }
  });
  return result;
}

uint16_t kcoPDO(uint8_t node, uint8_t num, uint16_t function, uint16_t direction,
                const kcoPdoEntry* entries, uint32_t value) {
  record("kcoPDO", {node, num, function, direction, value}, entries);
  if (function == KCO_PDO_INSTALL && entries != nullptr) {
    state().pdoTable.clear();
    for (int k = 0; k < KCO_PDO_MAX_ENTRIES; ++k) {
      // Packed entries: copy the fields out instead of binding references to them.
      const int length = entries[k].length;
      void* const data = entries[k].data;
      state().pdoTable.emplace_back(length, data);
      if (length == 0) break;
    }
  }
  return resultOf("kcoPDO", KCO_PDO_OK);
}

uint16_t kcoNODEGUARD(uint8_t node, uint16_t function, uint16_t guardtime,
                      uint8_t lifetimefactor) {
  record("kcoNODEGUARD", {node, function, guardtime, lifetimefactor});
  return resultOf("kcoNODEGUARD", KCO_NODEGUARD_OK);
}

uint16_t kcoHEARTBEAT(uint8_t node, uint16_t function, uint16_t time) {
  record("kcoHEARTBEAT", {node, function, time});
  return resultOf("kcoHEARTBEAT", KCO_HEARTBEAT_OK);
}

uint16_t kcoSYNC(uint16_t function, uint16_t time) {
  record("kcoSYNC", {function, time});
  return resultOf("kcoSYNC", KCO_SYNC_OK);
}

uint16_t kcoTIMESTAMP(uint16_t function, uint16_t time) {
  record("kcoTIMESTAMP", {function, time});
  return resultOf("kcoTIMESTAMP", KCO_TIMESTAMP_OK);
}

}  // extern "C"
