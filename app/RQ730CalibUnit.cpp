#include "RQ730CalibUnit.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QStatusBar>
#include <QTimer>

#include "ErrorMessage.h"

const int TFormMain::WM_START = QEvent::User + 1;

namespace {

// The design's fonts, with the metric-compatible or common Linux fonts as fall-backs.
QFont WindowFont() {
  QFont font;
  font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"),
                    QStringLiteral("DejaVu Sans")});
  font.setPixelSize(11);
  return font;
}

QFont PanelFont() {
  QFont font;
  font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                    QStringLiteral("DejaVu Sans")});
  font.setPixelSize(53);
  font.setBold(true);
  return font;
}

}  // namespace

TFormMain::TFormMain(QWidget* parent) : QWidget(parent) {
  setWindowTitle(QStringLiteral("RQ 730 Calibration 2.1.0"));
  setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);
  setFixedSize(529, 155);
  setFont(WindowFont());

  PanelWeight = new QLabel(this);
  PanelWeight->setGeometry(8, 8, 401, 121);
  PanelWeight->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  PanelWeight->setAlignment(Qt::AlignCenter);
  PanelWeight->setFont(PanelFont());
  PanelWeight->setAutoFillBackground(true);
  QPalette panelColours = PanelWeight->palette();
  panelColours.setColor(QPalette::Window, QColor(0x00, 0x00, 0x80));      // navy
  panelColours.setColor(QPalette::WindowText, QColor(0xFF, 0xFF, 0x00));  // yellow
  PanelWeight->setPalette(panelColours);

  ButtonZero = new QPushButton(QStringLiteral("zero"), this);
  ButtonZero->setGeometry(416, 8, 105, 25);
  ButtonInfo = new QPushButton(QStringLiteral("info"), this);
  ButtonInfo->setGeometry(416, 40, 105, 25);

  GroupBoxCom = new QGroupBox(QStringLiteral("serial port"), this);
  GroupBoxCom->setGeometry(416, 80, 105, 49);
  ComboBoxCom = new QComboBox(GroupBoxCom);
  ComboBoxCom->setGeometry(8, 18, 89, 21);
  ComboBoxCom->setEditable(false);
  ComboBoxCom->setMaxVisibleItems(9);
  ComboBoxCom->addItem(QStringLiteral("none"));
  for (int n = 1; n <= 255; ++n) ComboBoxCom->addItem(QStringLiteral("COM%1").arg(n));

  StatusBar = new QStatusBar(this);
  StatusBar->setGeometry(0, 136, 529, 19);
  StatusBar->setSizeGripEnabled(false);
  StatusPanel0 = new QLabel(StatusBar);
  StatusBar->addWidget(StatusPanel0, 1);  // the last panel reaches to the bar's right edge

  setTabOrder(ButtonInfo, ButtonZero);
  setTabOrder(ButtonZero, ComboBoxCom);

  CANopenMaster = new TCANopenMaster(this);
  CANopenMaster->OnBOOT = [this](TCANopenMaster* sender, uint8_t& id) {
    CANopenMasterBOOT(sender, id);
  };

  Timeout = new QTimer(this);
  Timeout->setInterval(2000);
  connect(Timeout, &QTimer::timeout, this, &TFormMain::TimeoutTimer);
}

TFormMain::~TFormMain() {
  // The master is stopped while the window is still whole; a pump that is already requested
  // then runs, but no longer reaches the window's handlers.
  CANopenMaster->OnBOOT = nullptr;
  CANopenMaster->OnPDOrx = nullptr;
  delete CANopenMaster;
}

void TFormMain::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (event->spontaneous()) return;  // restored from minimised: not a new show
  if (const QScreen* desktop = screen()) {
    move(desktop->availableGeometry().center() - frameGeometry().center() + pos());
  }
  FormShow();
}

void TFormMain::FormShow() {
  {
    const QSignalBlocker noChangeHandler(ComboBoxCom);
    ComboBoxCom->setCurrentIndex(0);
  }
  RQ730Id = 0;
  WeightFound = false;
  // The interface search runs only once the show has completed.
  QCoreApplication::postEvent(this, new QEvent(static_cast<QEvent::Type>(WM_START)));
}

void TFormMain::customEvent(QEvent* event) {
  if (event->type() == WM_START) {
    WMStart();
    return;
  }
  QWidget::customEvent(event);
}

void TFormMain::WMStart() { FindInterface(); }

void TFormMain::FindInterface() {
  try {
    CANopenMaster->SetHardware(haTovald_CAN_USB);
    CANopenMaster->Reset();
    StatusPanel0->setText(QStringLiteral("K 4410.x pc interface"));
    Timeout->start();
    return;
  } catch (...) {
    // The first interface kind is missing; the second one is tried without a message.
  }
  try {
    CANopenMaster->SetHardware(haPeak_CAN_USB);
    CANopenMaster->Reset();
    StatusPanel0->setText(QStringLiteral("K 4400.0 interface box"));
    Timeout->start();
  } catch (...) {
    ShowErrorMessage(this,
                     QStringLiteral("No K4400.0 interface box or K 4410.x pc interface found!"));
    close();
  }
}

void TFormMain::TimeoutTimer() {
  Timeout->stop();
  ShowErrorMessage(this, QStringLiteral("No RQ 730 found!"));
  close();
}

void TFormMain::CANopenMasterBOOT(TCANopenMaster* /*Sender*/, uint8_t& id) {
  Timeout->stop();  // a set-up that takes longer than the time-out never triggers it
  if (RQ730Id != 0 && id != RQ730Id) {
    ShowErrorMessage(this, QStringLiteral("More than one RQ 730 found!"));
    close();
    return;
  }
  if (RQ730Id == 0) {
    try {
      SetupDevice(id);
    } catch (...) {
      // A set-up that stopped on an error is not reported; the module is not set up again.
    }
  }
  RQ730Id = id;
}

void TFormMain::SetupDevice(uint8_t /*id*/) {}
