#include "CANopenStatisticsView.h"

#include <QGuiApplication>
#include <QHeaderView>
#include <QPalette>
#include <QString>
#include <QTableWidgetItem>

namespace {

QTableWidgetItem* MakeItem(const std::string& text, int row) {
  auto* item = new QTableWidgetItem(QString::fromStdString(text));
  item->setToolTip(item->text());  // the whole text of a cell too narrow for it
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  item->setBackground(TStatisticsView::RowColour(row));
  return item;
}

}  // namespace

QColor TStatisticsView::RowColour(int row) {
  if (row % 2 != 0) return QColor(0xFF, 0xFF, 0xFF);
  return QGuiApplication::palette().color(QPalette::ToolTipBase);
}

void TStatisticsView::GridRebuilt(const TStatisticsGrid& grid) {
  QTableWidget* view = FView.data();
  if (view == nullptr) return;
  view->clear();
  view->setShowGrid(true);
  view->horizontalHeader()->hide();
  view->verticalHeader()->hide();
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->setWordWrap(false);
  view->setRowCount(grid.RowCount());
  view->setColumnCount(grid.ColumnCount());
  for (int column = 0; column < grid.ColumnCount(); ++column) FillColumn(*view, grid, column);
}

void TStatisticsView::GridColumnAdded(const TStatisticsGrid& grid, int column) {
  QTableWidget* view = FView.data();
  if (view == nullptr) return;
  if (view->rowCount() != grid.RowCount() || view->columnCount() != column) {
    GridRebuilt(grid);  // the widget was changed behind the grid's back; show the grid again
    return;
  }
  view->setColumnCount(column + 1);
  FillColumn(*view, grid, column);
}

void TStatisticsView::GridCellChanged(const TStatisticsGrid& grid, int row, int column) {
  QTableWidget* view = FView.data();
  if (view == nullptr) return;
  if (QTableWidgetItem* item = view->item(row, column)) {
    item->setText(QString::fromStdString(grid.Text(row, column)));
    item->setToolTip(item->text());
  } else if (row < view->rowCount() && column < view->columnCount()) {
    view->setItem(row, column, MakeItem(grid.Text(row, column), row));
  }
}

void TStatisticsView::FillColumn(QTableWidget& view, const TStatisticsGrid& grid, int column) {
  view.setColumnWidth(column, grid.ColumnWidth(column));
  for (int row = 0; row < grid.RowCount(); ++row) {
    view.setItem(row, column, MakeItem(grid.Text(row, column), row));
  }
}
