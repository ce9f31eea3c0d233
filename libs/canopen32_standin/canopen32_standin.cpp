// Driver library without any CAN transport: every kcoInit fails, so nothing else is ever reached.
#include "drivers/canopen.h"

namespace {
constexpr uint16_t kNoTransport = 0x1001;
constexpr uint16_t kNotInitialised = 0x1002;
}  // namespace

extern "C" {

uint16_t kcoInit(uint8_t, uint32_t, uint8_t, kcoSdoDoneCallback, kcoSdoDoneCallback,
                 kcoPdoCallback, kcoPdoCallback, kcoNodeguardCallback, kcoHeartbeatCallback,
                 kcoEmcyCallback, kcoBootCallback) {
  return kNoTransport;
}

uint16_t kcoLoop(void) { return 0; }

const char* kcoGetText(uint16_t code) {
  switch (code) {
    case kNoTransport: return "This driver library has no CAN transport; no interface can be opened.";
    case kNotInitialised: return "The driver library is not initialised.";
    default: return "Unknown code.";
  }
}

uint16_t kcoNMT(uint8_t, uint16_t) { return kNotInitialised; }
uint16_t kcoSDO(uint8_t, uint16_t, uint8_t, uint16_t, uint16_t, void*) { return kNotInitialised; }
uint16_t kcoPDO(uint8_t, uint8_t, uint16_t, uint16_t, const kcoPdoEntry*, uint32_t) {
  return kNotInitialised;
}
uint16_t kcoNODEGUARD(uint8_t, uint16_t, uint16_t, uint8_t) { return kNotInitialised; }
uint16_t kcoHEARTBEAT(uint8_t, uint16_t, uint16_t) { return kNotInitialised; }
uint16_t kcoSYNC(uint16_t, uint16_t) { return kNotInitialised; }
uint16_t kcoTIMESTAMP(uint16_t, uint16_t) { return kNotInitialised; }

}  // extern "C"
