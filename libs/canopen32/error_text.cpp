#include "error_text.h"

#include <cstdio>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

#include "drivers/canopen.h"
#include "sdo_abort.h"

namespace canopen32 {
namespace {

struct FixedText {
  Code code;
  const char* text;
};

constexpr FixedText kFixedTexts[] = {
    {KCO_INIT_OK, "CAN interface initialised"},
    {kInitBadHardwareCode, "kcoInit: unknown hardware code (valid codes are 1..9)"},
    {kInitNotConfigured, "kcoInit: no CAN interface configured for this hardware code"},
    {kInitBadChannelsVariable,
     "kcoInit: malformed entry in CANOPEN32_CHANNELS (expected CODE=URL)"},
    {kInitBadUrl, "kcoInit: CAN channel URL not understood"},
    {kInitNoInterface, "kcoInit: CAN interface or hub not found"},
    {kInitNoKernelCan, "kcoInit: the kernel has no CAN support"},
    {kInitPermission, "kcoInit: permission denied on the CAN interface"},
    {kInitBitrateMismatch, "kcoInit: the CAN interface runs at another bit rate"},
    {kInitBadBitrate, "kcoInit: bit rate not supported (1..1000000 bit/s)"},
    {kInitFailed, "kcoInit: the CAN interface could not be opened"},
    {kInitInsideCallback, "kcoInit may not be called from inside a callback of the library"},
    {kNotInitialised, "CANopen driver not initialised (no successful kcoInit)"},
    {kChannelUnavailable,
     "CAN channel not available (lost; the library tries to reopen it every 500 ms)"},
    {kSendFailed, "CAN frame could not be sent"},
    {kBusOff, "CAN controller is bus-off"},
    {kBadNode, "node id out of range 1..127"},
    {kBadNodeOrAll, "node id out of range 0..127"},

    {KCO_NMT_START, "NMT start remote node"},
    {KCO_NMT_STOP, "NMT stop remote node"},
    {KCO_NMT_PREOPERATIONAL, "NMT enter pre-operational"},
    {KCO_NMT_RESET_NODE, "NMT reset node"},
    {KCO_NMT_RESET_COMMUNICATION, "NMT reset communication"},
    {KCO_NMT_OK, "NMT command sent"},
    {kNmtBadCommand, "unknown NMT command"},

    {KCO_SDO_UPLOAD, "SDO upload"},
    {KCO_SDO_DOWNLOAD, "SDO download"},
    {KCO_SDO_ACCEPTED, "SDO request accepted"},
    {KCO_SDO_DONE, "SDO transfer done"},
    {KCO_TYPE_U8, "data type unsigned 8-bit"},
    {KCO_TYPE_U16, "data type unsigned 16-bit"},
    {KCO_TYPE_U32, "data type unsigned 32-bit"},
    {KCO_TYPE_TEXT, "data type text"},
    {kSdoBadFunction, "unknown SDO function (0x3100 upload or 0x3101 download)"},
    {kSdoBadType, "unknown SDO data type (0x3003, 0x3004, 0x3005 or 0x3007)"},
    {kSdoNullData, "SDO request without data pointer"},
    {kSdoBusy, "an SDO transfer with this node is already running"},
    {kSdoTextDownload, "SDO download of a text is not supported"},
    {kSdoTimeout, "SDO time-out: the node did not answer (abort 0x05040000 sent)"},
    {kSdoChannelLost, "SDO transfer ended: CAN channel lost"},
    {kSdoLengthMismatch,
     "SDO upload: the node sent a different number of bytes than the data type"},
    {kSdoUnexpectedResponse, "SDO protocol error: unexpected or unknown response from the node"},
    {kSdoToggleError, "SDO protocol error: toggle bit not alternated"},
    {kSdoTooLarge, "SDO upload: the node announced more data than the library accepts"},
    {kSdoWrongObject, "SDO protocol error: response for another index or sub-index"},
    {kSdoMalformedResponse, "SDO protocol error: response frame is not 8 bytes long"},
    {kSdoSendFailed, "SDO transfer ended: CAN frame could not be sent"},
    {kSdoAbortUnknown, "SDO abort: unknown SDO abort code"},

    {KCO_PDO_REMOVE, "PDO remove"},
    {KCO_PDO_INSTALL, "PDO install"},
    {KCO_PDO_RECEIVE, "receive PDO"},
    {KCO_PDO_TRANSMIT, "transmit PDO"},
    {KCO_PDO_OK, "PDO request done"},
    {kPdoBadNumber, "PDO number out of range 1..4"},
    {kPdoBadFunction, "unknown PDO function (0x4000 remove or 0x4001 install)"},
    {kPdoBadDirection, "unknown PDO direction (0x4100 receive or 0x4101 transmit)"},
    {kPdoNoTable, "PDO install without entry table"},
    {kPdoTooLong, "PDO entries longer than 8 bytes in total"},
    {kPdoNullData, "PDO entry without data pointer"},
    {kPdoLengthMismatch, "PDO length mismatch: frame shorter than the mapped objects"},

    {KCO_NODEGUARD_OFF, "node guarding off"},
    {KCO_NODEGUARD_ON, "node guarding on"},
    {KCO_NODEGUARD_OK, "node guarding request done"},
    {kNodeguardBadFunction, "unknown node guarding function (0x5000 off or 0x5001 on)"},
    {KCO_NODEGUARD_NOT_ACTIVATED, "node guarding not activated"},
    {KCO_NODEGUARD_ACTIVATED, "node guarding activated"},
    {KCO_NODEGUARD_RESPONSE_MISSED, "node guarding: response missed"},
    {KCO_NODEGUARD_LIFE_TIME_ELAPSED, "node guarding: life time elapsed"},
    {KCO_NODEGUARD_TOGGLE_ERROR, "node guarding: toggle error"},
    {KCO_NODEGUARD_STATE_CHANGED, "node guarding: state changed"},
    {KCO_NODEGUARD_NMT_UNKNOWN, "unknown"},
    {KCO_NODEGUARD_NMT_OPERATIONAL, "operational"},
    {KCO_NODEGUARD_NMT_STOPPED, "stopped"},
    {KCO_NODEGUARD_NMT_PREOPERATIONAL, "pre-operational"},
    {KCO_NODEGUARD_NMT_RESET_NODE, "reset node"},
    {KCO_NODEGUARD_NMT_RESET_COMMUNICATION, "reset communication"},

    {KCO_HEARTBEAT_OFF, "heartbeat supervision off"},
    {KCO_HEARTBEAT_ON, "heartbeat supervision on"},
    {KCO_HEARTBEAT_OK, "heartbeat request done"},
    {kHeartbeatBadFunction, "unknown heartbeat function (0x6000 off or 0x6001 on)"},
    {KCO_HEARTBEAT_WAITING, "heartbeat: waiting for the first heartbeat"},
    {KCO_HEARTBEAT_RUNNING, "heartbeat: running"},
    {KCO_HEARTBEAT_STOPPED, "heartbeat: stopped (heartbeat missing)"},
    {KCO_HEARTBEAT_NMT_UNKNOWN, "unknown"},
    {KCO_HEARTBEAT_NMT_OPERATIONAL, "operational"},
    {KCO_HEARTBEAT_NMT_STOPPED, "stopped"},
    {KCO_HEARTBEAT_NMT_PREOPERATIONAL, "pre-operational"},
    {KCO_HEARTBEAT_NMT_RESET_NODE, "reset node"},
    {KCO_HEARTBEAT_NMT_RESET_COMMUNICATION, "reset communication"},

    {KCO_SYNC_OFF, "SYNC off"},
    {KCO_SYNC_ON, "SYNC on"},
    {KCO_SYNC_OK, "SYNC request done"},
    {kSyncBadFunction, "unknown SYNC function (0x7000 off or 0x7001 on)"},
    {KCO_TIMESTAMP_OFF, "TIME stamp off"},
    {KCO_TIMESTAMP_ON, "TIME stamp on"},
    {KCO_TIMESTAMP_OK, "TIME stamp request done"},
    {kTimestampBadFunction, "unknown TIME stamp function (0x8000 off or 0x8001 on)"},
};

// One slot per code. A fixed text is handed out as it is; a detailed or generated text is copied
// into the slot's handed-out string, which the next textFor of the same code may replace. So
// each code holds at most two texts, whatever details come and however often.
struct Slot {
  const char* fixed = nullptr;
  std::optional<std::string> detail;
  std::string handedOut;
};

struct TextStore {
  std::mutex mutex;
  std::unordered_map<Code, Slot> slots;
  std::vector<std::string> abortTexts;  // built once; the fixed texts of the abort codes

  TextStore() {
    for (const FixedText& fixed : kFixedTexts) slots[fixed.code].fixed = fixed.text;
    const auto aborts = sdoAborts();
    abortTexts.reserve(aborts.size());  // no reallocation: the fixed pointers stay valid
    for (size_t i = 0; i < aborts.size(); ++i) {
      char text[200];
      std::snprintf(text, sizeof text, "SDO abort 0x%08X: %.*s", aborts[i].abortCode,
                    static_cast<int>(aborts[i].meaning.size()), aborts[i].meaning.data());
      abortTexts.emplace_back(text);
      slots[static_cast<Code>(kSdoAbortFirst + i)].fixed = abortTexts.back().c_str();
    }
  }
};

TextStore& store() {
  static TextStore instance;
  return instance;
}

}  // namespace

const char* textFor(Code code) {
  TextStore& texts = store();
  std::lock_guard lock(texts.mutex);
  Slot& slot = texts.slots[code];
  if (slot.detail) {
    slot.handedOut = *slot.detail;
  } else if (slot.fixed != nullptr) {
    return slot.fixed;
  } else {
    char text[40];
    std::snprintf(text, sizeof text, "unknown code 0x%04X", code);
    slot.handedOut = text;
  }
  return slot.handedOut.c_str();
}

void setDetail(Code code, std::string text) {
  TextStore& texts = store();
  std::lock_guard lock(texts.mutex);
  texts.slots[code].detail = std::move(text);
}

bool isKnownCode(Code code) {
  for (const FixedText& fixed : kFixedTexts) {
    if (fixed.code == code) return true;
  }
  return code >= kSdoAbortFirst && code < kSdoAbortFirst + sdoAborts().size();
}

size_t storedTextBytes() {
  TextStore& texts = store();
  std::lock_guard lock(texts.mutex);
  size_t bytes = 0;
  for (const auto& [code, slot] : texts.slots) {
    bytes += slot.handedOut.size() + (slot.detail ? slot.detail->size() : 0);
  }
  return bytes;
}

}  // namespace canopen32
