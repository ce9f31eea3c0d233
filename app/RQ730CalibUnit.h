// TFormMain: the program's only window. It finds a CAN interface, resets the CANopen network,
// waits at most 2000 ms for exactly one RQ 730 module to boot and hands that module to the
// device set-up.
#pragma once

#include <QWidget>
#include <cstdint>
#include <memory>

#include "CANopenMaster.h"
#include "CPort.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QStatusBar;
class QTimer;

class TFormMain : public QWidget {
  Q_OBJECT

 public:
  explicit TFormMain(QWidget* parent = nullptr);
  ~TFormMain() override;

  // Components of the window.
  QLabel* PanelWeight;
  QPushButton* ButtonZero;
  QPushButton* ButtonInfo;
  QGroupBox* GroupBoxCom;
  QComboBox* ComboBoxCom;
  QStatusBar* StatusBar;
  QLabel* StatusPanel0;  // the status bar's one panel
  TCANopenMaster* CANopenMaster;
  QTimer* Timeout;
  std::unique_ptr<TComPort> ComPort;

  // Handlers.
  void FormShow();
  void WMStart();
  void FindInterface();
  void TimeoutTimer();
  void CANopenMasterBOOT(TCANopenMaster* Sender, uint8_t& id);
  void CANopenMasterPDOrx(TCANopenMaster* Sender, uint8_t& id, uint8_t& num);
  void ButtonZeroClick();
  void ButtonInfoClick();
  void ComboBoxComChange();

  // The start message the window posts to itself when it is shown (WM_USER + 1).
  static const int WM_START;

 protected:
  void showEvent(QShowEvent* event) override;
  void customEvent(QEvent* event) override;

 private:
  friend struct TFormMainProbe;  // tests read the private fields

  void SetupDevice(uint8_t id);
  // Shows text in the panel at the given font size in points and alignment; a text wider than
  // the panel at that size (a long weight, or a fall-back font wider than Arial) gets the
  // largest size at which it fits, so that no digit is ever cut off.
  void SetPanelText(const QString& text, int points, Qt::Alignment alignment);
  // Relays a displayed weight to the serial port, when one is chosen.
  void SendWeightTelegram(float weight);

  // Shared by the front end. The five value fields are PDO targets that the driver fills with
  // the module's raw little-endian bytes, so each has exactly the module object's width.
  bool WeightFound = false;
  float WeightUnrounded = 0.0F;
  int16_t Weight = 0;
  uint16_t SignatureWeight = 0;
  uint8_t ZeroIndication = 0;
  uint16_t SignatureZeroIndication = 0;
  uint8_t RQ730Id = 0;

  static_assert(sizeof(float) == 4, "WeightUnrounded holds a 4-byte IEEE 754 value");
};
