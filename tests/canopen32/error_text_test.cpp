// Every code the library returns or reports has a text; texts handed out stay valid.
#include "error_text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "cia301/sdo_abort_codes.h"
#include "codes.h"
#include "drivers/canopen.h"
#include "error_catalogue.h"

namespace canopen32 {
namespace {

TEST(ErrorText, EveryLibraryCodeHasItsOwnText) {
  const Code codes[] = {KCO_INIT_OK,
                        kInitBadHardwareCode,
                        kInitNotConfigured,
                        kInitBadChannelsVariable,
                        kInitBadUrl,
                        kInitNoInterface,
                        kInitNoKernelCan,
                        kInitPermission,
                        kInitBitrateMismatch,
                        kInitBadBitrate,
                        kInitFailed,
                        kInitInsideCallback,
                        kNotInitialised,
                        kChannelUnavailable,
                        kSendFailed,
                        kBusOff,
                        kBadNode,
                        kBadNodeOrAll,
                        KCO_NMT_OK,
                        kNmtBadCommand,
                        KCO_SDO_ACCEPTED,
                        KCO_SDO_DONE,
                        kSdoBadFunction,
                        kSdoBadType,
                        kSdoNullData,
                        kSdoBusy,
                        kSdoTextDownload,
                        kSdoTimeout,
                        kSdoChannelLost,
                        kSdoLengthMismatch,
                        kSdoUnexpectedResponse,
                        kSdoToggleError,
                        kSdoTooLarge,
                        kSdoWrongObject,
                        kSdoMalformedResponse,
                        kSdoSendFailed,
                        kSdoAbortUnknown,
                        KCO_PDO_OK,
                        kPdoBadNumber,
                        kPdoBadFunction,
                        kPdoBadDirection,
                        kPdoNoTable,
                        kPdoTooLong,
                        kPdoNullData,
                        kPdoLengthMismatch,
                        KCO_NODEGUARD_OK,
                        kNodeguardBadFunction,
                        KCO_HEARTBEAT_OK,
                        kHeartbeatBadFunction,
                        KCO_SYNC_OK,
                        kSyncBadFunction,
                        KCO_TIMESTAMP_OK,
                        kTimestampBadFunction};
  std::set<std::string> seen;
  for (Code code : codes) {
    EXPECT_TRUE(isKnownCode(code)) << std::hex << code;
    EXPECT_TRUE(seen.insert(textFor(code)).second) << "same text twice: " << textFor(code);
  }
  for (Code code = KCO_NODEGUARD_NOT_ACTIVATED; code <= KCO_NODEGUARD_STATE_CHANGED; ++code) {
    EXPECT_TRUE(isKnownCode(code)) << std::hex << code;
  }
  for (Code code = KCO_HEARTBEAT_NMT_UNKNOWN; code <= KCO_HEARTBEAT_NMT_RESET_COMMUNICATION;
       ++code) {
    EXPECT_TRUE(isKnownCode(code)) << std::hex << code;
  }
  for (const cia301::SdoAbortInfo& abort : cia301::kSdoAborts) {
    const std::string text = textFor(completionForAbort(static_cast<uint32_t>(abort.code)));
    EXPECT_EQ(text.find("SDO abort 0x"), 0u) << text;
    EXPECT_NE(text.find(abort.meaning), std::string::npos) << text;
  }
}

TEST(ErrorText, UnknownCodesAndStableTexts) {
  EXPECT_STREQ(textFor(0xBEEF), "unknown code 0xBEEF");
  EXPECT_STREQ(textFor(0xBEEF), "unknown code 0xBEEF");
  const char* before = textFor(kInitNoInterface);
  setDetail(kInitNoInterface, "first detail");
  const char* first = textFor(kInitNoInterface);
  setDetail(kInitNoInterface, "second detail");
  // A text handed out stays readable until the next text of the same code (the sanitizer
  // build would catch a dangling one), also when other codes are asked for meanwhile.
  const char* other = textFor(kSdoAbortUnknown);
  EXPECT_STREQ(first, "first detail");
  EXPECT_STREQ(textFor(kInitNoInterface), "second detail");
  EXPECT_STREQ(other, textFor(kSdoAbortUnknown));
  // Fixed texts never change.
  EXPECT_NE(std::string(before).find("not found"), std::string::npos);
}

TEST(ErrorText, StoreStaysBoundedWhateverDetailsCome) {
  // A node answering with ever-new abort codes, a controller with ever-new bus-off or send
  // failure messages: each code keeps one detail, not one per text ever seen.
  auto churn = [](uint32_t from, uint32_t count) {
    for (uint32_t i = from; i < from + count; ++i) {
      char abort[80];
      std::snprintf(abort, sizeof abort, "SDO abort 0x%08X: unknown SDO abort code", i);
      setDetail(kSdoAbortUnknown, abort);
      const char* text = textFor(kSdoAbortUnknown);
      EXPECT_STREQ(text, abort);
      setDetail(kBusOff, "CAN controller is bus-off: error " + std::to_string(i));
      setDetail(kSendFailed, "CAN frame could not be sent: error " + std::to_string(i));
      // Asked for before the next detail of its code: still the text handed out.
      const char* sendFailed = textFor(kSendFailed);
      setDetail(kSendFailed, "CAN frame could not be sent: later error");
      EXPECT_EQ(std::string(sendFailed), "CAN frame could not be sent: error " + std::to_string(i));
      EXPECT_STREQ(text, abort);
    }
  };
  churn(0x7F000000, 100);
  const size_t settled = storedTextBytes();
  churn(0x7F100000, 10000);
  EXPECT_LE(storedTextBytes(), settled + 64);
}

}  // namespace
}  // namespace canopen32
