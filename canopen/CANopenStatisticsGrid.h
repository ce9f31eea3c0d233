// TStatisticsGrid: the toolkit-independent content of one statistics table. Column 0 holds the
// row captions, every further column holds values; every cell is text (empty = no value). An
// observer (the binding to a view) hears of every change so that it can mirror the grid.
#pragma once

#include <string>
#include <vector>

class TStatisticsGrid;

class TStatisticsGridObserver {
 public:
  virtual ~TStatisticsGridObserver() = default;
  // The grid was rebuilt: rows, captions, columns and widths may all have changed.
  virtual void GridRebuilt(const TStatisticsGrid& grid) = 0;
  // A value column was appended at `column`, with empty cells.
  virtual void GridColumnAdded(const TStatisticsGrid& grid, int column) = 0;
  // The text of one cell changed.
  virtual void GridCellChanged(const TStatisticsGrid& grid, int row, int column) = 0;
};

class TStatisticsGrid {
 public:
  // The observer is not owned; null means nobody watches.
  void SetObserver(TStatisticsGridObserver* observer) { FObserver = observer; }

  // Discards everything, then builds one row per caption and the caption column of that width.
  // Without captions the grid is empty again (no rows, no columns).
  void Rebuild(const std::vector<std::string>& captions, int captionWidth);
  // Appends a value column of that width with an empty cell in every row; returns its index.
  int AddColumn(int width);

  int RowCount() const { return static_cast<int>(FCells.size()); }
  int ColumnCount() const { return static_cast<int>(FWidths.size()); }
  int ColumnWidth(int column) const;
  // The text of a cell; empty for a cell outside the grid.
  const std::string& Text(int row, int column) const;
  // Replaces the text of a cell; a cell outside the grid is ignored.
  void SetText(int row, int column, const std::string& text);

 private:
  bool Contains(int row, int column) const {
    return row >= 0 && row < RowCount() && column >= 0 && column < ColumnCount();
  }

  std::vector<std::vector<std::string>> FCells;  // [row][column]
  std::vector<int> FWidths;
  TStatisticsGridObserver* FObserver = nullptr;
};
