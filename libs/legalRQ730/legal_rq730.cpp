// The C interface of the legal display library. All calls come from the program's main thread,
// where its Qt application lives.
#include <QApplication>
#include <QMessageBox>
#include <memory>

#include "drivers/LEGALRQ730.h"
#include "legal_display.h"
#include "legal_state.h"

namespace {

using legal_rq730::LegalDisplay;
using legal_rq730::LegalState;

struct Library {
  LegalState state;
  std::unique_ptr<LegalDisplay> display;
};

Library& library() {
  static Library instance;
  return instance;
}

void refresh() {
  if (library().display) library().display->refresh(library().state);
}

// The display needs the calling program's widget application to open a window.
bool canOpenWindows() {
  return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

// Init comes inside the program's set-up of the module, where every millisecond counts. A first
// window costs some 3 to 10 ms for what its first drawing loads (the bold font, the style), so
// the display is drawn once off screen, and thrown away, as soon as the application's event
// loop first runs; Init then finds all of that loaded.
void prepareDisplay() {
  QMetaObject::invokeMethod(
      QCoreApplication::instance(),
      [] {
        if (!canOpenWindows() || library().display) return;
        LegalDisplay rehearsal;
        rehearsal.refresh(LegalState{});
        rehearsal.grab();
      },
      Qt::QueuedConnection);
}
Q_COREAPP_STARTUP_FUNCTION(prepareDisplay)

}  // namespace

extern "C" {

uint8_t LegalRQ730_Init(uint32_t, uint32_t, int16_t x, int16_t y, uint32_t, uint32_t, uint32_t,
                        uint32_t, uint32_t, uint32_t, uint32_t) {
  if (!canOpenWindows()) return 0;
  Library& lib = library();
  if (!lib.display) {
    lib.display = std::make_unique<LegalDisplay>();
    // The window must go while the application still exists, not with the library's statics.
    qAddPostRoutine([] { library().display.reset(); });
  }
  lib.display->move(x, y);
  lib.display->refresh(lib.state);
  lib.display->show();
  return 1;
}

void LegalRQ730_WriteSerialNumber(uint8_t id, uint32_t serialNumber) {
  library().state.setNodeId(id);
  library().state.parameters().serialNumber = serialNumber;
  refresh();
}

void LegalRQ730_WriteAdjustmentCounter(uint8_t id, uint16_t adjustmentCounter) {
  library().state.setNodeId(id);
  library().state.parameters().adjustmentCounter = adjustmentCounter;
  refresh();
}

void LegalRQ730_WriteUnit(uint8_t id, uint8_t unit) {
  library().state.setNodeId(id);
  library().state.parameters().unit = unit;
  refresh();
}

void LegalRQ730_WriteCapacity(uint8_t id, uint16_t capacity) {
  library().state.setNodeId(id);
  library().state.parameters().capacity = capacity;
  refresh();
}

void LegalRQ730_WriteChecksum(uint8_t id, uint16_t checksum) {
  library().state.setNodeId(id);
  library().state.parameters().checksum = checksum;
  refresh();
}

void LegalRQ730_WriteDivision(uint8_t id, uint8_t division) {
  library().state.setNodeId(id);
  library().state.parameters().division = division;
  refresh();
}

void LegalRQ730_WriteWeight(uint8_t, uint16_t signature, int16_t weight) {
  library().state.writeWeight(signature, weight);
  refresh();
}

void LegalRQ730_WriteZeroIndication(uint8_t, uint16_t signature, uint8_t zeroIndication) {
  library().state.writeZeroIndication(signature, zeroIndication);
  refresh();
}

void LegalRQ730_ShowInfo(void) {
  if (!canOpenWindows()) return;
  QMessageBox info(QMessageBox::Information, QStringLiteral("Legal display"),
                   QString::fromStdString(library().state.infoText()), QMessageBox::Ok,
                   QApplication::activeWindow());
  info.setObjectName(QStringLiteral("legalInfo"));
  info.exec();
}

}  // extern "C"
