#include "RQ730CalibUnit.h"

#include <QClipboard>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>
#include <cmath>

#include "ErrorMessage.h"
#include "ExceptionReport.h"
#include "WeightTelegram.h"
#include "WeightText.h"
#include "drivers/LEGALRQ730.h"
#include "drivers/canopen.h"

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

// Font sizes in points at the design's 96 dots per inch (40 pt is the design's 53 pixels).
int PointsToPixels(int points) { return (points * 96 + 36) / 72; }

QFont PanelFont() {
  QFont font;
  font.setFamilies(
      {QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
  font.setPixelSize(PointsToPixels(40));
  font.setBold(true);
  return font;
}

// One parameter of the module, read by SDO into a variable of its width.
template <typename T>
T ReadParameter(TCANopenMaster& master, uint8_t id, uint16_t index, uint8_t subindex = 0) {
  static_assert(sizeof(T) == 1 || sizeof(T) == 2 || sizeof(T) == 4);
  constexpr uint16_t datatype = sizeof(T) == 1   ? KCO_TYPE_U8
                                : sizeof(T) == 2 ? KCO_TYPE_U16
                                                 : KCO_TYPE_U32;
  T value = 0;
  master.SDOupload(id, {index, subindex, datatype, &value});
  return value;
}

// Runs an operator command; what it raises goes to the application's exception report, as
// nothing may leave a Qt slot.
template <typename TCommand>
void Reported(TCommand&& command) {
  try {
    command();
  } catch (...) {
    ReportException(std::current_exception());
  }
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
  connect(ButtonZero, &QPushButton::clicked, this,
          [this] { Reported([this] { ButtonZeroClick(); }); });
  connect(ButtonInfo, &QPushButton::clicked, this,
          [this] { Reported([this] { ButtonInfoClick(); }); });

  GroupBoxCom = new QGroupBox(QStringLiteral("serial port"), this);
  GroupBoxCom->setGeometry(416, 80, 105, 49);
  ComboBoxCom = new QComboBox(GroupBoxCom);
  ComboBoxCom->setGeometry(8, 18, 89, 21);
  ComboBoxCom->setEditable(false);
  ComboBoxCom->setMaxVisibleItems(9);
  // Desktop styles drop a selection-only list down as a menu over the whole screen and ignore
  // the visible rows; this keeps the scrolling list of 9 rows.
  ComboBoxCom->setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
  ComboBoxCom->addItem(QStringLiteral("none"));
  for (int n = 1; n <= 255; ++n) ComboBoxCom->addItem(QStringLiteral("COM%1").arg(n));
  // Only the operator's choice runs the handler, also when the same port is chosen again.
  connect(ComboBoxCom, &QComboBox::activated, this, [this] { ComboBoxComChange(); });

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
  CANopenMaster->OnPDOrx = [this](TCANopenMaster* sender, uint8_t& id, uint8_t& num) {
    CANopenMasterPDOrx(sender, id, num);
  };

  // The port's design settings; choosing a port sets the telegram's line settings.
  ComPort = std::make_unique<TComPort>();
  ComPort->SetPort("COM1");
  ComPort->SetBaudRate(br9600);
  ComPort->SetDataBits(dbEight);
  ComPort->Parity().SetBits(prNone);
  ComPort->SetStopBits(sbOneStopBit);

  Timeout = new QTimer(this);
  Timeout->setInterval(2000);
  // A coarse timer may fire up to 5 % early, turning away a module that boots in time.
  Timeout->setTimerType(Qt::PreciseTimer);
  connect(Timeout, &QTimer::timeout, this, &TFormMain::TimeoutTimer);

  // The window is drawn once off screen now, so that what its first paint loads (the style's
  // pixmaps and image plugins, the fonts' glyphs) is loaded before the interface search starts:
  // the module's boot-up, which follows the search within a millisecond, is then not held up
  // behind the first paint on screen.
  grab();
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

void TFormMain::SetupDevice(uint8_t id) {
  // The legal display opens 10 pixels left of and below the window's lower left corner; the
  // position is 16-bit, as the library takes it.
  const QRect outer = frameGeometry();
  const auto x = static_cast<int16_t>(outer.left() - 10);
  const auto y = static_cast<int16_t>(outer.top() + outer.height() + 10);
  if (LegalRQ730_Init(static_cast<uint32_t>(winId()), 0, x, y, 4, 1, 50, 0, 0, 0, 0) == 0) {
    ShowErrorMessage(this, QStringLiteral("Could not initialize software Q38!"));
    close();
    return;
  }

  CANopenMaster->NMT(id, KCO_NMT_PREOPERATIONAL);
  for (uint8_t num = 1; num <= 4; ++num) {
    try {
      CANopenMaster->RxPDOuninstall(id, num, true);
    } catch (...) {
      // A module with fewer transmit PDOs refuses the others; that does not matter.
    }
  }

  TPdoMappingParam mapping{};
  mapping[0] = {0x2100, 0, 2, &Weight};
  mapping[1] = {0x2200, 0, 2, &SignatureWeight};
  CANopenMaster->RxPDOinstall(id, 1, mapping, {255, 0, 1500}, true);
  mapping = {};
  mapping[0] = {0x2101, 0, 1, &ZeroIndication};
  mapping[1] = {0x2201, 0, 2, &SignatureZeroIndication};
  CANopenMaster->RxPDOinstall(id, 2, mapping, {255, 0, 1500}, true);
  mapping = {};
  mapping[0] = {0x3004, 0, 4, &WeightUnrounded};
  CANopenMaster->RxPDOinstall(id, 3, mapping, {255, 0, 500}, true);

  // Each parameter is read (a blocking SDO upload) before it is passed on.
  LegalRQ730_WriteSerialNumber(id, ReadParameter<uint32_t>(*CANopenMaster, id, 0x1018, 4));
  LegalRQ730_WriteAdjustmentCounter(id, ReadParameter<uint16_t>(*CANopenMaster, id, 0x3107));
  LegalRQ730_WriteUnit(id, ReadParameter<uint8_t>(*CANopenMaster, id, 0x3104));
  LegalRQ730_WriteCapacity(id, ReadParameter<uint16_t>(*CANopenMaster, id, 0x3106));
  LegalRQ730_WriteChecksum(id, ReadParameter<uint16_t>(*CANopenMaster, id, 0x3108));
  LegalRQ730_WriteDivision(id, ReadParameter<uint8_t>(*CANopenMaster, id, 0x3105));

  CANopenMaster->TIMESTAMPon(5000);
  CANopenMaster->NMT(id, KCO_NMT_START);
}

void TFormMain::SetPanelText(const QString& text, int points, Qt::Alignment alignment) {
  QFont font = PanelWeight->font();
  // The label's room inside its frame; with a frame it also indents its text by half an "x".
  const int room = PanelWeight->contentsRect().width() - 2 * PanelWeight->margin();
  const auto width = [&](const QFont& candidate) {
    const QFontMetrics metrics(candidate);
    return metrics.horizontalAdvance(text) + metrics.horizontalAdvance(QLatin1Char('x')) / 2;
  };
  int pixels = PointsToPixels(points);
  font.setPixelSize(pixels);
  // Glyph widths grow about in proportion to the size: one step down by the ratio, then pixel
  // by pixel for the rounding.
  if (const int wide = width(font); wide > room && room > 0) {
    pixels = std::max(1, pixels * room / wide);
    font.setPixelSize(pixels);
    while (pixels > 1 && width(font) > room) font.setPixelSize(--pixels);
  }
  PanelWeight->setFont(font);
  PanelWeight->setAlignment(alignment);
  PanelWeight->setText(text);
}

void TFormMain::CANopenMasterPDOrx(TCANopenMaster* /*Sender*/, uint8_t& id, uint8_t& num) {
  if (WeightFound) {
    if (num == 1) LegalRQ730_WriteWeight(id, SignatureWeight, Weight);
    if (num == 2) LegalRQ730_WriteZeroIndication(id, SignatureZeroIndication, ZeroIndication);
    if (num == 3) {
      const Qt::Alignment right = Qt::AlignRight | Qt::AlignVCenter;
      // A value that is no number shows dashes; the clipboard and the serial port get nothing
      // rather than a made-up number.
      if (const std::optional<QString> text = WeightText(WeightUnrounded)) {
        SetPanelText(*text + QStringLiteral(" kg"), 70, right);
        QGuiApplication::clipboard()->setText(*text);
        SendWeightTelegram(WeightUnrounded);
      } else {
        SetPanelText(QStringLiteral("---- kg"), 70, right);
      }
    }
  } else {
    SetPanelText(QStringLiteral("warm up..."), 40, Qt::AlignCenter);
  }
  // The first non-zero value ends the warm-up (a NaN compares unequal but is no weight).
  if (WeightUnrounded != 0.0F && !std::isnan(WeightUnrounded)) WeightFound = true;
}

void TFormMain::ComboBoxComChange() {
  try {
    ComPort->Close();
    if (ComboBoxCom->currentIndex() > 0) {
      ComPort->SetPort(ComboBoxCom->currentText().toStdString());
      ComPort->SetBaudRate(br4800);
      ComPort->SetDataBits(dbEight);
      ComPort->SetStopBits(sbTwoStopBits);
      ComPort->Parity().SetBits(prEven);
      ComPort->Open();
    }
  } catch (...) {
    {
      const QSignalBlocker noChangeHandler(ComboBoxCom);
      ComboBoxCom->setCurrentIndex(0);
    }
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Serial port error"),
                    QStringLiteral("The selected serial port is not available or already in use! "
                                   "Select another one!"),
                    QMessageBox::Ok, this);
    box.exec();
  }
}

void TFormMain::SendWeightTelegram(float weight) {
  if (ComboBoxCom->currentIndex() <= 0) return;
  const std::optional<uint16_t> value = TelegramValue(weight);
  if (!value) return;
  try {
    ComPort->WriteStr(WeightTelegram(*value));
  } catch (...) {
    // A port that stopped working stays chosen; the next weight tries again.
  }
}

void TFormMain::ButtonZeroClick() {
  uint8_t zero = 0;
  CANopenMaster->SDOdownload(RQ730Id, {0x2003, 0, KCO_TYPE_U8, &zero});
}

void TFormMain::ButtonInfoClick() { LegalRQ730_ShowInfo(); }
