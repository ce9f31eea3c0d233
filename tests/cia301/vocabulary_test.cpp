// The vocabulary against frames written out byte by byte from CiA 301, not from the header.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "cia301/cob_id.h"
#include "cia301/emcy.h"
#include "cia301/little_endian.h"
#include "cia301/nmt.h"
#include "cia301/objects.h"
#include "cia301/sdo.h"
#include "cia301/sdo_abort_codes.h"

namespace {

using namespace cia301;
using Bytes4 = std::array<uint8_t, 4>;

TEST(Cia301Sdo, FramesAreTheBytesOfTheStandard) {
  const Bytes4 data{0xF4, 0x01, 0xAA, 0xBB};
  const struct {
    const char* name;
    SdoFrame frame;
    SdoFrame bytes;
  } cases[] = {
      {"upload request", sdoInitiateUploadRequest(0x1008, 0), {0x40, 0x08, 0x10, 0, 0, 0, 0, 0}},
      {"expedited download, 2 bytes",
       sdoExpeditedDownloadRequest(0x1017, 0, std::span(data).first(2)),
       {0x2B, 0x17, 0x10, 0x00, 0xF4, 0x01, 0, 0}},
      {"expedited download, 1 byte",
       sdoExpeditedDownloadRequest(0x6000, 3, std::span(data).first(1)),
       {0x2F, 0x00, 0x60, 0x03, 0xF4, 0, 0, 0}},
      {"segmented download of 10",
       sdoSegmentedDownloadRequest(0x2000, 1, 10),
       {0x21, 0x00, 0x20, 0x01, 10, 0, 0, 0}},
      {"expedited upload response, 4 bytes",
       sdoExpeditedUploadResponse(0x1018, 4, data),
       {0x43, 0x18, 0x10, 0x04, 0xF4, 0x01, 0xAA, 0xBB}},
      {"segmented upload response of 300",
       sdoSegmentedUploadResponse(0x1008, 0, 300),
       {0x41, 0x08, 0x10, 0x00, 0x2C, 0x01, 0, 0}},
      {"download response",
       sdoInitiateDownloadResponse(0x1017, 0),
       {0x60, 0x17, 0x10, 0, 0, 0, 0, 0}},
      {"last upload segment of 3, toggle 1",
       sdoUploadSegment(1, std::span(data).first(3), true),
       {0x19, 0xF4, 0x01, 0xAA, 0, 0, 0, 0}},
      {"download segment of 4, toggle 0",
       sdoDownloadSegment(0, data, false),
       {0x06, 0xF4, 0x01, 0xAA, 0xBB, 0, 0, 0}},
      {"upload segment request, toggle 1", sdoUploadSegmentRequest(1), {0x70, 0, 0, 0, 0, 0, 0, 0}},
      {"download segment response, toggle 1",
       sdoDownloadSegmentResponse(1),
       {0x30, 0, 0, 0, 0, 0, 0, 0}},
      {"abort", sdoAbort(0x1000, 0, 0x06020000), {0x80, 0x00, 0x10, 0x00, 0x00, 0x00, 0x02, 0x06}},
  };
  for (const auto& c : cases) EXPECT_EQ(c.frame, c.bytes) << c.name;
}

TEST(Cia301Sdo, FieldsAreReadFromTheBytes) {
  const SdoFrame expedited{0x4B, 0x17, 0x10, 0x02, 0xF4, 0x01, 0, 0};
  EXPECT_EQ(sdoCommand(expedited), static_cast<uint8_t>(SdoServerCommand::initiateUpload));
  EXPECT_EQ(sdoIndex(expedited), 0x1017);
  EXPECT_EQ(sdoSubIndex(expedited), 2);
  EXPECT_TRUE(sdoExpedited(expedited));
  EXPECT_TRUE(sdoSizeIndicated(expedited));
  EXPECT_EQ(sdoExpeditedSize(expedited), 2u);

  const SdoFrame segment{0x15, 1, 2, 3, 4, 5, 6, 7};  // toggle 1, 2 bytes unused, last
  EXPECT_EQ(sdoToggle(segment), 1);
  EXPECT_EQ(sdoSegmentSize(segment), 5u);
  EXPECT_TRUE(sdoLastSegment(segment));

  EXPECT_EQ(sdoAnnouncedSize({0x41, 0, 0, 0, 0x2C, 0x01, 0x00, 0x01}), 0x0100012Cu);
  EXPECT_EQ(sdoAbortCode({0x80, 0, 0x10, 0, 0x00, 0x00, 0x04, 0x05}), 0x05040000u);
}

TEST(Cia301CobId, NodesAndRangesOfThePredefinedConnectionSet) {
  EXPECT_EQ(nodeOf(0x701, kErrorControlBase), 1);
  EXPECT_EQ(nodeOf(0x77F, kErrorControlBase), 127);
  EXPECT_FALSE(nodeOf(0x700, kErrorControlBase));
  EXPECT_FALSE(nodeOf(0x780, kErrorControlBase));
  EXPECT_FALSE(nodeOf(0x080, kEmcyBase));  // SYNC, not an emergency
  EXPECT_EQ(nodeOf(0x5FF, kSdoResponseBase), 127);
  EXPECT_EQ(tpdoCobId(3, 1), 0x381u);
  EXPECT_EQ(rpdoCobId(1, 0x7F), 0x27Fu);
  EXPECT_TRUE(isRestrictedCobId(0x581));
  EXPECT_TRUE(isRestrictedCobId(0x100 + 1));
  EXPECT_FALSE(isRestrictedCobId(0x181));
  EXPECT_FALSE(isRestrictedCobId(0x6DF));
}

TEST(Cia301Nmt, CommandAndStateBytes) {
  EXPECT_EQ(nmtCommand(0x81), NmtCommand::resetNode);
  EXPECT_FALSE(nmtCommand(0x03));
  EXPECT_EQ(nmtState(0x85), NmtState::operational);  // guarding answer with the toggle bit set
  EXPECT_EQ(nmtState(0x7F), NmtState::preOperational);
  EXPECT_FALSE(nmtState(0x01));
}

TEST(Cia301, AbortTableAndLittleEndian) {
  EXPECT_EQ(sdoAbortPosition(0x05030000), 0u);
  EXPECT_EQ(sdoAbortPosition(0x08000024), kSdoAborts.size() - 1);
  EXPECT_FALSE(sdoAbortPosition(0x12345678));
  std::array<uint8_t, 4> bytes{};
  putLe(bytes, 0x11223344);
  EXPECT_EQ(bytes, (std::array<uint8_t, 4>{0x44, 0x33, 0x22, 0x11}));
  EXPECT_EQ(getLe(bytes), 0x11223344u);
  EXPECT_EQ(getLe16(bytes), 0x3344);
}

TEST(Cia301Emcy, FrameIsCodeLittleEndianThenRegister) {
  EXPECT_EQ(emcyFrame(kEmcyLifeGuard, kErrorRegisterGeneric | kErrorRegisterCommunication),
            (EmcyFrame{0x30, 0x81, 0x11, 0, 0, 0, 0, 0}));
  EXPECT_EQ(emcyFrame(kEmcyPdoLength, 0x01), (EmcyFrame{0x10, 0x82, 0x01, 0, 0, 0, 0, 0}));
  EXPECT_EQ(emcyFrame(kEmcyErrorReset, 0), (EmcyFrame{}));
}

TEST(Cia301Objects, PdoObjectsAndMappingEntriesAsTheyGoOverTheBus) {
  // Reading TPDO 2's first mapping entry and RPDO 1's event timer.
  EXPECT_EQ(sdoInitiateUploadRequest(kTpdoMappingBase + 1, 1),
            (SdoFrame{0x40, 0x01, 0x1A, 0x01, 0, 0, 0, 0}));
  EXPECT_EQ(sdoInitiateUploadRequest(kRpdoCommunicationBase, kPdoEventTimerSub),
            (SdoFrame{0x40, 0x00, 0x14, 0x05, 0, 0, 0, 0}));
  EXPECT_EQ(sdoInitiateUploadRequest(kTpdoCommunicationBase + 3, kPdoTransmissionTypeSub),
            (SdoFrame{0x40, 0x03, 0x18, 0x02, 0, 0, 0, 0}));
  EXPECT_EQ(sdoInitiateUploadRequest(kRpdoMappingBase, 0),
            (SdoFrame{0x40, 0x00, 0x16, 0x00, 0, 0, 0, 0}));
  EXPECT_EQ(sdoInitiateUploadRequest(kHeartbeatTimeObject, 0),
            (SdoFrame{0x40, 0x17, 0x10, 0x00, 0, 0, 0, 0}));
  // 0x2100 sub 0, 16 bits, as an expedited download of the entry.
  std::array<uint8_t, 4> entry{};
  putLe(entry, pdoMappingEntry(0x2100, 0, 16));
  EXPECT_EQ(entry, (std::array<uint8_t, 4>{0x10, 0x00, 0x00, 0x21}));
  const uint32_t fromBus = getLe(std::array<uint8_t, 4>{0x08, 0x01, 0x04, 0x30});
  EXPECT_EQ(mappedIndex(fromBus), 0x3004);
  EXPECT_EQ(mappedSubIndex(fromBus), 1);
  EXPECT_EQ(mappedBits(fromBus), 8u);
}

}  // namespace
