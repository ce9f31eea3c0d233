// Result and report codes of the driver library that drivers/canopen.h does not name. Each
// service owns a range next to its success code, so a code alone tells where it came from.
#pragma once

#include <cstdint>

namespace canopen32 {

using Code = uint16_t;

// Frame sent; never leaves the library.
inline constexpr Code kSent = 0;

enum : Code {
  // kcoInit and the channel.
  kInitBadHardwareCode = 0x1001,      // hardware code outside 1..9
  kInitNotConfigured = 0x1002,        // no channel configured for the code
  kInitBadChannelsVariable = 0x1003,  // malformed CANOPEN32_CHANNELS entry
  kInitBadUrl = 0x1004,               // the channel URL is not understood
  kInitNoInterface = 0x1005,          // interface, hub or bus not there
  kInitNoKernelCan = 0x1006,          // kernel without CAN support
  kInitPermission = 0x1007,           // not allowed (bit rate needs CAP_NET_ADMIN)
  kInitBitrateMismatch = 0x1008,      // interface runs at another bit rate
  kInitBadBitrate = 0x1009,           // bit rate 0 or above 1 Mbit/s
  kInitFailed = 0x100A,               // any other open failure
  kInitInsideCallback = 0x100B,       // kcoInit called from one of the library's callbacks
  kNotInitialised = 0x1010,           // no successful kcoInit yet
  kChannelUnavailable = 0x1011,       // channel lost; the library tries to reopen it
  kSendFailed = 0x1012,               // transmit queue full or write failed
  kBusOff = 0x1013,                   // controller bus-off (also ends running SDO transfers)
  kBadNode = 0x1014,                  // node id outside 1..127
  kBadNodeOrAll = 0x1015,             // node id outside 0..127

  kNmtBadCommand = 0x2101,

  // kcoSDO refusals.
  kSdoBadFunction = 0x3201,
  kSdoBadType = 0x3202,
  kSdoNullData = 0x3203,
  kSdoBusy = 0x3204,
  kSdoTextDownload = 0x3205,

  // SDO completion failures of the client itself.
  kSdoTimeout = 0x3301,
  kSdoChannelLost = 0x3302,
  kSdoLengthMismatch = 0x3303,
  kSdoUnexpectedResponse = 0x3304,
  kSdoToggleError = 0x3305,
  kSdoTooLarge = 0x3306,
  kSdoWrongObject = 0x3307,
  kSdoMalformedResponse = 0x3308,
  kSdoSendFailed = 0x3309,

  // SDO aborts from the server: kSdoAbortUnknown, then one code per known abort code.
  kSdoAbortUnknown = 0x3400,
  kSdoAbortFirst = 0x3401,

  kPdoBadNumber = 0x4201,
  kPdoBadFunction = 0x4202,
  kPdoBadDirection = 0x4203,
  kPdoNoTable = 0x4204,
  kPdoTooLong = 0x4205,
  kPdoNullData = 0x4206,
  kPdoLengthMismatch = 0x4207,

  kNodeguardBadFunction = 0x5101,
  kHeartbeatBadFunction = 0x6101,
  kSyncBadFunction = 0x7101,
  kTimestampBadFunction = 0x8101,
};

}  // namespace canopen32
