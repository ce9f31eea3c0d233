#include "CANopenStatistics.h"

#include <cstdint>
#include <string>
#include <vector>

#include "CANopenErrors.h"
#include "CANopenException.h"
#include "CANopenStatisticsGrid.h"

namespace statistics {
namespace {

constexpr int kLastNode = 127;

const std::vector<std::string>& NetworkCaptions() {
  static const std::vector<std::string> captions = {"hardware", "bitrate", "extended id",
                                                    "SYNC time [ms]", "TIMESTAMP time [ms]"};
  return captions;
}

const std::vector<std::string>& NodeCaptions() {
  static const std::vector<std::string> captions = {"id",
                                                    "name",
                                                    "NMT state",
                                                    "SDO upload count",
                                                    "SDO download count",
                                                    "TxPDO1 count",
                                                    "TxPDO2 count",
                                                    "TxPDO3 count",
                                                    "TxPDO4 count",
                                                    "RxPDO1 count",
                                                    "RxPDO2 count",
                                                    "RxPDO3 count",
                                                    "RxPDO4 count",
                                                    "HEARTBEAT time [ms]",
                                                    "HEARTBEAT state",
                                                    "HEARTBEAT nmt state",
                                                    "NODEGUARD guardtime [ms]",
                                                    "NODEGUARD lifetimefactor",
                                                    "NODEGUARD state",
                                                    "NODEGUARD nmt state",
                                                    "EMCY error code"};
  return captions;
}

[[noreturn]] void Raise(int node, uint16_t code) {
  throw ECANopenException(static_cast<uint8_t>(node & 0xFF), code, CANopenErrorText(code));
}

// The column whose row-0 cell holds the node's decimal id, or 0 (the caption column) if none.
int NodeColumn(const TStatisticsGrid& table, int node) {
  const std::string id = std::to_string(node);
  for (int column = 1; column < table.ColumnCount(); ++column) {
    if (table.Text(st2Id, column) == id) return column;
  }
  return 0;
}

// Runs `write(column)` for the node's column, or for every node column when node is 0.
template <typename TWrite>
void ForNodeColumns(const TStatisticsGrid& table, int node, TWrite&& write) {
  if (node == 0) {
    for (int column = 1; column < table.ColumnCount(); ++column) write(column);
  } else if (const int column = NodeColumn(table, node); column != 0) {
    write(column);
  }
}

}  // namespace

void InitStatistics1(TStatisticsGrid* table) {
  if (table == nullptr) return;
  table->Rebuild(NetworkCaptions(), kCaptionWidth);
  table->AddColumn(kNetworkValueWidth);
}

void SetStatistics1(TStatisticsGrid* table, int row, const std::string& text) {
  if (table == nullptr) return;
  if (row < 0 || row >= kNetworkRows) Raise(0, CANOPEN_ERR_ROW_RANGE);
  if (table->RowCount() != kNetworkRows || table->ColumnCount() < 2) {
    Raise(0, CANOPEN_ERR_STATISTIC_EMPTY);
  }
  table->SetText(row, 1, text);
}

void InitStatistics2(TStatisticsGrid* table) {
  if (table == nullptr) return;
  table->Rebuild(NodeCaptions(), kCaptionWidth);
}

void AddStatisticsNode(TStatisticsGrid* table, int node) {
  if (table == nullptr) return;
  if (node < 1 || node > kLastNode) Raise(node, CANOPEN_ERR_NODE_RANGE_1_127);
  if (table->RowCount() != kNodeRows) Raise(node, CANOPEN_ERR_STATISTIC_EMPTY);
  int column = NodeColumn(*table, node);
  if (column == 0) column = table->AddColumn(kNodeWidth);
  for (int row = 0; row < kNodeRows; ++row) {
    switch (row) {
      case st2Id: table->SetText(row, column, std::to_string(node)); break;
      case st2NmtState: table->SetText(row, column, "preoperational"); break;
      case st2EmcyErrorCode: table->SetText(row, column, "0"); break;
      default: table->SetText(row, column, ""); break;
    }
  }
}

void SetStatistics2(TStatisticsGrid* table, int node, int row, const std::string& text) {
  if (table == nullptr) return;
  if (table->RowCount() == 0) Raise(node, CANOPEN_ERR_STATISTIC_EMPTY);
  if (row < 0 || row >= kNodeRows) Raise(node, CANOPEN_ERR_ROW_RANGE);
  if (node < 0 || node > kLastNode) Raise(node, CANOPEN_ERR_NODE_RANGE_0_127);
  ForNodeColumns(*table, node, [&](int column) { table->SetText(row, column, text); });
}

std::string GetStatistics2(const TStatisticsGrid* table, int node, int row) {
  if (table == nullptr) return {};
  if (table->RowCount() == 0) Raise(node, CANOPEN_ERR_STATISTIC_EMPTY);
  if (row < 0 || row >= kNodeRows) Raise(node, CANOPEN_ERR_ROW_RANGE);
  if (node < 1 || node > kLastNode) Raise(node, CANOPEN_ERR_NODE_RANGE_1_127);
  const int column = NodeColumn(*table, node);
  return column != 0 ? table->Text(row, column) : std::string();
}

void ClearStatisticsNode(TStatisticsGrid* table, int node) {
  if (table == nullptr) return;
  if (node < 0 || node > kLastNode) Raise(node, CANOPEN_ERR_NODE_RANGE_0_127);
  if (node != 0 && table->RowCount() == 0) Raise(node, CANOPEN_ERR_STATISTIC_EMPTY);
  ForNodeColumns(*table, node, [&](int column) {
    for (int row = st2Id + 1; row < table->RowCount(); ++row) table->SetText(row, column, "");
  });
}

}  // namespace statistics
