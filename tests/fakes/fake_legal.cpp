#include "fake_legal.h"

#include "drivers/LEGALRQ730.h"

namespace fake_legal {
namespace {

struct State {
  std::vector<Call> calls;
  bool initResult = true;
};

State& state() {
  static State s;
  return s;
}

void record(std::string function, std::vector<int64_t> args) {
  state().calls.push_back({std::move(function), std::move(args)});
}

}  // namespace

void reset() { state() = State{}; }
const std::vector<Call>& calls() { return state().calls; }
void setInitResult(bool ok) { state().initResult = ok; }

}  // namespace fake_legal

using fake_legal::record;

extern "C" {

uint8_t LegalRQ730_Init(uint32_t window, uint32_t reserved, int16_t x, int16_t y, uint32_t p5,
                        uint32_t p6, uint32_t p7, uint32_t p8, uint32_t p9, uint32_t p10,
                        uint32_t p11) {
  (void)window;  // differs per run
  record("Init", {reserved, x, y, p5, p6, p7, p8, p9, p10, p11});
  return fake_legal::state().initResult ? 1 : 0;
}

void LegalRQ730_WriteSerialNumber(uint8_t id, uint32_t v) { record("WriteSerialNumber", {id, v}); }
void LegalRQ730_WriteAdjustmentCounter(uint8_t id, uint16_t v) {
  record("WriteAdjustmentCounter", {id, v});
}
void LegalRQ730_WriteUnit(uint8_t id, uint8_t v) { record("WriteUnit", {id, v}); }
void LegalRQ730_WriteCapacity(uint8_t id, uint16_t v) { record("WriteCapacity", {id, v}); }
void LegalRQ730_WriteChecksum(uint8_t id, uint16_t v) { record("WriteChecksum", {id, v}); }
void LegalRQ730_WriteDivision(uint8_t id, uint8_t v) { record("WriteDivision", {id, v}); }
void LegalRQ730_WriteWeight(uint8_t id, uint16_t signature, int16_t weight) {
  record("WriteWeight", {id, signature, weight});
}
void LegalRQ730_WriteZeroIndication(uint8_t id, uint16_t signature, uint8_t zero) {
  record("WriteZeroIndication", {id, signature, zero});
}
void LegalRQ730_ShowInfo(void) { record("ShowInfo", {}); }

}  // extern "C"
