// The main window's start-up: interface search, the 2000 ms wait for a module and the
// single-module rule, against the recording fake driver.
#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QStatusBar>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "fake_driver.h"
#include "form_fixture.h"

namespace {

std::vector<uint32_t> triedInterfaces() {
  std::vector<uint32_t> codes;
  for (const auto& call : fake_driver::callsOf("kcoInit")) codes.push_back(call.args[0]);
  return codes;
}

}  // namespace

TEST_F(FormStartup, DesignValues) {
  EXPECT_EQ(form->windowTitle(), "RQ 730 Calibration 2.1.0");
  EXPECT_EQ(form->size(), QSize(529, 155));
  EXPECT_EQ(form->minimumSize(), form->maximumSize());
  EXPECT_EQ(form->PanelWeight->geometry(), QRect(8, 8, 401, 121));
  EXPECT_TRUE(form->PanelWeight->font().bold());
  EXPECT_EQ(form->PanelWeight->font().pixelSize(), 53);
  EXPECT_EQ(form->PanelWeight->palette().color(QPalette::Window), QColor(0, 0, 0x80));
  EXPECT_EQ(form->PanelWeight->palette().color(QPalette::WindowText), QColor(0xFF, 0xFF, 0));
  ASSERT_EQ(form->ComboBoxCom->count(), 256);
  EXPECT_EQ(form->ComboBoxCom->itemText(0), "none");
  EXPECT_EQ(form->ComboBoxCom->itemText(1), "COM1");
  EXPECT_EQ(form->ComboBoxCom->itemText(255), "COM255");
  EXPECT_FALSE(form->ComboBoxCom->isEditable());
  EXPECT_EQ(form->ComboBoxCom->maxVisibleItems(), 9);
  EXPECT_EQ(form->Timeout->interval(), 2000);
  EXPECT_FALSE(form->Timeout->isActive());
}

TEST_F(FormStartup, TimeOutIsPreciseSoAModuleJustInTimeIsNeverTurnedAway) {
  // A coarse timer may fire up to 5 % early, 1900 ms after it was armed.
  EXPECT_EQ(form->Timeout->timerType(), Qt::PreciseTimer);
  EXPECT_EQ(form->Timeout->interval(), 2000);
  start();
  EXPECT_TRUE(form->Timeout->isActive());
  EXPECT_EQ(form->Timeout->timerType(), Qt::PreciseTimer);
}

TEST_F(FormStartup, PortListDropsDownNineRows) {
  start();
  form->ComboBoxCom->showPopup();
  const QAbstractItemView* list = form->ComboBoxCom->view();
  ASSERT_TRUE(spinUntil([&] { return list->isVisible(); }));
  const QRect shown = list->viewport()->rect();
  int rows = 0;
  for (int row = 0; row < form->ComboBoxCom->count(); ++row) {
    if (list->visualRect(list->model()->index(row, 0)).intersects(shown)) ++rows;
  }
  form->ComboBoxCom->hidePopup();
  EXPECT_EQ(rows, 9);
}

TEST_F(FormStartup, ShowResetsFrontEndAndDefersTheSearch) {
  // As if a run had already found and weighed a module and a port was chosen.
  form->ComboBoxCom->setCurrentIndex(4);
  TFormMainProbe::SetKnownModuleWeighing(*form, 7);
  form->show();
  // Nothing is searched until the posted start message is dispatched.
  EXPECT_TRUE(fake_driver::calls().empty());
  EXPECT_EQ(form->ComboBoxCom->currentIndex(), 0);
  EXPECT_EQ(TFormMainProbe::RQ730Id(*form), 0);
  EXPECT_FALSE(TFormMainProbe::WeightFound(*form));
  ASSERT_TRUE(spinUntil([] { return !fake_driver::calls().empty(); }));
}

TEST_F(FormStartup, FirstInterfaceFound) {
  start();
  EXPECT_EQ(triedInterfaces(), (std::vector<uint32_t>{9}));
  EXPECT_EQ(form->StatusPanel0->text(), "K 4410.x pc interface");
  EXPECT_TRUE(form->Timeout->isActive());
  EXPECT_TRUE(answerer.texts().isEmpty());
  EXPECT_TRUE(form->isVisible());
}

TEST_F(FormStartup, SecondInterfaceFoundWithoutMessageFromTheFirstFailure) {
  fake_driver::setInitResult(9, 0x1001);
  start();
  EXPECT_EQ(triedInterfaces(), (std::vector<uint32_t>{9, 8}));
  EXPECT_EQ(form->StatusPanel0->text(), "K 4400.0 interface box");
  EXPECT_TRUE(form->Timeout->isActive());
  EXPECT_TRUE(answerer.texts().isEmpty());
}

TEST_F(FormStartup, NoInterfaceFoundShowsOneMessageAndCloses) {
  fake_driver::setInitResult(9, 0x1001);
  fake_driver::setInitResult(8, 0x1001);
  form->Timeout->setInterval(20);  // a time-out, if wrongly armed, would show within the wait
  start();
  ASSERT_TRUE(spinUntil([&] { return !form->isVisible(); }));
  spinFor(60);
  EXPECT_EQ(answerer.texts(),
            QStringList{"No K4400.0 interface box or K 4410.x pc interface found!"});
  EXPECT_FALSE(form->Timeout->isActive());
  EXPECT_TRUE(form->StatusPanel0->text().isEmpty());
}

TEST_F(FormStartup, NoBootUpWithinTheTimeOut) {
  form->Timeout->setInterval(30);
  start();
  ASSERT_TRUE(spinUntil([&] { return !form->isVisible(); }));
  EXPECT_EQ(answerer.texts(), QStringList{"No RQ 730 found!"});
  EXPECT_FALSE(form->Timeout->isActive());
}

TEST_F(FormStartup, BootUpStopsTheTimeOutAndMakesTheModuleKnown) {
  form->Timeout->setInterval(800);
  start();
  boot(3);
  ASSERT_TRUE(spinUntil([&] { return TFormMainProbe::RQ730Id(*form) == 3; }));
  EXPECT_FALSE(form->Timeout->isActive());
  spinFor(850);  // past the time-out
  EXPECT_TRUE(answerer.texts().isEmpty());
  EXPECT_TRUE(form->isVisible());
}

TEST_F(FormStartup, SameNodeBootingAgainChangesNothing) {
  start();
  boot(3);
  ASSERT_TRUE(spinUntil([&] { return TFormMainProbe::RQ730Id(*form) == 3; }));
  fake_driver::clearCalls();
  const size_t legalCallsBefore = fake_legal::calls().size();
  boot(3);
  // The boot-up dispatch reads the device name, then runs the window's handler, and only then
  // is the queue idle again: with the name read seen and the queue idle, the handler has run.
  ASSERT_TRUE(spinUntil([&] {
    return !fake_driver::callsOf("kcoSDO").empty() && CANopenCallbacks().BOOT.records.empty() &&
           !CANopenCallbacks().BOOT.busy;
  }));
  // Only the dispatch's device-name read went to the module: no second set-up.
  std::vector<std::string> setUpCalls;
  for (const auto& call : fake_driver::calls()) {
    if (call.function != "kcoSDO" || call.args[1] != 0x1008U) setUpCalls.push_back(call.function);
  }
  EXPECT_EQ(setUpCalls, std::vector<std::string>{});
  EXPECT_EQ(fake_legal::calls().size(), legalCallsBefore);
  EXPECT_EQ(TFormMainProbe::RQ730Id(*form), 3);
  EXPECT_TRUE(answerer.texts().isEmpty());
  EXPECT_TRUE(form->isVisible());
}

TEST_F(FormStartup, SecondNodeIdClosesTheProgram) {
  start();
  boot(3);
  ASSERT_TRUE(spinUntil([&] { return TFormMainProbe::RQ730Id(*form) == 3; }));
  boot(4);
  ASSERT_TRUE(spinUntil([&] { return !form->isVisible(); }));
  EXPECT_EQ(answerer.texts(), QStringList{"More than one RQ 730 found!"});
  EXPECT_EQ(TFormMainProbe::RQ730Id(*form), 3);
}
