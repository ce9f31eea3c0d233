/*
 * canopen.h - C interface of the CANopen driver library libcanopen32.so.
 *
 * The master component (canopen/) reaches the CAN network only through these functions. Every
 * function returns a 16-bit result code; each has its own success code below. The library calls
 * the eight callbacks registered with kcoInit only from inside kcoLoop, on the thread that called
 * kcoLoop. kcoGetText gives a NUL-terminated text for every code the library returns or reports;
 * the text belongs to the library.
 */
#ifndef DRIVERS_CANOPEN_H
#define DRIVERS_CANOPEN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* kcoInit: hardware codes of the CAN interfaces */
enum {
  KCO_HW_VECTOR_VIRTUAL_1 = 1,
  KCO_HW_VECTOR_VIRTUAL_2 = 2,
  KCO_HW_VECTOR_CANCARDX1_1 = 3,
  KCO_HW_VECTOR_CANCARDX1_2 = 4,
  KCO_HW_VECTOR_CANCARDX2_1 = 5,
  KCO_HW_VECTOR_CANCARDX2_2 = 6,
  KCO_HW_VECTOR_CANPARI1_1 = 7,
  KCO_HW_PEAK_CAN_USB = 8,
  KCO_HW_TOVALD_CAN_USB = 9
};

/* Success codes and function codes */
enum {
  KCO_INIT_OK = 0x1000,

  KCO_NMT_START = 0x2000,
  KCO_NMT_STOP = 0x2001,
  KCO_NMT_PREOPERATIONAL = 0x2002,
  KCO_NMT_RESET_NODE = 0x2003,
  KCO_NMT_RESET_COMMUNICATION = 0x2004,
  KCO_NMT_OK = 0x2100,

  KCO_SDO_UPLOAD = 0x3100,
  KCO_SDO_DOWNLOAD = 0x3101,
  KCO_SDO_ACCEPTED = 0x3200,
  KCO_SDO_DONE = 0x3300,

  KCO_PDO_REMOVE = 0x4000,
  KCO_PDO_INSTALL = 0x4001,
  KCO_PDO_RECEIVE = 0x4100,
  KCO_PDO_TRANSMIT = 0x4101,
  KCO_PDO_OK = 0x4200,

  KCO_NODEGUARD_OFF = 0x5000,
  KCO_NODEGUARD_ON = 0x5001,
  KCO_NODEGUARD_OK = 0x5100,

  KCO_HEARTBEAT_OFF = 0x6000,
  KCO_HEARTBEAT_ON = 0x6001,
  KCO_HEARTBEAT_OK = 0x6100,

  KCO_SYNC_OFF = 0x7000,
  KCO_SYNC_ON = 0x7001,
  KCO_SYNC_OK = 0x7100,

  KCO_TIMESTAMP_OFF = 0x8000,
  KCO_TIMESTAMP_ON = 0x8001,
  KCO_TIMESTAMP_OK = 0x8100
};

/* SDO data type codes: what the data pointer of kcoSDO points at */
enum {
  KCO_TYPE_U8 = 0x3003,   /* a 1-byte variable */
  KCO_TYPE_U16 = 0x3004,  /* a 2-byte variable */
  KCO_TYPE_U32 = 0x3005,  /* a 4-byte variable */
  KCO_TYPE_TEXT = 0x3007  /* upload only: a const char* variable that receives the address of a
                             NUL-terminated text owned by the library */
};

/* Node guarding states and NMT states reported by the node-guarding callback */
enum {
  KCO_NODEGUARD_NOT_ACTIVATED = 0x5200,
  KCO_NODEGUARD_ACTIVATED = 0x5201,
  KCO_NODEGUARD_RESPONSE_MISSED = 0x5202,
  KCO_NODEGUARD_LIFE_TIME_ELAPSED = 0x5203,
  KCO_NODEGUARD_TOGGLE_ERROR = 0x5204,
  KCO_NODEGUARD_STATE_CHANGED = 0x5205,

  KCO_NODEGUARD_NMT_UNKNOWN = 0x5300,
  KCO_NODEGUARD_NMT_OPERATIONAL = 0x5301,
  KCO_NODEGUARD_NMT_STOPPED = 0x5302,
  KCO_NODEGUARD_NMT_PREOPERATIONAL = 0x5303,
  KCO_NODEGUARD_NMT_RESET_NODE = 0x5304,
  KCO_NODEGUARD_NMT_RESET_COMMUNICATION = 0x5305
};

/* Heartbeat states and NMT states reported by the heartbeat callback */
enum {
  KCO_HEARTBEAT_WAITING = 0x6200,
  KCO_HEARTBEAT_RUNNING = 0x6201,
  KCO_HEARTBEAT_STOPPED = 0x6202,

  KCO_HEARTBEAT_NMT_UNKNOWN = 0x6300,
  KCO_HEARTBEAT_NMT_OPERATIONAL = 0x6301,
  KCO_HEARTBEAT_NMT_STOPPED = 0x6302,
  KCO_HEARTBEAT_NMT_PREOPERATIONAL = 0x6303,
  KCO_HEARTBEAT_NMT_RESET_NODE = 0x6304,
  KCO_HEARTBEAT_NMT_RESET_COMMUNICATION = 0x6305
};

/* One entry of a PDO entry table: the mapped object's length in bytes and the caller's variable
 * that receives (receive PDO) or supplies (transmit PDO) its bytes. Packed: 1 + sizeof(void*)
 * bytes per entry. A table holds up to 8 entries in mapping order and ends with an entry of
 * length 0 when fewer than 8 are used. */
#pragma pack(push, 1)
typedef struct kcoPdoEntry {
  uint8_t length;
  void* data;
} kcoPdoEntry;
#pragma pack(pop)

enum { KCO_PDO_MAX_ENTRIES = 8 };

/* The eight callbacks, in the order kcoInit takes them. */
typedef void (*kcoSdoDoneCallback)(uint8_t node, uint16_t code);
typedef void (*kcoPdoCallback)(uint8_t node, uint8_t num);
typedef void (*kcoNodeguardCallback)(uint8_t node, uint16_t state, uint16_t nmt);
typedef void (*kcoHeartbeatCallback)(uint8_t node, uint16_t state, uint16_t nmt);
typedef void (*kcoEmcyCallback)(uint8_t node, uint8_t err);
typedef void (*kcoBootCallback)(uint8_t node);

uint16_t kcoInit(uint8_t hardware, uint32_t bitrate, uint8_t extended,
                 kcoSdoDoneCallback sdoUploadDone, kcoSdoDoneCallback sdoDownloadDone,
                 kcoPdoCallback pdoReceived, kcoPdoCallback pdoTransmitted,
                 kcoNodeguardCallback nodeguard, kcoHeartbeatCallback heartbeat,
                 kcoEmcyCallback emcy, kcoBootCallback boot);

uint16_t kcoLoop(void);

/* The text stays valid until the next kcoGetText of the same code; copy it to keep it. */
const char* kcoGetText(uint16_t code);

uint16_t kcoNMT(uint8_t node, uint16_t command);

uint16_t kcoSDO(uint8_t node, uint16_t index, uint8_t subindex, uint16_t function,
                uint16_t datatype, void* data);

/* value: for transmit installs InhibitTime in bits 0-15 and EventTime in bits 16-31. */
uint16_t kcoPDO(uint8_t node, uint8_t num, uint16_t function, uint16_t direction,
                const kcoPdoEntry* entries, uint32_t value);

uint16_t kcoNODEGUARD(uint8_t node, uint16_t function, uint16_t guardtime,
                      uint8_t lifetimefactor);

uint16_t kcoHEARTBEAT(uint8_t node, uint16_t function, uint16_t time);

uint16_t kcoSYNC(uint16_t function, uint16_t time);

uint16_t kcoTIMESTAMP(uint16_t function, uint16_t time);

#ifdef __cplusplus
}
#endif

#endif /* DRIVERS_CANOPEN_H */
