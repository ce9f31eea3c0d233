/*
 * LEGALRQ730.h - C interface of the legal-for-trade display library liblegalRQ730.so.
 *
 * The program hands the library the module's legal-metrology parameters once (after
 * LegalRQ730_Init) and then every signed weight and signed zero indication the module sends.
 * All calls come from the program's main thread. Only the result of LegalRQ730_Init is used:
 * false means the display could not be opened.
 */
#ifndef DRIVERS_LEGALRQ730_H
#define DRIVERS_LEGALRQ730_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* window: the application's window handle; reserved: 0; x, y: screen position of the display
 * (16-bit, may be negative); the program passes 4, 1, 50, 0, 0, 0, 0 for the remaining seven. */
uint8_t LegalRQ730_Init(uint32_t window, uint32_t reserved, int16_t x, int16_t y, uint32_t p5,
                        uint32_t p6, uint32_t p7, uint32_t p8, uint32_t p9, uint32_t p10,
                        uint32_t p11);

void LegalRQ730_WriteSerialNumber(uint8_t id, uint32_t serialNumber);
void LegalRQ730_WriteAdjustmentCounter(uint8_t id, uint16_t adjustmentCounter);
void LegalRQ730_WriteUnit(uint8_t id, uint8_t unit);
void LegalRQ730_WriteCapacity(uint8_t id, uint16_t capacity);
void LegalRQ730_WriteChecksum(uint8_t id, uint16_t checksum);
void LegalRQ730_WriteDivision(uint8_t id, uint8_t division);

void LegalRQ730_WriteWeight(uint8_t id, uint16_t signature, int16_t weight);
void LegalRQ730_WriteZeroIndication(uint8_t id, uint16_t signature, uint8_t zeroIndication);

/* Opens the modal information view; works before LegalRQ730_Init too. */
void LegalRQ730_ShowInfo(void);

#ifdef __cplusplus
}
#endif

#endif /* DRIVERS_LEGALRQ730_H */
