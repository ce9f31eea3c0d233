// Legal display library without a display yet: LegalRQ730_Init reports that it cannot open one,
// and the value writes have nowhere to go.
#include "drivers/LEGALRQ730.h"

extern "C" {

uint8_t LegalRQ730_Init(uint32_t, uint32_t, int16_t, int16_t, uint32_t, uint32_t, uint32_t,
                        uint32_t, uint32_t, uint32_t, uint32_t) {
  return 0;
}

void LegalRQ730_WriteSerialNumber(uint8_t, uint32_t) {}
void LegalRQ730_WriteAdjustmentCounter(uint8_t, uint16_t) {}
void LegalRQ730_WriteUnit(uint8_t, uint8_t) {}
void LegalRQ730_WriteCapacity(uint8_t, uint16_t) {}
void LegalRQ730_WriteChecksum(uint8_t, uint16_t) {}
void LegalRQ730_WriteDivision(uint8_t, uint8_t) {}
void LegalRQ730_WriteWeight(uint8_t, uint16_t, int16_t) {}
void LegalRQ730_WriteZeroIndication(uint8_t, uint16_t, uint8_t) {}
void LegalRQ730_ShowInfo(void) {}

}  // extern "C"
