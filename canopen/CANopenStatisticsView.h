// TStatisticsView: shows one statistics grid in a QTableWidget that the owner of the master owns.
// The binding only holds a guarded reference: once the owner deletes the widget, the binding
// is detached and writes nothing. The widget is left as the owner made it until the grid is
// built for the first time; from then on it mirrors the grid: grid lines, no header texts,
// read-only cells, the grid's column widths, and row backgrounds alternating between the
// system's information (tooltip) background on even rows and white on odd rows.
#pragma once

#include <QColor>
#include <QPointer>
#include <QTableWidget>

#include "CANopenStatisticsGrid.h"

class TStatisticsView : public TStatisticsGridObserver {
 public:
  explicit TStatisticsView(QTableWidget* view) : FView(view) {}

  QTableWidget* View() const { return FView.data(); }
  bool Attached() const { return !FView.isNull(); }

  // Background of a row: white for odd rows, the information background for even ones.
  static QColor RowColour(int row);

  void GridRebuilt(const TStatisticsGrid& grid) override;
  void GridColumnAdded(const TStatisticsGrid& grid, int column) override;
  void GridCellChanged(const TStatisticsGrid& grid, int row, int column) override;

 private:
  void FillColumn(QTableWidget& view, const TStatisticsGrid& grid, int column);

  QPointer<QTableWidget> FView;
};
