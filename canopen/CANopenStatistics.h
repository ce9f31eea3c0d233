// Row indexes of the two statistics tables, and the operations that build, write and read them.
#pragma once

#include <string>

class TStatisticsGrid;

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

// The seven operations on the statistics tables. A null table means "not attached": every
// operation then returns at once, without any check (GetStatistics2 gives the empty text). The
// checks raise ECANopenException with the low 8 bits of the node as node id (0 for the network
// table) and leave the table unchanged. All of them run on the main thread.
namespace statistics {

// Column widths in logical pixels.
constexpr int kCaptionWidth = 150;
constexpr int kNetworkValueWidth = 200;
constexpr int kNodeWidth = 80;
constexpr int kNetworkRows = 5;
constexpr int kNodeRows = 21;

// Builds the network table: five captioned rows with one empty value each.
void InitStatistics1(TStatisticsGrid* table);
// Writes the value of one row 0..4 (0xA015 otherwise; 0xA010 while the table is not built).
void SetStatistics1(TStatisticsGrid* table, int row, const std::string& text);
// Builds the node table: 21 captioned rows and no node column.
void InitStatistics2(TStatisticsGrid* table);
// Gives node 1..127 a fresh column, or resets its existing one in place (0xA012; 0xA010).
void AddStatisticsNode(TStatisticsGrid* table, int node);
// Writes one row 0..20 of the node's column; node 0 writes every node column; a node without a
// column is ignored (0xA010, 0xA015, 0xA011, checked in this order).
void SetStatistics2(TStatisticsGrid* table, int node, int row, const std::string& text);
// Reads one row of node 1..127; empty when the node has no column (0xA010, 0xA015, 0xA012).
std::string GetStatistics2(const TStatisticsGrid* table, int node, int row);
// Empties rows 1..20 of the node's column (node 0: of every node column); row 0 keeps the id
// (0xA011; 0xA010 for a node other than 0 while the table is not built).
void ClearStatisticsNode(TStatisticsGrid* table, int node);

}  // namespace statistics
