// The network monitor's window: a TCANopenMaster with both statistics tables attached, the
// controls to start the network, send NMT commands, switch heartbeat, node guarding, SYNC and
// TIME, receive a node's transmit PDOs and read or write one object by SDO, and a log of the
// network's events. Every error lands in the status line and the log; none leaves a slot.
#pragma once

#include <QMainWindow>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>

#include "CANopenMaster.h"
#include "monitor_options.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QSpinBox;
class QTableWidget;

namespace can_monitor {

class MonitorWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit MonitorWindow(Options options = {}, QWidget* parent = nullptr);
  ~MonitorWindow() override;

  TCANopenMaster& master() { return *master_; }
  QTableWidget* networkTable() const { return networkTable_; }
  QTableWidget* nodeTable() const { return nodeTable_; }
  // The status line: the outcome of the last operator action or the last error.
  QString statusText() const;

  // The operator actions behind the buttons, with the values in the window's fields.
  void resetNetwork();
  void sendNmt();
  void readObject();
  void writeObject();

 private:
  QWidget* buildNetworkGroup();
  QWidget* buildNmtGroup();
  QWidget* buildServicesGroup();
  QWidget* buildPdoGroup();
  QWidget* buildSdoGroup();
  void connectEvents();

  // Runs one action; an exception becomes a status line and log entry "what: message".
  bool attempt(const QString& what, const std::function<void()>& action);
  void showResult(const QString& text);
  void showError(const QString& text);
  void log(const QString& text);

  // Reads the mapping of the node's transmit PDO `num` from the node and installs the PDO in
  // the driver with it (checked against the node, nothing written), so the tables count it.
  void receivePdo(uint8_t node, uint8_t num);
  // What the command line asks for once `node` has booted.
  void afterBoot(uint8_t node);

  Options options_;
  std::unique_ptr<TCANopenMaster> master_;
  // The variables that received PDOs are copied into, per node, PDO and mapped byte; the driver
  // keeps their addresses while a PDO is installed.
  std::unique_ptr<std::array<std::array<std::array<uint8_t, 64>, 4>, 128>> pdoData_;

  QTableWidget* networkTable_ = nullptr;
  QTableWidget* nodeTable_ = nullptr;
  QPlainTextEdit* log_ = nullptr;
  QComboBox* hardware_ = nullptr;
  QComboBox* bitrate_ = nullptr;
  QCheckBox* extended_ = nullptr;
  QSpinBox* nmtNode_ = nullptr;
  QComboBox* nmtCommand_ = nullptr;
  QSpinBox* heartbeatNode_ = nullptr;
  QSpinBox* heartbeatTime_ = nullptr;
  QCheckBox* heartbeatProducer_ = nullptr;
  QSpinBox* guardNode_ = nullptr;
  QSpinBox* guardTime_ = nullptr;
  QSpinBox* lifeTimeFactor_ = nullptr;
  QSpinBox* syncPeriod_ = nullptr;
  QSpinBox* timePeriod_ = nullptr;
  QSpinBox* pdoNode_ = nullptr;
  QSpinBox* pdoNum_ = nullptr;
  QSpinBox* sdoNode_ = nullptr;
  QLineEdit* sdoIndex_ = nullptr;
  QSpinBox* sdoSubindex_ = nullptr;
  QComboBox* sdoType_ = nullptr;
  QLineEdit* sdoValue_ = nullptr;
};

}  // namespace can_monitor
