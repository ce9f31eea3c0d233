// Switching the driver's cyclic services: node guarding and heartbeat supervision of one node,
// SYNC and TIME production, with their statistics cells.
#include <string>

#include "CANopenMaster.h"
#include "drivers/canopen.h"

void TCANopenMaster::NODEGUARDon(uint8_t id, uint16_t guardtime, uint8_t lifetimefactor) {
  const uint16_t result = kcoNODEGUARD(id, KCO_NODEGUARD_ON, guardtime, lifetimefactor);
  if (result != KCO_NODEGUARD_OK) {
    for (const int row : {st2NodeguardGuardTime, st2NodeguardLifeTimeFactor, st2NodeguardState,
                          st2NodeguardNmtState}) {
      SetStatistics2(id, row, "");
    }
    throw ECANopenException(id, result, DriverText(result));
  }
  SetStatistics2(id, st2NodeguardGuardTime, std::to_string(guardtime));
  SetStatistics2(id, st2NodeguardLifeTimeFactor, std::to_string(lifetimefactor));
}

void TCANopenMaster::NODEGUARDoff(uint8_t id) {
  const uint16_t result = kcoNODEGUARD(id, KCO_NODEGUARD_OFF, 0, 0);
  if (result != KCO_NODEGUARD_OK) throw ECANopenException(id, result, DriverText(result));
  for (const int row : {st2NodeguardGuardTime, st2NodeguardLifeTimeFactor, st2NodeguardState,
                        st2NodeguardNmtState}) {
    SetStatistics2(id, row, "");
  }
}

void TCANopenMaster::HEARTBEATon(uint8_t id, uint16_t time) {
  const uint16_t result = kcoHEARTBEAT(id, KCO_HEARTBEAT_ON, time);
  if (result != KCO_HEARTBEAT_OK) {
    for (const int row : {st2HeartbeatTime, st2HeartbeatState, st2HeartbeatNmtState}) {
      SetStatistics2(id, row, "");
    }
    throw ECANopenException(id, result, DriverText(result));
  }
  SetStatistics2(id, st2HeartbeatTime, std::to_string(time));
}

void TCANopenMaster::HEARTBEAToff(uint8_t id) {
  const uint16_t result = kcoHEARTBEAT(id, KCO_HEARTBEAT_OFF, 0);
  if (result != KCO_HEARTBEAT_OK) throw ECANopenException(id, result, DriverText(result));
  for (const int row : {st2HeartbeatTime, st2HeartbeatState, st2HeartbeatNmtState}) {
    SetStatistics2(id, row, "");
  }
}

void TCANopenMaster::SYNCon(uint16_t time) {
  const uint16_t result = kcoSYNC(KCO_SYNC_ON, time);
  if (result != KCO_SYNC_OK) {
    SetStatistics1(st1SyncTime, "");
    throw ECANopenException(0, result, DriverText(result));
  }
  SetStatistics1(st1SyncTime, std::to_string(time));
}

void TCANopenMaster::SYNCoff() {
  const uint16_t result = kcoSYNC(KCO_SYNC_OFF, 0);
  if (result != KCO_SYNC_OK) throw ECANopenException(0, result, DriverText(result));
  SetStatistics1(st1SyncTime, "");
}

void TCANopenMaster::TIMESTAMPon(uint16_t time) {
  const uint16_t result = kcoTIMESTAMP(KCO_TIMESTAMP_ON, time);
  if (result != KCO_TIMESTAMP_OK) {
    SetStatistics1(st1TimestampTime, "");
    throw ECANopenException(0, result, DriverText(result));
  }
  SetStatistics1(st1TimestampTime, std::to_string(time));
}

void TCANopenMaster::TIMESTAMPoff() {
  const uint16_t result = kcoTIMESTAMP(KCO_TIMESTAMP_OFF, 0);
  if (result != KCO_TIMESTAMP_OK) throw ECANopenException(0, result, DriverText(result));
  SetStatistics1(st1TimestampTime, "");
}
