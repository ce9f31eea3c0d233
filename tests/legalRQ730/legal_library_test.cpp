// The library's C interface inside a widget application.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QWidget>

#include "drivers/LEGALRQ730.h"
#include "legalRQ730/signature.h"
#include "modal_answerer.h"
#include "spin.h"

namespace {

QWidget* legalWindow() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->windowTitle() == "Legal display" && w->isVisible() && !qobject_cast<QMessageBox*>(w)) {
      return w;
    }
  }
  return nullptr;
}

}  // namespace

// The library draws its display once off screen when the event loop first runs (so that Init is
// quick); that leaves no window behind, and only Init opens the display.
TEST(LegalLibrary, NoWindowBeforeInitAlthoughTheEventLoopRan) {
  for (int turn = 0; turn < 3; ++turn) QApplication::processEvents();
  for (QWidget* w : QApplication::topLevelWidgets()) {
    EXPECT_NE(w->windowTitle(), "Legal display") << "a window before Init";
  }
  ASSERT_EQ(LegalRQ730_Init(0, 0, 20, 40, 4, 1, 50, 0, 0, 0, 0), 1);
  QWidget* window = legalWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->pos(), QPoint(20, 40));
  EXPECT_EQ(window->findChild<QLabel*>("weight")->text(), "------");
}

TEST(LegalLibrary, InfoBeforeInitThenDisplayAtItsPositionWithCheckedValues) {
  {
    ModalAnswerer answerer;
    LegalRQ730_ShowInfo();
    ASSERT_EQ(answerer.texts().size(), 1);
    EXPECT_TRUE(answerer.texts()[0].contains("Serial number: --"));
  }
  ASSERT_EQ(LegalRQ730_Init(0, 0, -5, 300, 4, 1, 50, 0, 0, 0, 0), 1);
  QWidget* window = legalWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->pos(), QPoint(-5, 300));

  LegalRQ730_WriteSerialNumber(1, 73012345);
  LegalRQ730_WriteAdjustmentCounter(1, 7);
  LegalRQ730_WriteUnit(1, 1);
  LegalRQ730_WriteCapacity(1, 3000);
  LegalRQ730_WriteChecksum(1, 0xC0DE);
  LegalRQ730_WriteDivision(1, 1);
  LegalRQ730_WriteWeight(1, legal_rq730::signWeight(73012345, 7, 1234), 1234);
  auto* weight = window->findChild<QLabel*>("weight");
  ASSERT_NE(weight, nullptr);
  EXPECT_EQ(weight->text(), "1234 kg");
  LegalRQ730_WriteWeight(1, 0xFFFF, 1234);
  EXPECT_EQ(weight->text(), "------");
  auto* zero = window->findChild<QLabel*>("zeroMark");
  LegalRQ730_WriteZeroIndication(1, legal_rq730::signZeroIndication(73012345, 7, 1), 1);
  EXPECT_FALSE(zero->isHidden());
  LegalRQ730_WriteZeroIndication(1, legal_rq730::signZeroIndication(73012345, 7, 0), 0);
  EXPECT_TRUE(zero->isHidden());

  ModalAnswerer answerer;
  LegalRQ730_ShowInfo();
  ASSERT_EQ(answerer.texts().size(), 1);
  EXPECT_TRUE(answerer.texts()[0].contains("Serial number: 73012345"));
  EXPECT_TRUE(answerer.texts()[0].contains("Parameter checksum: 0xC0DE"));
}
