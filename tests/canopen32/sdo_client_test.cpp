// The SDO client as request → frames → replies → completion scripts on a fake clock.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "drivers/canopen.h"
#include "engine_harness.h"
#include "error_text.h"
#include "sdo_abort.h"

namespace canopen32 {
namespace {

using testing::Harness;

struct UploadCase {
  const char* name;
  uint16_t index;
  uint8_t subindex;
  uint16_t datatype;
  std::vector<std::string> script;
  // Bytes expected in the 8-byte area around the variable (at offset 2) afterwards; the area
  // starts out as 0xAA everywhere.
  std::array<uint8_t, 8> area;
};

// Test listings name the case instead of dumping its bytes.
void PrintTo(const UploadCase& c, std::ostream* out) { *out << c.name; }

constexpr uint8_t A = 0xAA;

class SdoUpload : public ::testing::TestWithParam<UploadCase> {};

TEST_P(SdoUpload, WritesOnlyTheTypesWidthAndCompletesOnce) {
  const UploadCase& c = GetParam();
  Harness h;
  std::array<uint8_t, 8> area;
  area.fill(A);
  ASSERT_EQ(h.engine.sdo(h.now, 5, c.index, c.subindex, KCO_SDO_UPLOAD, c.datatype, &area[2]),
            KCO_SDO_ACCEPTED);
  h.run(c.script);
  EXPECT_EQ(area, c.area);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SdoUpload,
    ::testing::Values(
        UploadCase{"ExpeditedU32",
                   0x1018,
                   4,
                   KCO_TYPE_U32,
                   {"> 605#4018100400000000", "< 585#4318100415CD5B07", "! upload 5 3300"},
                   {A, A, 0x15, 0xCD, 0x5B, 0x07, A, A}},
        UploadCase{"ExpeditedU8",
                   0x3104,
                   0,
                   KCO_TYPE_U8,
                   {"> 605#4004310000000000", "< 585#4F04310001000000", "! upload 5 3300"},
                   {A, A, 0x01, A, A, A, A, A}},
        UploadCase{"ExpeditedU16",
                   0x3106,
                   0,
                   KCO_TYPE_U16,
                   {"> 605#4006310000000000", "< 585#4B063100B80B0000", "! upload 5 3300"},
                   {A, A, 0xB8, 0x0B, A, A, A, A}},
        UploadCase{"ExpeditedWithoutSizeTakesTheWidth",
                   0x3106,
                   0,
                   KCO_TYPE_U16,
                   {"> 605#4006310000000000", "< 585#42063100B80B1122", "! upload 5 3300"},
                   {A, A, 0xB8, 0x0B, A, A, A, A}},
        UploadCase{"FourBytesForU16IsAMismatch",
                   0x3106,
                   0,
                   KCO_TYPE_U16,
                   {"> 605#4006310000000000", "< 585#43063100B80B0000", "! upload 5 3303"},
                   {A, A, A, A, A, A, A, A}},
        UploadCase{"OneByteForU32IsAMismatch",
                   0x1018,
                   4,
                   KCO_TYPE_U32,
                   {"> 605#4018100400000000", "< 585#4F18100401000000", "! upload 5 3303"},
                   {A, A, A, A, A, A, A, A}},
        UploadCase{"SegmentedU32",
                   0x1018,
                   4,
                   KCO_TYPE_U32,
                   {"> 605#4018100400000000", "< 585#4118100404000000", "> 605#6000000000000000",
                    "< 585#0715CD5B07000000", "! upload 5 3300"},
                   {A, A, 0x15, 0xCD, 0x5B, 0x07, A, A}},
        UploadCase{"SegmentedAnnouncingTooMuchForTheType",
                   0x1018,
                   4,
                   KCO_TYPE_U32,
                   {"> 605#4018100400000000", "< 585#4118100408000000", "> 605#8018100410000706",
                    "! upload 5 3303"},
                   {A, A, A, A, A, A, A, A}},
        UploadCase{"EmptySegmentThatAnnouncesMoreIsAProtocolError",
                   0x1018,
                   4,
                   KCO_TYPE_U32,
                   {"> 605#4018100400000000", "< 585#4118100404000000", "> 605#6000000000000000",
                    "< 585#0E00000000000000", "> 605#8018100401000405", "! upload 5 3304"},
                   {A, A, A, A, A, A, A, A}},
        UploadCase{"EmptyLastSegmentEndsTheUpload",
                   0x1018,
                   4,
                   KCO_TYPE_U32,
                   {"> 605#4018100400000000", "< 585#4118100404000000", "> 605#6000000000000000",
                    "< 585#0615CD5B07000000", "> 605#7000000000000000", "< 585#1F00000000000000",
                    "! upload 5 3300"},
                   {A, A, 0x15, 0xCD, 0x5B, 0x07, A, A}},
        UploadCase{"ServerAbort",
                   0x1234,
                   0,
                   KCO_TYPE_U32,
                   {"> 605#4034120000000000", "< 585#8034120000000206", "! upload 5 3408"},
                   {A, A, A, A, A, A, A, A}},
        UploadCase{"WrongLength",
                   0x1018,
                   4,
                   KCO_TYPE_U32,
                   {"> 605#4018100400000000", "< 585#4318100415", "> 605#8018100401000405",
                    "! upload 5 3308"},
                   {A, A, A, A, A, A, A, A}},
        UploadCase{"UnknownCommandSpecifier",
                   0x1018,
                   4,
                   KCO_TYPE_U32,
                   {"> 605#4018100400000000", "< 585#E018100400000000", "> 605#8018100401000405",
                    "! upload 5 3304"},
                   {A, A, A, A, A, A, A, A}},
        UploadCase{"DownloadResponseToAnUpload",
                   0x1018,
                   4,
                   KCO_TYPE_U32,
                   {"> 605#4018100400000000", "< 585#6018100400000000", "> 605#8018100401000405",
                    "! upload 5 3304"},
                   {A, A, A, A, A, A, A, A}},
        UploadCase{"WrongIndexEcho",
                   0x1018,
                   4,
                   KCO_TYPE_U32,
                   {"> 605#4018100400000000", "< 585#4318100515CD5B07", "> 605#8018100400000008",
                    "! upload 5 3307"},
                   {A, A, A, A, A, A, A, A}},
        UploadCase{"SegmentToggleError",
                   0x1018,
                   4,
                   KCO_TYPE_U32,
                   {"> 605#4018100400000000", "< 585#4118100404000000", "> 605#6000000000000000",
                    "< 585#1715CD5B07000000", "> 605#8018100400000305", "! upload 5 3305"},
                   {A, A, A, A, A, A, A, A}},
        UploadCase{"TimeoutSendsAbortAndCompletesOnce",
                   0x1018,
                   4,
                   KCO_TYPE_U32,
                   {"> 605#4018100400000000", "+999", "+1", "> 605#8018100400000405",
                    "! upload 5 3301", "+5000", "< 585#4318100415CD5B07", "+5000"},
                   {A, A, A, A, A, A, A, A}},
        UploadCase{
            "EachStepHasItsOwnTimeout",
            0x1018,
            4,
            KCO_TYPE_U32,
            {"> 605#4018100400000000", "+900", "< 585#4118100404000000", "> 605#6000000000000000",
             "+900", "+100", "> 605#8018100400000405", "! upload 5 3301"},
            {A, A, A, A, A, A, A, A}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(SdoText, SegmentedUploadWithTogglesGivesTheLibrarysCopy) {
  Harness h;
  const char* text = nullptr;
  ASSERT_EQ(h.engine.sdo(h.now, 5, 0x1008, 0, KCO_SDO_UPLOAD, KCO_TYPE_TEXT, &text),
            KCO_SDO_ACCEPTED);
  // "RQ 730 weighing" is 15 bytes: 7 + 7 + 1.
  h.run({"> 605#4008100000000000", "< 585#410810000F000000", "> 605#6000000000000000",
         "< 585#0052512037333020", "> 605#7000000000000000", "< 585#107765696768696E",
         "> 605#6000000000000000", "< 585#0D67000000000000", "! upload 5 3300"});
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, "RQ 730 weighing");
}

TEST(SdoText, ExpeditedTextAndTextCutAtNul) {
  Harness h;
  const char* text = nullptr;
  ASSERT_EQ(h.engine.sdo(h.now, 5, 0x1008, 0, KCO_SDO_UPLOAD, KCO_TYPE_TEXT, &text),
            KCO_SDO_ACCEPTED);
  h.run({"> 605#4008100000000000", "< 585#4708100061626300", "! upload 5 3300"});
  EXPECT_STREQ(text, "abc");
  ASSERT_EQ(h.engine.sdo(h.now, 5, 0x1008, 0, KCO_SDO_UPLOAD, KCO_TYPE_TEXT, &text),
            KCO_SDO_ACCEPTED);
  h.run({"> 605#4008100000000000", "< 585#4308100061006300", "! upload 5 3300"});
  EXPECT_STREQ(text, "a");
}

TEST(SdoText, HugeAnnouncedSizeIsAborted) {
  Harness h;
  const char* text = nullptr;
  ASSERT_EQ(h.engine.sdo(h.now, 5, 0x1008, 0, KCO_SDO_UPLOAD, KCO_TYPE_TEXT, &text),
            KCO_SDO_ACCEPTED);
  h.run({"> 605#4008100000000000", "< 585#41081000FFFFFFFF", "> 605#8008100005000405",
         "! upload 5 3306"});
  EXPECT_EQ(text, nullptr);
}

TEST(SdoText, EndlessSegmentsWithoutSizeStopAtTheCap) {
  Harness h;
  const char* text = nullptr;
  ASSERT_EQ(h.engine.sdo(h.now, 5, 0x1008, 0, KCO_SDO_UPLOAD, KCO_TYPE_TEXT, &text),
            KCO_SDO_ACCEPTED);
  h.receive("585#4008100000000000");  // segmented, no size indicated
  uint8_t toggle = 0;
  for (int i = 0; i < 1000 && h.events.empty(); ++i) {
    char frame[32];
    std::snprintf(frame, sizeof frame, "585#%02X41414141414141", toggle << 4);
    h.receive(frame);
    toggle ^= 1;
  }
  ASSERT_EQ(h.events.size(), 1u);
  EXPECT_EQ(h.events.front(), "upload 5 3306");
  EXPECT_EQ(h.sent.back(), "605#8008100005000405");
  EXPECT_EQ(text, nullptr);
}

TEST(SdoText, ANodeCannotKeepAnUploadAliveForEver) {
  // Empty segments that announce more, each within the step time-out: every step must bring
  // data, so the transfer ends after a bounded number of responses, whatever the node sends.
  Harness h;
  const char* text = nullptr;
  ASSERT_EQ(h.engine.sdo(h.now, 5, 0x1008, 0, KCO_SDO_UPLOAD, KCO_TYPE_TEXT, &text),
            KCO_SDO_ACCEPTED);
  h.receive("585#4008100000000000");  // segmented, no size indicated
  uint8_t toggle = 0;
  int responses = 0;
  for (; responses < 10000 && h.events.empty(); ++responses) {
    h.advance(900);
    char frame[32];
    std::snprintf(frame, sizeof frame, "585#%02X00000000000000", toggle << 4 | 0x0E);
    h.receive(frame);
    toggle ^= 1;
  }
  ASSERT_EQ(h.events.size(), 1u);
  EXPECT_EQ(h.events.front(), "upload 5 3304");
  EXPECT_LE(responses, static_cast<int>(kSdoMaxUpload) + 2);
  EXPECT_EQ(text, nullptr);
}

TEST(SdoText, SegmentsBeyondTheAnnouncedSizeAreAborted) {
  Harness h;
  const char* text = nullptr;
  ASSERT_EQ(h.engine.sdo(h.now, 5, 0x1008, 0, KCO_SDO_UPLOAD, KCO_TYPE_TEXT, &text),
            KCO_SDO_ACCEPTED);
  h.run({"> 605#4008100000000000", "< 585#4108100003000000", "> 605#6000000000000000",
         "< 585#0041414141414141", "> 605#8008100010000706", "! upload 5 3303"});
  EXPECT_EQ(text, nullptr);
}

TEST(SdoDownload, ExpeditedTakesTheVariableInItsWidth) {
  struct Case {
    uint16_t datatype;
    const char* request;
  };
  const uint32_t value = 0x12345678;
  for (const Case& c :
       {Case{KCO_TYPE_U8, "605#2F00300078000000"}, Case{KCO_TYPE_U16, "605#2B00300078560000"},
        Case{KCO_TYPE_U32, "605#2300300078563412"}}) {
    SCOPED_TRACE(c.request);
    Harness h;
    // The variable has exactly the type's width on the heap, so that reading more would show.
    std::vector<uint8_t> variable(c.datatype == KCO_TYPE_U8    ? 1
                                  : c.datatype == KCO_TYPE_U16 ? 2
                                                               : 4);
    std::memcpy(variable.data(), &value, variable.size());
    ASSERT_EQ(h.engine.sdo(h.now, 5, 0x3000, 0, KCO_SDO_DOWNLOAD, c.datatype, variable.data()),
              KCO_SDO_ACCEPTED);
    h.run({std::string("> ") + c.request, "< 585#6000300000000000", "! download 5 3300"});
  }
}

TEST(SdoDownload, SegmentedWithToggles) {
  Harness h;
  ASSERT_EQ(h.engine.sdoClient().download(h.now, 5, 0x2001, 1, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}),
            KCO_SDO_ACCEPTED);
  h.run({"> 605#210120010A000000", "< 585#6001200100000000", "> 605#0001020304050607",
         "< 585#2000000000000000", "> 605#1908090A00000000", "< 585#3000000000000000",
         "! download 5 3300"});
}

TEST(SdoDownload, ProtocolFaults) {
  struct Case {
    const char* name;
    std::vector<std::string> script;
  };
  const Case cases[] = {
      {"server abort", {"> 605#2B00300034120000", "< 585#8000300002000106", "! download 5 3407"}},
      {"unknown abort code",
       {"> 605#2B00300034120000", "< 585#8000300078563412", "! download 5 3400"}},
      {"upload response",
       {"> 605#2B00300034120000", "< 585#4300300000000000", "> 605#8000300001000405",
        "! download 5 3304"}},
      {"wrong sub-index",
       {"> 605#2B00300034120000", "< 585#6000300100000000", "> 605#8000300000000008",
        "! download 5 3307"}},
      {"time-out",
       {"> 605#2B00300034120000", "+1000", "> 605#8000300000000405", "! download 5 3301"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Harness h;
    uint16_t value = 0x1234;
    ASSERT_EQ(h.engine.sdo(h.now, 5, 0x3000, 0, KCO_SDO_DOWNLOAD, KCO_TYPE_U16, &value),
              KCO_SDO_ACCEPTED);
    h.run(c.script);
  }
}

TEST(SdoDownload, SegmentToggleErrorAborts) {
  Harness h;
  ASSERT_EQ(h.engine.sdoClient().download(h.now, 5, 0x2001, 1, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}),
            KCO_SDO_ACCEPTED);
  h.run({"> 605#210120010A000000", "< 585#6001200100000000", "> 605#0001020304050607",
         "< 585#3000000000000000", "> 605#8001200100000305", "! download 5 3305"});
}

TEST(SdoAbortText, NamesTheAbortByNumberAndMeaning) {
  EXPECT_STREQ(textFor(completionForAbort(0x06020000)),
               "SDO abort 0x06020000: object does not exist in the object dictionary");
  EXPECT_STREQ(textFor(completionForAbort(0x05040000)),
               "SDO abort 0x05040000: SDO protocol timed out");
  Harness h;
  uint32_t value = 0;
  ASSERT_EQ(h.engine.sdo(h.now, 7, 0x1000, 0, KCO_SDO_UPLOAD, KCO_TYPE_U32, &value),
            KCO_SDO_ACCEPTED);
  h.receive("587#8000100078563412");
  EXPECT_EQ(h.engine.sdoClient().lastAbort(7), 0x12345678u);
  EXPECT_STREQ(textFor(kSdoAbortUnknown), "SDO abort 0x12345678: unknown SDO abort code");
}

TEST(SdoRequests, RefusedRequestsSendNothingAndNeverComplete) {
  Harness h;
  uint32_t value = 0;
  const char* text = nullptr;
  struct Case {
    uint8_t node;
    uint16_t function;
    uint16_t datatype;
    void* data;
    Code expected;
  };
  for (const Case& c : {Case{0, KCO_SDO_UPLOAD, KCO_TYPE_U32, &value, kBadNode},
                        Case{128, KCO_SDO_UPLOAD, KCO_TYPE_U32, &value, kBadNode},
                        Case{255, KCO_SDO_DOWNLOAD, KCO_TYPE_U32, &value, kBadNode},
                        Case{5, 0x3102, KCO_TYPE_U32, &value, kSdoBadFunction},
                        Case{5, KCO_SDO_UPLOAD, 0x3006, &value, kSdoBadType},
                        Case{5, KCO_SDO_UPLOAD, KCO_TYPE_U32, nullptr, kSdoNullData},
                        Case{5, KCO_SDO_DOWNLOAD, KCO_TYPE_TEXT, &text, kSdoTextDownload}}) {
    EXPECT_EQ(h.engine.sdo(h.now, c.node, 0x1000, 0, c.function, c.datatype, c.data), c.expected);
  }
  h.run({"+5000"});
}

TEST(SdoRequests, OneTransferPerNode) {
  Harness h;
  uint32_t first = 0, second = 0, other = 0;
  ASSERT_EQ(h.engine.sdo(h.now, 5, 0x1018, 4, KCO_SDO_UPLOAD, KCO_TYPE_U32, &first),
            KCO_SDO_ACCEPTED);
  EXPECT_EQ(h.engine.sdo(h.now, 5, 0x1018, 1, KCO_SDO_UPLOAD, KCO_TYPE_U32, &second), kSdoBusy);
  EXPECT_EQ(h.engine.sdo(h.now, 5, 0x1018, 1, KCO_SDO_DOWNLOAD, KCO_TYPE_U32, &second), kSdoBusy);
  ASSERT_EQ(h.engine.sdo(h.now, 6, 0x1018, 4, KCO_SDO_UPLOAD, KCO_TYPE_U32, &other),
            KCO_SDO_ACCEPTED);
  h.run({"> 605#4018100400000000", "> 606#4018100400000000", "< 586#4318100402000000",
         "! upload 6 3300", "< 585#4318100401000000", "! upload 5 3300"});
  EXPECT_EQ(first, 1u);
  EXPECT_EQ(other, 2u);
  EXPECT_EQ(second, 0u);
  // The node is free again after its completion.
  EXPECT_EQ(h.engine.sdo(h.now, 5, 0x1018, 1, KCO_SDO_UPLOAD, KCO_TYPE_U32, &second),
            KCO_SDO_ACCEPTED);
}

TEST(SdoRequests, ANodeStaysBusyUntilItsCompletionIsHandedOut) {
  Harness h;
  uint32_t first = 0, second = 0, again = 0;
  ASSERT_EQ(h.engine.sdo(h.now, 5, 0x1018, 4, KCO_SDO_UPLOAD, KCO_TYPE_U32, &first),
            KCO_SDO_ACCEPTED);
  ASSERT_EQ(h.engine.sdo(h.now, 6, 0x1018, 4, KCO_SDO_UPLOAD, KCO_TYPE_U32, &second),
            KCO_SDO_ACCEPTED);
  // Both time out in one loop; node 5's callback asks node 6 for more while node 6's own
  // completion is still to come.
  Code fromCallback = 0;
  h.onEvent = [&](const Event& event) {
    if (event.node == 5) {
      fromCallback = h.engine.sdo(h.now, 6, 0x1018, 1, KCO_SDO_UPLOAD, KCO_TYPE_U32, &again);
    }
  };
  h.run({"> 605#4018100400000000", "> 606#4018100400000000", "+1000", "> 605#8018100400000405",
         "> 606#8018100400000405", "! upload 5 3301", "! upload 6 3301"});
  EXPECT_EQ(fromCallback, kSdoBusy);
  // The same after a lost channel, before the loop has handed out the completion.
  h.onEvent = nullptr;
  ASSERT_EQ(h.engine.sdo(h.now, 5, 0x1018, 4, KCO_SDO_UPLOAD, KCO_TYPE_U32, &first),
            KCO_SDO_ACCEPTED);
  h.engine.channelLost();
  EXPECT_EQ(h.engine.sdo(h.now, 5, 0x1018, 4, KCO_SDO_UPLOAD, KCO_TYPE_U32, &first), kSdoBusy);
  h.run({"> 605#4018100400000000", "+0", "! upload 5 3302"});
  EXPECT_FALSE(h.engine.sdoClient().busy(5));
}

TEST(SdoRequests, ResponsesForNoRequestAreIgnored) {
  Harness h;
  h.run({"< 585#4318100415CD5B07", "< 585#0041414141414141", "< 585#8000000000000000", "< 5FF#60",
         "+2000"});
}

TEST(SdoRequests, ChannelLossAndSendFailures) {
  Harness h;
  uint32_t value = 0;
  ASSERT_EQ(h.engine.sdo(h.now, 5, 0x1018, 4, KCO_SDO_UPLOAD, KCO_TYPE_U32, &value),
            KCO_SDO_ACCEPTED);
  h.engine.channelLost();
  h.sendResult = kChannelUnavailable;
  // A request that cannot be sent is refused with the channel's code, and completes never.
  EXPECT_EQ(h.engine.sdo(h.now, 6, 0x1018, 4, KCO_SDO_UPLOAD, KCO_TYPE_U32, &value),
            kChannelUnavailable);
  EXPECT_FALSE(h.engine.sdoClient().busy(6));
  h.run({"> 605#4018100400000000", "+1", "! upload 5 3302", "+5000"});
}

TEST(SdoRequests, BusOffEndsTransfersWithTheBusOffCode) {
  Harness h;
  uint32_t value = 0;
  ASSERT_EQ(h.engine.sdo(h.now, 5, 0x1018, 4, KCO_SDO_UPLOAD, KCO_TYPE_U32, &value),
            KCO_SDO_ACCEPTED);
  h.engine.channelLost(kBusOff);  // the controller went bus-off: the request may be lost
  h.run({"> 605#4018100400000000", "+1", "! upload 5 1013", "+5000"});

  // A segmented upload whose next request meets the bus-off ends with it, not with a time-out.
  const char* text = nullptr;
  ASSERT_EQ(h.engine.sdo(h.now, 6, 0x1008, 0, KCO_SDO_UPLOAD, KCO_TYPE_TEXT, &text),
            KCO_SDO_ACCEPTED);
  h.run({"> 606#4008100000000000"});
  h.sendResult = kBusOff;
  h.run({"< 586#410810000F000000", "! upload 6 1013", "+5000"});
  // A new request is refused with it.
  EXPECT_EQ(h.engine.sdo(h.now, 7, 0x1018, 4, KCO_SDO_UPLOAD, KCO_TYPE_U32, &value), kBusOff);
}

TEST(SdoRequests, CompletionComesAfterTheVariableIsWritten) {
  Harness h;
  uint32_t value = 0;
  uint32_t seen = 0;
  h.onEvent = [&](const Event&) { seen = value; };
  ASSERT_EQ(h.engine.sdo(h.now, 5, 0x1018, 4, KCO_SDO_UPLOAD, KCO_TYPE_U32, &value),
            KCO_SDO_ACCEPTED);
  h.run({"> 605#4018100400000000", "< 585#4318100415CD5B07", "! upload 5 3300"});
  EXPECT_EQ(seen, 0x075BCD15u);
}

}  // namespace
}  // namespace canopen32
