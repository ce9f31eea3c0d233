// The library's error catalogue: every code it returns or reports with its name and fixed text,
// written once. The codes drivers/canopen.h does not name are declared here from it; kcoGetText
// (error_text.cpp) takes the texts from it. Each service owns a range next to its success code,
// so a code alone tells where it came from. The SDO abort codes a node may send follow from
// kSdoAbortFirst in the order of cia301::kSdoAborts (error_catalogue.h).
#pragma once

#include <cstdint>

namespace canopen32 {

using Code = uint16_t;

// Frame sent; never leaves the library.
inline constexpr Code kSent = 0;

// X(name, code, text) for the codes of the library's own.
#define CANOPEN32_LIBRARY_CODES(X)                                                             \
  /* kcoInit and the channel. */                                                               \
  X(kInitBadHardwareCode, 0x1001, "kcoInit: unknown hardware code (valid codes are 1..9)")     \
  X(kInitNotConfigured, 0x1002, "kcoInit: no CAN interface configured for this hardware code") \
  X(kInitBadChannelsVariable, 0x1003,                                                          \
    "kcoInit: malformed entry in CANOPEN32_CHANNELS (expected CODE=URL)")                      \
  X(kInitBadUrl, 0x1004, "kcoInit: CAN channel URL not understood")                            \
  X(kInitNoInterface, 0x1005, "kcoInit: CAN interface or hub not found")                       \
  X(kInitNoKernelCan, 0x1006, "kcoInit: the kernel has no CAN support")                        \
  X(kInitPermission, 0x1007, "kcoInit: permission denied on the CAN interface")                \
  X(kInitBitrateMismatch, 0x1008, "kcoInit: the CAN interface runs at another bit rate")       \
  X(kInitBadBitrate, 0x1009, "kcoInit: bit rate not supported (1..1000000 bit/s)")             \
  X(kInitFailed, 0x100A, "kcoInit: the CAN interface could not be opened")                     \
  X(kInitInsideCallback, 0x100B,                                                               \
    "kcoInit may not be called from inside a callback of the library")                         \
  X(kNotInitialised, 0x1010, "CANopen driver not initialised (no successful kcoInit)")         \
  X(kChannelUnavailable, 0x1011,                                                               \
    "CAN channel not available (lost; the library tries to reopen it every 500 ms)")           \
  X(kSendFailed, 0x1012, "CAN frame could not be sent")                                        \
  X(kBusOff, 0x1013, "CAN controller is bus-off")                                              \
  X(kBadNode, 0x1014, "node id out of range 1..127")                                           \
  X(kBadNodeOrAll, 0x1015, "node id out of range 0..127")                                      \
                                                                                               \
  X(kNmtBadCommand, 0x2101, "unknown NMT command")                                             \
                                                                                               \
  /* kcoSDO refusals. */                                                                       \
  X(kSdoBadFunction, 0x3201, "unknown SDO function (0x3100 upload or 0x3101 download)")        \
  X(kSdoBadType, 0x3202, "unknown SDO data type (0x3003, 0x3004, 0x3005 or 0x3007)")           \
  X(kSdoNullData, 0x3203, "SDO request without data pointer")                                  \
  X(kSdoBusy, 0x3204, "an SDO transfer with this node is already running")                     \
  X(kSdoTextDownload, 0x3205, "SDO download of a text is not supported")                       \
                                                                                               \
  /* SDO completion failures of the client itself. */                                          \
  X(kSdoTimeout, 0x3301, "SDO time-out: the node did not answer (abort 0x05040000 sent)")      \
  X(kSdoChannelLost, 0x3302, "SDO transfer ended: CAN channel lost")                           \
  X(kSdoLengthMismatch, 0x3303,                                                                \
    "SDO upload: the node sent a different number of bytes than the data type")                \
  X(kSdoUnexpectedResponse, 0x3304,                                                            \
    "SDO protocol error: unexpected or unknown response from the node")                        \
  X(kSdoToggleError, 0x3305, "SDO protocol error: toggle bit not alternated")                  \
  X(kSdoTooLarge, 0x3306, "SDO upload: the node announced more data than the library accepts") \
  X(kSdoWrongObject, 0x3307, "SDO protocol error: response for another index or sub-index")    \
  X(kSdoMalformedResponse, 0x3308, "SDO protocol error: response frame is not 8 bytes long")   \
  X(kSdoSendFailed, 0x3309, "SDO transfer ended: CAN frame could not be sent")                 \
                                                                                               \
  /* SDO aborts from the server: an unknown abort code; the known ones follow from 0x3401. */  \
  X(kSdoAbortUnknown, 0x3400, "SDO abort: unknown SDO abort code")                             \
                                                                                               \
  X(kPdoBadNumber, 0x4201, "PDO number out of range 1..4")                                     \
  X(kPdoBadFunction, 0x4202, "unknown PDO function (0x4000 remove or 0x4001 install)")         \
  X(kPdoBadDirection, 0x4203, "unknown PDO direction (0x4100 receive or 0x4101 transmit)")     \
  X(kPdoNoTable, 0x4204, "PDO install without entry table")                                    \
  X(kPdoTooLong, 0x4205, "PDO entries longer than 8 bytes in total")                           \
  X(kPdoNullData, 0x4206, "PDO entry without data pointer")                                    \
  X(kPdoLengthMismatch, 0x4207, "PDO length mismatch: frame shorter than the mapped objects")  \
                                                                                               \
  X(kNodeguardBadFunction, 0x5101, "unknown node guarding function (0x5000 off or 0x5001 on)") \
  X(kHeartbeatBadFunction, 0x6101, "unknown heartbeat function (0x6000 off or 0x6001 on)")     \
  X(kSyncBadFunction, 0x7101, "unknown SYNC function (0x7000 off or 0x7001 on)")               \
  X(kTimestampBadFunction, 0x8101, "unknown TIME stamp function (0x8000 off or 0x8001 on)")

enum : Code {
#define CANOPEN32_DECLARE_CODE(name, code, text) name = code,
  CANOPEN32_LIBRARY_CODES(CANOPEN32_DECLARE_CODE)
#undef CANOPEN32_DECLARE_CODE
  // The first of the codes of the known SDO abort codes.
  kSdoAbortFirst = 0x3401,
};

}  // namespace canopen32
