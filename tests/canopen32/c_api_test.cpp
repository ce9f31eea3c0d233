// The C functions over the in-process loopback bus, with the test as the node on the other end.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "canbus/frame.h"
#include "canbus/loopback_bus.h"
#include "codes.h"
#include "drivers/canopen.h"
#include "support/candump_frames.h"

namespace {

std::vector<std::string> calls;
uint32_t variableAtCallback = 0;
uint32_t* watched = nullptr;
std::string textAtCallback;

void onUpload(uint8_t node, uint16_t code) {
  calls.push_back("upload " + std::to_string(node) + " " + std::to_string(code));
  if (watched) variableAtCallback = *watched;
  textAtCallback = kcoGetText(code);
}
void onDownload(uint8_t node, uint16_t code) {
  calls.push_back("download " + std::to_string(node) + " " + std::to_string(code));
}
void onPdoRx(uint8_t node, uint8_t num) {
  calls.push_back("pdorx " + std::to_string(node) + " " + std::to_string(num));
  if (watched) variableAtCallback = *watched;
}
void onPdoTx(uint8_t node, uint8_t num) {
  calls.push_back("pdotx " + std::to_string(node) + " " + std::to_string(num));
}
void onGuard(uint8_t node, uint16_t state, uint16_t nmt) {
  calls.push_back("guard " + std::to_string(node) + " " + std::to_string(state) + " " +
                  std::to_string(nmt));
}
void onHeartbeat(uint8_t node, uint16_t state, uint16_t nmt) {
  calls.push_back("heartbeat " + std::to_string(node) + " " + std::to_string(state) + " " +
                  std::to_string(nmt));
}
void onEmcy(uint8_t node, uint8_t err) {
  calls.push_back("emcy " + std::to_string(node) + " " + std::to_string(err));
}
void onBoot(uint8_t node) { calls.push_back("boot " + std::to_string(node)); }

uint16_t init(uint8_t hardware, uint32_t bitrate = 500000) {
  return kcoInit(hardware, bitrate, 0, onUpload, onDownload, onPdoRx, onPdoTx, onGuard, onHeartbeat,
                 onEmcy, onBoot);
}

using test_kit::frame;

std::string next(canbus::Channel& peer) {
  auto received = peer.receive();
  return received ? canbus::toCandump(*received) : "(nothing)";
}

class CApi : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("CANOPEN32_CHANNELS", "9=loopback://api,3=loopback://other", 1);
    calls.clear();
    watched = nullptr;
    peer = canbus::openLoopback("api");
    ASSERT_EQ(init(9), KCO_INIT_OK);
  }
  std::unique_ptr<canbus::LoopbackChannel> peer;
};

TEST_F(CApi, UploadCompletesInALaterLoopAfterTheVariableIsWritten) {
  uint32_t serial = 0;
  watched = &serial;
  ASSERT_EQ(kcoSDO(1, 0x1018, 4, KCO_SDO_UPLOAD, KCO_TYPE_U32, &serial), KCO_SDO_ACCEPTED);
  EXPECT_EQ(next(*peer), "601#4018100400000000");
  peer->send(frame("581#4318100415CD5B07"));
  EXPECT_TRUE(calls.empty());
  kcoLoop();
  ASSERT_EQ(calls, std::vector<std::string>{"upload 1 13056"});
  EXPECT_EQ(serial, 123456789u);
  EXPECT_EQ(variableAtCallback, 123456789u);
  kcoLoop();
  EXPECT_EQ(calls.size(), 1u);
}

TEST_F(CApi, AnUnknownAbortCodeIsNamedByTheTextFromTheCallbackOn) {
  uint32_t value = 0;
  ASSERT_EQ(kcoSDO(1, 0x1000, 0, KCO_SDO_UPLOAD, KCO_TYPE_U32, &value), KCO_SDO_ACCEPTED);
  peer->send(frame("581#8000100078563412"));
  kcoLoop();
  ASSERT_EQ(calls,
            std::vector<std::string>{"upload 1 " + std::to_string(canopen32::kSdoAbortUnknown)});
  EXPECT_EQ(textAtCallback, "SDO abort 0x12345678: unknown SDO abort code");
  EXPECT_STREQ(kcoGetText(canopen32::kSdoAbortUnknown),
               "SDO abort 0x12345678: unknown SDO abort code");
}

TEST_F(CApi, CallbacksOnlyFromTheLoop) {
  ASSERT_EQ(kcoHEARTBEAT(1, KCO_HEARTBEAT_ON, 500), KCO_HEARTBEAT_OK);
  ASSERT_EQ(kcoNODEGUARD(2, KCO_NODEGUARD_ON, 100, 3), KCO_NODEGUARD_OK);
  peer->send(frame("701#00"));
  peer->send(frame("081#0010050000000000"));
  EXPECT_TRUE(calls.empty());
  kcoLoop();
  EXPECT_EQ(calls, (std::vector<std::string>{"heartbeat 1 25088 25344", "guard 2 20993 21248",
                                             "boot 1", "heartbeat 1 25089 25344", "emcy 1 5"}));
  EXPECT_EQ(next(*peer), "702#R");
}

TEST_F(CApi, ReceivedPdoLandsBeforeItsCallback) {
  uint32_t value = 0;
  watched = &value;
  const kcoPdoEntry table[] = {{4, &value}, {0, nullptr}};
  ASSERT_EQ(kcoPDO(1, 1, KCO_PDO_INSTALL, KCO_PDO_RECEIVE, table, 0), KCO_PDO_OK);
  peer->send(frame("181#78563412"));
  kcoLoop();
  EXPECT_EQ(calls, std::vector<std::string>{"pdorx 1 1"});
  EXPECT_EQ(value, 0x12345678u);
  EXPECT_EQ(variableAtCallback, 0x12345678u);
}

TEST_F(CApi, ReinitClosesTheOldChannelAndDropsEverything) {
  uint32_t value = 0;
  const kcoPdoEntry table[] = {{4, &value}, {0, nullptr}};
  ASSERT_EQ(kcoPDO(1, 1, KCO_PDO_INSTALL, KCO_PDO_RECEIVE, table, 0), KCO_PDO_OK);
  ASSERT_EQ(kcoSDO(1, 0x1018, 4, KCO_SDO_UPLOAD, KCO_TYPE_U32, &value), KCO_SDO_ACCEPTED);
  auto other = canbus::openLoopback("other");
  ASSERT_EQ(init(3), KCO_INIT_OK);
  // The old bus no longer reaches the library, and the library no longer sends there.
  peer->send(frame("181#78563412"));
  peer->send(frame("581#4318100415CD5B07"));
  kcoLoop();
  EXPECT_EQ(value, 0u);
  EXPECT_TRUE(calls.empty());
  ASSERT_EQ(kcoNMT(0, KCO_NMT_START), KCO_NMT_OK);
  EXPECT_EQ(next(*other), "000#0100");
  next(*peer);  // the upload request sent before the re-init
  EXPECT_EQ(next(*peer), "(nothing)");
  // The PDO is gone on the new bus too; a new transfer with the same node is accepted.
  other->send(frame("181#78563412"));
  kcoLoop();
  EXPECT_EQ(value, 0u);
  EXPECT_EQ(kcoSDO(1, 0x1018, 4, KCO_SDO_UPLOAD, KCO_TYPE_U32, &value), KCO_SDO_ACCEPTED);
}

TEST_F(CApi, UploadedTextOutlivesAReinit) {
  const char* name = nullptr;
  ASSERT_EQ(kcoSDO(1, 0x1008, 0, KCO_SDO_UPLOAD, KCO_TYPE_TEXT, &name), KCO_SDO_ACCEPTED);
  peer->send(frame("581#4708100061626300"));
  kcoLoop();
  ASSERT_EQ(calls, std::vector<std::string>{"upload 1 13056"});
  ASSERT_EQ(init(9), KCO_INIT_OK);
  EXPECT_STREQ(name, "abc");  // the sanitizer build would catch a freed copy
}

TEST_F(CApi, MasterResetSequenceIsAccepted) {
  // What the master does at every reset: 1016 removals, 127 + 127 switch-offs, one broadcast.
  for (int direction : {KCO_PDO_TRANSMIT, KCO_PDO_RECEIVE}) {
    for (int node = 1; node <= 127; ++node) {
      for (int num = 1; num <= 4; ++num) {
        ASSERT_EQ(kcoPDO(static_cast<uint8_t>(node), static_cast<uint8_t>(num), KCO_PDO_REMOVE,
                         static_cast<uint16_t>(direction), nullptr, 0),
                  KCO_PDO_OK);
      }
    }
  }
  for (int node = 1; node <= 127; ++node) {
    ASSERT_EQ(kcoHEARTBEAT(static_cast<uint8_t>(node), KCO_HEARTBEAT_OFF, 0), KCO_HEARTBEAT_OK);
    ASSERT_EQ(kcoNODEGUARD(static_cast<uint8_t>(node), KCO_NODEGUARD_OFF, 0, 0), KCO_NODEGUARD_OK);
  }
  EXPECT_EQ(kcoNMT(0, KCO_NMT_RESET_NODE), KCO_NMT_OK);
  EXPECT_EQ(next(*peer), "000#8100");
  kcoLoop();
  EXPECT_TRUE(calls.empty());
}

TEST_F(CApi, SdoTimeoutFromTheEnvironment) {
  ::setenv("CANOPEN32_SDO_TIMEOUT_MS", "20", 1);
  ASSERT_EQ(init(9), KCO_INIT_OK);
  uint8_t value = 0;
  ASSERT_EQ(kcoSDO(1, 0x3104, 0, KCO_SDO_UPLOAD, KCO_TYPE_U8, &value), KCO_SDO_ACCEPTED);
  // Real time passes here; the bound is generous and the loop ends as soon as it completes.
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (calls.empty() && std::chrono::steady_clock::now() < give_up) kcoLoop();
  ASSERT_EQ(calls, std::vector<std::string>{"upload 1 " + std::to_string(canopen32::kSdoTimeout)});
  EXPECT_EQ(next(*peer), "601#4004310000000000");
  EXPECT_EQ(next(*peer), "601#8004310000000405");
}

TEST_F(CApi, TraceInCandumpLogFormat) {
  const std::string path = ::testing::TempDir() + "canopen32_trace_test.log";
  std::remove(path.c_str());
  ::setenv("CANOPEN32_TRACE", path.c_str(), 1);
  ASSERT_EQ(init(9), KCO_INIT_OK);
  ASSERT_EQ(kcoNMT(5, KCO_NMT_START), KCO_NMT_OK);
  peer->send(frame("185#D204"));
  kcoLoop();
  std::ifstream file(path);
  std::string sentLine, receivedLine;
  ASSERT_TRUE(std::getline(file, sentLine));
  ASSERT_TRUE(std::getline(file, receivedLine));
  EXPECT_TRUE(std::regex_match(sentLine, std::regex(R"(\(\d{10}\.\d{6}\) api 000#0105)")))
      << sentLine;
  EXPECT_TRUE(std::regex_match(receivedLine, std::regex(R"(\(\d{10}\.\d{6}\) api 185#D204)")))
      << receivedLine;
  std::remove(path.c_str());
}

struct InitFailureCase {
  const char* channels;
  uint8_t hardware;
  uint32_t bitrate;
  std::vector<uint16_t> codes;  // any of these
  const char* textPart;
};

TEST(CApiInit, FailuresSayWhatFailed) {
  const InitFailureCase cases[] = {
      {"", 7, 500000, {canopen32::kInitNotConfigured}, "hardware code 7"},
      {"", 0, 500000, {canopen32::kInitBadHardwareCode}, "unknown hardware code 0"},
      {"", 10, 500000, {canopen32::kInitBadHardwareCode}, "unknown hardware code 10"},
      {"9=foo://x", 9, 500000, {canopen32::kInitBadUrl}, "foo://x"},
      {"9=", 9, 500000, {canopen32::kInitBadChannelsVariable}, "CANOPEN32_CHANNELS"},
      {"9=loopback://x", 9, 0, {canopen32::kInitBadBitrate}, "bit rate 0"},
      // This machine's kernel may have no CAN support, or no such interface.
      {"9=socketcan://can7",
       9,
       500000,
       {canopen32::kInitNoKernelCan, canopen32::kInitNoInterface},
       "can7"},
      {"9=socketcand://127.0.0.1:1/x", 9, 500000, {canopen32::kInitNoInterface}, "hub"},
  };
  for (const InitFailureCase& c : cases) {
    SCOPED_TRACE(c.channels);
    ::setenv("CANOPEN32_CHANNELS", c.channels, 1);
    const uint16_t code = init(c.hardware, c.bitrate);
    EXPECT_NE(std::find(c.codes.begin(), c.codes.end(), code), c.codes.end()) << std::hex << code;
    const std::string text = kcoGetText(code);
    EXPECT_NE(text.find(c.textPart), std::string::npos) << text;
    // After a failed init nothing runs.
    EXPECT_EQ(kcoNMT(0, KCO_NMT_START), canopen32::kNotInitialised);
  }
}

TEST(CApiInit, BeforeInitEverythingIsRefusedWithACode) {
  uint32_t value = 0;
  EXPECT_EQ(kcoLoop(), canopen32::kNotInitialised);
  EXPECT_EQ(kcoSDO(1, 0x1000, 0, KCO_SDO_UPLOAD, KCO_TYPE_U32, &value), canopen32::kNotInitialised);
  EXPECT_EQ(kcoPDO(1, 1, KCO_PDO_REMOVE, KCO_PDO_RECEIVE, nullptr, 0), canopen32::kNotInitialised);
  EXPECT_EQ(kcoSYNC(KCO_SYNC_ON, 10), canopen32::kNotInitialised);
  EXPECT_STRNE(kcoGetText(canopen32::kNotInitialised), "");
}

}  // namespace
