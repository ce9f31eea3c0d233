// Row indexes of the two statistics tables.
#pragma once

// Statistics1, the network table.
enum TStatistics1Row : int {
  st1Hardware = 0,
  st1Bitrate = 1,
  st1ExtendedId = 2,
  st1SyncTime = 3,
  st1TimestampTime = 4
};

// Statistics2, the node table (one column per node).
enum TStatistics2Row : int {
  st2Id = 0,
  st2Name = 1,
  st2NmtState = 2,
  st2SdoUploadCount = 3,
  st2SdoDownloadCount = 4,
  st2TxPdo1Count = 5,  // .. st2TxPdo1Count + 3 for TxPDO4
  st2RxPdo1Count = 9,  // .. st2RxPdo1Count + 3 for RxPDO4
  st2HeartbeatTime = 13,
  st2HeartbeatState = 14,
  st2HeartbeatNmtState = 15,
  st2NodeguardGuardTime = 16,
  st2NodeguardLifeTimeFactor = 17,
  st2NodeguardState = 18,
  st2NodeguardNmtState = 19,
  st2EmcyErrorCode = 20
};
