#include "CANopenStatisticsGrid.h"

void TStatisticsGrid::Rebuild(const std::vector<std::string>& captions, int captionWidth) {
  FCells.clear();
  FWidths.clear();
  if (!captions.empty()) {
    FWidths.push_back(captionWidth);
    for (const std::string& caption : captions) FCells.push_back({caption});
  }
  if (FObserver != nullptr) FObserver->GridRebuilt(*this);
}

int TStatisticsGrid::AddColumn(int width) {
  for (std::vector<std::string>& row : FCells) row.emplace_back();
  FWidths.push_back(width);
  const int column = ColumnCount() - 1;
  if (FObserver != nullptr) FObserver->GridColumnAdded(*this, column);
  return column;
}

int TStatisticsGrid::ColumnWidth(int column) const {
  return column >= 0 && column < ColumnCount() ? FWidths[static_cast<size_t>(column)] : 0;
}

const std::string& TStatisticsGrid::Text(int row, int column) const {
  static const std::string kEmpty;
  if (!Contains(row, column)) return kEmpty;
  return FCells[static_cast<size_t>(row)][static_cast<size_t>(column)];
}

void TStatisticsGrid::SetText(int row, int column, const std::string& text) {
  if (!Contains(row, column)) return;
  FCells[static_cast<size_t>(row)][static_cast<size_t>(column)] = text;
  if (FObserver != nullptr) FObserver->GridCellChanged(*this, row, column);
}
