// Enumerations, parameter records, queued callback records and owner event types of the
// CANopen master component.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

class TCANopenMaster;

enum TCANopenHardware : uint8_t {
  haAutoSearch,
  haPeak_CAN_USB,
  haTovald_CAN_USB,
  haVector_virtual_channel1,
  haVector_virtual_channel2,
  haVector_CANcardX1_channel1,
  haVector_CANcardX1_channel2,
  haVector_CANcardX2_channel1,
  haVector_CANcardX2_channel2,
  haVector_CANPari1_channel1
};

enum TCANopenBitrate : uint8_t {
  br10kBit,
  br20kBit,
  br50kBit,
  br100kBit,
  br125kBit,
  br250kBit,
  br500kBit,
  br1000kBit
};

#pragma pack(push, 1)

// One SDO transfer: the object and the caller's variable that receives or holds the value.
struct TSdoMappingParam {
  uint16_t index;
  uint8_t subindex;
  uint16_t datatype;
  void* ptdata;
};

// One object mapped into a PDO: its length in bytes and the caller's variable.
struct TPdoMappingEntry {
  uint16_t index;
  uint8_t subindex;
  uint8_t length;
  void* ptdata;
};

// The objects mapped into one PDO; the list ends at the first entry whose ptdata is null.
using TPdoMappingParam = std::array<TPdoMappingEntry, 8>;

struct TPdoCommunicationParam {
  uint8_t TransmissionType;
  uint16_t InhibitTime;
  uint16_t EventTime;
};

#pragma pack(pop)

// Records that the driver callbacks queue for the pump.
struct TPDORxCalledBack {
  uint8_t id;
  uint8_t num;
};
struct TPDOTxCalledBack {
  uint8_t id;
  uint8_t num;
};
struct TNODEGUARDCalledBack {
  uint8_t id;
  uint16_t state;
  uint16_t nmt;
};
struct THEARTBEATCalledBack {
  uint8_t id;
  uint16_t state;
  uint16_t nmt;
};
struct TEMCYCalledBack {
  uint8_t id;
  uint8_t err;
};
struct TBOOTCalledBack {
  uint8_t id;
};

// Owner events: Sender is the master, every other value is passed by reference.
using TSDONotifyEvent = std::function<void(TCANopenMaster* Sender, uint8_t& id, uint16_t& err)>;
using TPDONotifyEvent = std::function<void(TCANopenMaster* Sender, uint8_t& id, uint8_t& num)>;
using TNODEGUARDNotifyEvent =
    std::function<void(TCANopenMaster* Sender, uint8_t& id, uint16_t& state, uint16_t& nmt)>;
using THEARTBEATNotifyEvent =
    std::function<void(TCANopenMaster* Sender, uint8_t& id, uint16_t& state, uint16_t& nmt)>;
using TEMCYNotifyEvent = std::function<void(TCANopenMaster* Sender, uint8_t& id, uint8_t& err)>;
using TBOOTNotifyEvent = std::function<void(TCANopenMaster* Sender, uint8_t& id)>;
