// The statistics tables of TCANopenMaster: attaching the owner's table widgets and the private
// operations that the master's steps call, each on the grid of an attached table only.
#include <QTableWidget>

#include "CANopenMaster.h"
#include "CANopenStatistics.h"
#include "CANopenStatisticsView.h"

namespace {

// Binds `grid` to `value`. The grid keeps its rows whichever widget shows it, so the master's
// steps go on writing after a table was detached and attached again: a built grid shows itself
// in the widget at once, one never built leaves the widget as its owner made it until the next
// Reset builds the tables.
void Attach(TStatisticsGrid& grid, TStatisticsViewPtr& binding, QTableWidget* value) {
  if (binding && binding->View() == value && value != nullptr) return;
  grid.SetObserver(nullptr);
  binding.reset();
  if (value == nullptr) return;
  binding.reset(new TStatisticsView(value));
  grid.SetObserver(binding.get());
  if (grid.RowCount() > 0) binding->GridRebuilt(grid);
}

}  // namespace

void TStatisticsViewDeleter::operator()(TStatisticsView* view) const { delete view; }

QTableWidget* TCANopenMaster::Statistics1() const {
  return FStatistics1 ? FStatistics1->View() : nullptr;
}

void TCANopenMaster::SetStatistics1(QTableWidget* value) {
  Attach(FStatistics1Grid, FStatistics1, value);
}

QTableWidget* TCANopenMaster::Statistics2() const {
  return FStatistics2 ? FStatistics2->View() : nullptr;
}

void TCANopenMaster::SetStatistics2(QTableWidget* value) {
  Attach(FStatistics2Grid, FStatistics2, value);
}

TStatisticsGrid* TCANopenMaster::AttachedStatistics1() {
  return FStatistics1 && FStatistics1->Attached() ? &FStatistics1Grid : nullptr;
}

TStatisticsGrid* TCANopenMaster::AttachedStatistics2() {
  return FStatistics2 && FStatistics2->Attached() ? &FStatistics2Grid : nullptr;
}

void TCANopenMaster::InitStatistics1() { statistics::InitStatistics1(AttachedStatistics1()); }

void TCANopenMaster::SetStatistics1(int row, const std::string& text) {
  statistics::SetStatistics1(AttachedStatistics1(), row, text);
}

void TCANopenMaster::InitStatistics2() { statistics::InitStatistics2(AttachedStatistics2()); }

void TCANopenMaster::SetStatistics2(int id, int row, const std::string& text) {
  statistics::SetStatistics2(AttachedStatistics2(), id, row, text);
}

std::string TCANopenMaster::GetStatistics2(int id, int row) {
  return statistics::GetStatistics2(AttachedStatistics2(), id, row);
}

void TCANopenMaster::AddStatisticsNode(int id) {
  statistics::AddStatisticsNode(AttachedStatistics2(), id);
}

void TCANopenMaster::ClearStatisticsNode(int id) {
  statistics::ClearStatisticsNode(AttachedStatistics2(), id);
}
