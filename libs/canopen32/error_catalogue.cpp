#include "error_catalogue.h"

#include <cstdio>
#include <vector>

#include "cia301/sdo_abort_codes.h"
#include "drivers/canopen.h"

namespace canopen32 {
namespace {

// X(name, text) for the codes drivers/canopen.h names.
#define CANOPEN32_INTERFACE_CODES(X)                                     \
  X(KCO_INIT_OK, "CAN interface initialised")                            \
  X(KCO_NMT_START, "NMT start remote node")                              \
  X(KCO_NMT_STOP, "NMT stop remote node")                                \
  X(KCO_NMT_PREOPERATIONAL, "NMT enter pre-operational")                 \
  X(KCO_NMT_RESET_NODE, "NMT reset node")                                \
  X(KCO_NMT_RESET_COMMUNICATION, "NMT reset communication")              \
  X(KCO_NMT_OK, "NMT command sent")                                      \
  X(KCO_SDO_UPLOAD, "SDO upload")                                        \
  X(KCO_SDO_DOWNLOAD, "SDO download")                                    \
  X(KCO_SDO_ACCEPTED, "SDO request accepted")                            \
  X(KCO_SDO_DONE, "SDO transfer done")                                   \
  X(KCO_TYPE_U8, "data type unsigned 8-bit")                             \
  X(KCO_TYPE_U16, "data type unsigned 16-bit")                           \
  X(KCO_TYPE_U32, "data type unsigned 32-bit")                           \
  X(KCO_TYPE_TEXT, "data type text")                                     \
  X(KCO_PDO_REMOVE, "PDO remove")                                        \
  X(KCO_PDO_INSTALL, "PDO install")                                      \
  X(KCO_PDO_RECEIVE, "receive PDO")                                      \
  X(KCO_PDO_TRANSMIT, "transmit PDO")                                    \
  X(KCO_PDO_OK, "PDO request done")                                      \
  X(KCO_NODEGUARD_OFF, "node guarding off")                              \
  X(KCO_NODEGUARD_ON, "node guarding on")                                \
  X(KCO_NODEGUARD_OK, "node guarding request done")                      \
  X(KCO_NODEGUARD_NOT_ACTIVATED, "node guarding not activated")          \
  X(KCO_NODEGUARD_ACTIVATED, "node guarding activated")                  \
  X(KCO_NODEGUARD_RESPONSE_MISSED, "node guarding: response missed")     \
  X(KCO_NODEGUARD_LIFE_TIME_ELAPSED, "node guarding: life time elapsed") \
  X(KCO_NODEGUARD_TOGGLE_ERROR, "node guarding: toggle error")           \
  X(KCO_NODEGUARD_STATE_CHANGED, "node guarding: state changed")         \
  X(KCO_NODEGUARD_NMT_UNKNOWN, "unknown")                                \
  X(KCO_NODEGUARD_NMT_OPERATIONAL, "operational")                        \
  X(KCO_NODEGUARD_NMT_STOPPED, "stopped")                                \
  X(KCO_NODEGUARD_NMT_PREOPERATIONAL, "pre-operational")                 \
  X(KCO_NODEGUARD_NMT_RESET_NODE, "reset node")                          \
  X(KCO_NODEGUARD_NMT_RESET_COMMUNICATION, "reset communication")        \
  X(KCO_HEARTBEAT_OFF, "heartbeat supervision off")                      \
  X(KCO_HEARTBEAT_ON, "heartbeat supervision on")                        \
  X(KCO_HEARTBEAT_OK, "heartbeat request done")                          \
  X(KCO_HEARTBEAT_WAITING, "heartbeat: waiting for the first heartbeat") \
  X(KCO_HEARTBEAT_RUNNING, "heartbeat: running")                         \
  X(KCO_HEARTBEAT_STOPPED, "heartbeat: stopped (heartbeat missing)")     \
  X(KCO_HEARTBEAT_NMT_UNKNOWN, "unknown")                                \
  X(KCO_HEARTBEAT_NMT_OPERATIONAL, "operational")                        \
  X(KCO_HEARTBEAT_NMT_STOPPED, "stopped")                                \
  X(KCO_HEARTBEAT_NMT_PREOPERATIONAL, "pre-operational")                 \
  X(KCO_HEARTBEAT_NMT_RESET_NODE, "reset node")                          \
  X(KCO_HEARTBEAT_NMT_RESET_COMMUNICATION, "reset communication")        \
  X(KCO_SYNC_OFF, "SYNC off")                                            \
  X(KCO_SYNC_ON, "SYNC on")                                              \
  X(KCO_SYNC_OK, "SYNC request done")                                    \
  X(KCO_TIMESTAMP_OFF, "TIME stamp off")                                 \
  X(KCO_TIMESTAMP_ON, "TIME stamp on")                                   \
  X(KCO_TIMESTAMP_OK, "TIME stamp request done")

constexpr CatalogueEntry kNamedCodes[] = {
#define CANOPEN32_INTERFACE_ENTRY(name, text) {name, #name, text},
    CANOPEN32_INTERFACE_CODES(CANOPEN32_INTERFACE_ENTRY)
#undef CANOPEN32_INTERFACE_ENTRY
#define CANOPEN32_LIBRARY_ENTRY(name, code, text) {name, #name, text},
        CANOPEN32_LIBRARY_CODES(CANOPEN32_LIBRARY_ENTRY)
#undef CANOPEN32_LIBRARY_ENTRY
};

// The named codes, then one code per known SDO abort code with the texts built once. The
// strings are reserved up front, so the views into them stay valid.
struct Catalogue {
  std::vector<std::string> abortNames;
  std::vector<std::string> abortTexts;
  std::vector<CatalogueEntry> entries;

  Catalogue() {
    abortNames.reserve(cia301::kSdoAborts.size());
    abortTexts.reserve(cia301::kSdoAborts.size());
    entries.assign(std::begin(kNamedCodes), std::end(kNamedCodes));
    for (size_t i = 0; i < cia301::kSdoAborts.size(); ++i) {
      const auto abortCode = static_cast<uint32_t>(cia301::kSdoAborts[i].code);
      const std::string_view meaning = cia301::kSdoAborts[i].meaning;
      char text[200];
      std::snprintf(text, sizeof text, "SDO abort 0x%08X", abortCode);
      abortNames.emplace_back(text);
      std::snprintf(text, sizeof text, "SDO abort 0x%08X: %.*s", abortCode,
                    static_cast<int>(meaning.size()), meaning.data());
      abortTexts.emplace_back(text);
      entries.push_back(
          {static_cast<Code>(kSdoAbortFirst + i), abortNames.back(), abortTexts.back()});
    }
  }
};

const Catalogue& catalogue() {
  static const Catalogue instance;
  return instance;
}

}  // namespace

std::span<const CatalogueEntry> errorCatalogue() { return catalogue().entries; }

const CatalogueEntry* findCode(Code code) {
  for (const CatalogueEntry& entry : errorCatalogue()) {
    if (entry.code == code) return &entry;
  }
  return nullptr;
}

Code completionForAbort(uint32_t abortCode) {
  const auto position = cia301::sdoAbortPosition(abortCode);
  return position ? static_cast<Code>(kSdoAbortFirst + *position) : Code{kSdoAbortUnknown};
}

std::string unknownAbortText(uint32_t abortCode) {
  char text[80];
  std::snprintf(text, sizeof text, "SDO abort 0x%08X: unknown SDO abort code", abortCode);
  return text;
}

}  // namespace canopen32
