#include "monitor_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <exception>
#include <string>

#include "CANopenException.h"
#include "CANopenStateTexts.h"
#include "ExceptionReport.h"
#include "cia301/cob_id.h"
#include "cia301/objects.h"
#include "drivers/canopen.h"

namespace can_monitor {
namespace {

struct NmtCommand {
  uint16_t state;
  const char* label;
};
constexpr std::array<NmtCommand, 5> kNmtCommands = {{
    {KCO_NMT_START, "Start"},
    {KCO_NMT_STOP, "Stop"},
    {KCO_NMT_PREOPERATIONAL, "Pre-operational"},
    {KCO_NMT_RESET_NODE, "Reset node"},
    {KCO_NMT_RESET_COMMUNICATION, "Reset communication"},
}};

struct SdoType {
  uint16_t datatype;
  const char* label;
  uint64_t maximum;  // largest value a write takes; 0: not writable
};
constexpr std::array<SdoType, 4> kSdoTypes = {{
    {KCO_TYPE_U8, "u8", 0xFF},
    {KCO_TYPE_U16, "u16", 0xFFFF},
    {KCO_TYPE_U32, "u32", 0xFFFFFFFF},
    {KCO_TYPE_TEXT, "text", 0},
}};

QSpinBox* spinBox(int low, int high, int value, const char* name, QWidget* parent) {
  auto* box = new QSpinBox(parent);
  box->setRange(low, high);
  box->setValue(value);
  box->setObjectName(name);
  return box;
}

// A node field; 0 (when allowed) means every node.
QSpinBox* nodeBox(bool allowAll, int value, const char* name, QWidget* parent) {
  QSpinBox* box =
      spinBox(allowAll ? 0 : cia301::kFirstNodeId, cia301::kLastNodeId, value, name, parent);
  if (allowAll) box->setSpecialValueText("all");
  return box;
}

QPushButton* button(const char* text, const char* name, QWidget* parent) {
  auto* b = new QPushButton(text, parent);
  b->setObjectName(name);
  return b;
}

QString hex(uint32_t value, int digits) {
  return "0x" + QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
}

// The master's text for a state code, or the code itself when it has none.
QString stateText(const char* text, uint16_t code) {
  return text != nullptr ? QString(text) : hex(code, 4);
}

QTableWidget* statisticsTable(const char* name, QWidget* parent) {
  auto* table = new QTableWidget(parent);
  table->setObjectName(name);
  table->setSelectionMode(QAbstractItemView::ContiguousSelection);
  table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
  return table;
}

}  // namespace

MonitorWindow::MonitorWindow(Options options, QWidget* parent)
    : QMainWindow(parent),
      options_(std::move(options)),
      master_(std::make_unique<TCANopenMaster>()),
      pdoData_(std::make_unique<std::array<std::array<std::array<uint8_t, 64>, 4>, 128>>()) {
  setWindowTitle("CANopen network monitor");

  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  auto* controls = new QGridLayout();
  controls->addWidget(buildNetworkGroup(), 0, 0);
  controls->addWidget(buildNmtGroup(), 0, 1);
  controls->addWidget(buildPdoGroup(), 0, 2);
  controls->addWidget(buildSdoGroup(), 0, 3);
  controls->addWidget(buildServicesGroup(), 1, 0, 1, 4);
  layout->addLayout(controls);

  auto* splitter = new QSplitter(Qt::Horizontal, central);
  auto* left = new QSplitter(Qt::Vertical, splitter);
  networkTable_ = statisticsTable("statistics1", left);
  networkTable_->setMinimumWidth(356);
  log_ = new QPlainTextEdit(left);
  log_->setObjectName("log");
  log_->setReadOnly(true);
  log_->setMaximumBlockCount(1000);
  left->addWidget(networkTable_);
  left->addWidget(log_);
  left->setStretchFactor(0, 0);
  left->setStretchFactor(1, 1);
  nodeTable_ = statisticsTable("statistics2", splitter);
  splitter->addWidget(left);
  splitter->addWidget(nodeTable_);
  splitter->setStretchFactor(0, 0);
  splitter->setStretchFactor(1, 1);
  layout->addWidget(splitter, 1);
  setCentralWidget(central);
  statusBar()->showMessage("Not started. Choose the interface and press Reset.");
  resize(1000, 760);

  master_->SetStatistics1(networkTable_);
  master_->SetStatistics2(nodeTable_);
  connectEvents();
  SetExceptionReporter([this](const std::string& message) {
    showError("Network event: " + QString::fromStdString(message));
  });

  if (options_.reset) QTimer::singleShot(0, this, [this] { resetNetwork(); });
}

MonitorWindow::~MonitorWindow() {
  master_.reset();  // stops the pump before the window's widgets go
  SetExceptionReporter(nullptr);
}

QString MonitorWindow::statusText() const { return statusBar()->currentMessage(); }

QWidget* MonitorWindow::buildNetworkGroup() {
  auto* group = new QGroupBox("Network", this);
  auto* grid = new QGridLayout(group);
  hardware_ = new QComboBox(group);
  hardware_->setObjectName("hardware");
  for (const HardwareKind& kind : hardwareKinds()) {
    hardware_->addItem(kind.label, static_cast<int>(kind.hardware));
    if (kind.hardware == options_.hardware) hardware_->setCurrentIndex(hardware_->count() - 1);
  }
  bitrate_ = new QComboBox(group);
  bitrate_->setObjectName("bitrate");
  for (const auto& [rate, perSecond] : bitrates()) {
    bitrate_->addItem(QStringLiteral("%1 kbit/s").arg(perSecond / 1000), static_cast<int>(rate));
    if (rate == options_.bitrate) bitrate_->setCurrentIndex(bitrate_->count() - 1);
  }
  extended_ = new QCheckBox("29-bit identifiers", group);
  extended_->setChecked(options_.extendedId);
  QPushButton* reset = button("Reset", "reset", group);
  QPushButton* halt = button("Halt", "halt", group);
  grid->addWidget(hardware_, 0, 0, 1, 2);
  grid->addWidget(bitrate_, 1, 0);
  grid->addWidget(extended_, 1, 1);
  grid->addWidget(reset, 2, 0);
  grid->addWidget(halt, 2, 1);
  extended_->setText("29-bit ids");
  connect(reset, &QPushButton::clicked, this, [this] { resetNetwork(); });
  connect(halt, &QPushButton::clicked, this, [this] {
    if (attempt("Halt", [this] { master_->Halt(); })) {
      showResult("Halted: no events are handled until the next Reset.");
    }
  });
  return group;
}

QWidget* MonitorWindow::buildNmtGroup() {
  auto* group = new QGroupBox("NMT", this);
  auto* grid = new QGridLayout(group);
  nmtNode_ = nodeBox(true, 0, "nmtNode", group);
  nmtCommand_ = new QComboBox(group);
  nmtCommand_->setObjectName("nmtCommand");
  for (const NmtCommand& command : kNmtCommands) nmtCommand_->addItem(command.label, command.state);
  QPushButton* send = button("Send", "nmtSend", group);
  grid->addWidget(new QLabel("Node", group), 0, 0);
  grid->addWidget(nmtNode_, 0, 1);
  grid->addWidget(nmtCommand_, 1, 0, 1, 2);
  grid->addWidget(send, 2, 1);
  connect(send, &QPushButton::clicked, this, [this] { sendNmt(); });
  return group;
}

QWidget* MonitorWindow::buildServicesGroup() {
  auto* group = new QGroupBox("Supervision and producers", this);
  auto* grid = new QGridLayout(group);
  int row = 0;
  const auto onOff = [&](const char* name, const std::function<void()>& on,
                         const std::function<void()>& off) {
    QPushButton* onButton = button("On", (std::string(name) + "On").c_str(), group);
    QPushButton* offButton = button("Off", (std::string(name) + "Off").c_str(), group);
    grid->addWidget(onButton, row, 7);
    grid->addWidget(offButton, row, 8);
    connect(onButton, &QPushButton::clicked, this, on);
    connect(offButton, &QPushButton::clicked, this, off);
    ++row;
  };

  heartbeatNode_ = nodeBox(true, 1, "heartbeatNode", group);
  heartbeatTime_ = spinBox(1, 65535, 1000, "heartbeatTime", group);
  heartbeatProducer_ = new QCheckBox("node sends every half (0x1017)", group);
  heartbeatProducer_->setChecked(true);
  grid->addWidget(new QLabel("Heartbeat: node", group), row, 0);
  grid->addWidget(heartbeatNode_, row, 1);
  grid->addWidget(new QLabel("time [ms]", group), row, 2);
  grid->addWidget(heartbeatTime_, row, 3);
  grid->addWidget(heartbeatProducer_, row, 4, 1, 3);
  onOff(
      "heartbeat",
      [this] {
        const auto node = static_cast<uint8_t>(heartbeatNode_->value());
        const auto time = static_cast<uint16_t>(heartbeatTime_->value());
        if (attempt("Heartbeat on", [&] {
              if (node != 0 && heartbeatProducer_->isChecked()) {
                uint16_t producer = static_cast<uint16_t>(time / 2 > 0 ? time / 2 : 1);
                master_->SDOdownload(node,
                                     {cia301::kHeartbeatTimeObject, 0, KCO_TYPE_U16, &producer});
              }
              master_->HEARTBEATon(node, time);
            })) {
          showResult(QStringLiteral("Heartbeat supervision on (%1 ms).").arg(time));
        }
      },
      [this] {
        const auto node = static_cast<uint8_t>(heartbeatNode_->value());
        if (attempt("Heartbeat off", [&] {
              master_->HEARTBEAToff(node);
              if (node != 0 && heartbeatProducer_->isChecked()) {
                uint16_t producer = 0;
                master_->SDOdownload(node,
                                     {cia301::kHeartbeatTimeObject, 0, KCO_TYPE_U16, &producer});
              }
            })) {
          showResult("Heartbeat supervision off.");
        }
      });

  guardNode_ = nodeBox(true, 1, "guardNode", group);
  guardTime_ = spinBox(1, 65535, 100, "guardTime", group);
  lifeTimeFactor_ = spinBox(1, 255, 3, "lifeTimeFactor", group);
  grid->addWidget(new QLabel("Node guarding: node", group), row, 0);
  grid->addWidget(guardNode_, row, 1);
  grid->addWidget(new QLabel("guard time [ms]", group), row, 2);
  grid->addWidget(guardTime_, row, 3);
  grid->addWidget(new QLabel("life time factor", group), row, 4);
  grid->addWidget(lifeTimeFactor_, row, 5);
  onOff(
      "guard",
      [this] {
        if (attempt("Node guarding on", [this] {
              master_->NODEGUARDon(static_cast<uint8_t>(guardNode_->value()),
                                   static_cast<uint16_t>(guardTime_->value()),
                                   static_cast<uint8_t>(lifeTimeFactor_->value()));
            })) {
          showResult("Node guarding on.");
        }
      },
      [this] {
        if (attempt("Node guarding off",
                    [this] { master_->NODEGUARDoff(static_cast<uint8_t>(guardNode_->value())); })) {
          showResult("Node guarding off.");
        }
      });

  syncPeriod_ = spinBox(1, 65535, 100, "syncPeriod", group);
  grid->addWidget(new QLabel("SYNC: period [ms]", group), row, 0);
  grid->addWidget(syncPeriod_, row, 1);
  timePeriod_ = spinBox(1, 65535, 1000, "timePeriod", group);
  grid->addWidget(new QLabel("TIME: period [ms]", group), row, 2);
  grid->addWidget(timePeriod_, row, 3);
  QPushButton* syncOn = button("SYNC on", "syncOn", group);
  QPushButton* syncOff = button("SYNC off", "syncOff", group);
  QPushButton* timeOn = button("TIME on", "timeOn", group);
  QPushButton* timeOff = button("TIME off", "timeOff", group);
  grid->addWidget(syncOn, row, 4);
  grid->addWidget(syncOff, row, 5);
  grid->addWidget(timeOn, row, 7);
  grid->addWidget(timeOff, row, 8);
  connect(syncOn, &QPushButton::clicked, this, [this] {
    if (attempt("SYNC on",
                [this] { master_->SYNCon(static_cast<uint16_t>(syncPeriod_->value())); })) {
      showResult("SYNC on.");
    }
  });
  connect(syncOff, &QPushButton::clicked, this, [this] {
    if (attempt("SYNC off", [this] { master_->SYNCoff(); })) showResult("SYNC off.");
  });
  connect(timeOn, &QPushButton::clicked, this, [this] {
    if (attempt("TIME on",
                [this] { master_->TIMESTAMPon(static_cast<uint16_t>(timePeriod_->value())); })) {
      showResult("TIME on.");
    }
  });
  connect(timeOff, &QPushButton::clicked, this, [this] {
    if (attempt("TIME off", [this] { master_->TIMESTAMPoff(); })) showResult("TIME off.");
  });
  return group;
}

QWidget* MonitorWindow::buildPdoGroup() {
  auto* group = new QGroupBox("Receive PDO", this);
  auto* grid = new QGridLayout(group);
  pdoNode_ = nodeBox(false, 1, "pdoNode", group);
  pdoNum_ = spinBox(1, 4, 1, "pdoNum", group);
  QPushButton* receive = button("Receive", "pdoReceive", group);
  QPushButton* stop = button("Stop", "pdoStop", group);
  grid->addWidget(new QLabel("Node", group), 0, 0);
  grid->addWidget(pdoNode_, 0, 1);
  grid->addWidget(new QLabel("PDO", group), 1, 0);
  grid->addWidget(pdoNum_, 1, 1);
  grid->addWidget(receive, 2, 0);
  grid->addWidget(stop, 2, 1);
  connect(receive, &QPushButton::clicked, this, [this] {
    receivePdo(static_cast<uint8_t>(pdoNode_->value()), static_cast<uint8_t>(pdoNum_->value()));
  });
  connect(stop, &QPushButton::clicked, this, [this] {
    const auto node = static_cast<uint8_t>(pdoNode_->value());
    const auto num = static_cast<uint8_t>(pdoNum_->value());
    if (attempt("Stop PDO", [&] { master_->RxPDOuninstall(node, num, false); })) {
      showResult(
          QStringLiteral("Transmit PDO %1 of node %2 no longer received.").arg(num).arg(node));
    }
  });
  return group;
}

QWidget* MonitorWindow::buildSdoGroup() {
  auto* group = new QGroupBox("Object (SDO)", this);
  auto* grid = new QGridLayout(group);
  sdoNode_ = nodeBox(false, 1, "sdoNode", group);
  sdoIndex_ = new QLineEdit("1008", group);
  sdoIndex_->setObjectName("sdoIndex");
  sdoIndex_->setMaxLength(6);
  sdoIndex_->setToolTip("object index, hexadecimal");
  sdoSubindex_ = spinBox(0, 255, 0, "sdoSubindex", group);
  sdoSubindex_->setDisplayIntegerBase(16);
  sdoType_ = new QComboBox(group);
  sdoType_->setObjectName("sdoType");
  for (const SdoType& type : kSdoTypes) sdoType_->addItem(type.label, type.datatype);
  sdoType_->setCurrentIndex(3);
  sdoValue_ = new QLineEdit(group);
  sdoValue_->setObjectName("sdoValue");
  sdoValue_->setToolTip("value read, or value to write (decimal or 0x hexadecimal)");
  QPushButton* read = button("Read", "sdoRead", group);
  QPushButton* write = button("Write", "sdoWrite", group);
  grid->addWidget(new QLabel("Node", group), 0, 0);
  grid->addWidget(sdoNode_, 0, 1);
  grid->addWidget(sdoType_, 0, 2, 1, 2);
  grid->addWidget(new QLabel("Object", group), 1, 0);
  grid->addWidget(sdoIndex_, 1, 1, 1, 2);
  grid->addWidget(sdoSubindex_, 1, 3);
  grid->addWidget(sdoValue_, 2, 0, 1, 4);
  grid->addWidget(read, 3, 0, 1, 2);
  grid->addWidget(write, 3, 2, 1, 2);
  sdoIndex_->setToolTip("object index and sub-index, hexadecimal");
  sdoValue_->setPlaceholderText("value");
  connect(read, &QPushButton::clicked, this, [this] { readObject(); });
  connect(write, &QPushButton::clicked, this, [this] { writeObject(); });
  connect(sdoType_, &QComboBox::currentIndexChanged, this, [write](int index) {
    write->setEnabled(index >= 0 && kSdoTypes[static_cast<size_t>(index)].maximum != 0);
  });
  write->setEnabled(false);
  return group;
}

void MonitorWindow::connectEvents() {
  master_->OnBOOT = [this](TCANopenMaster*, uint8_t& id) {
    log(QStringLiteral("node %1 booted").arg(id));
    const uint8_t node = id;
    // The follow-up transfers run after the pump's dispatch, not inside it.
    QTimer::singleShot(0, this, [this, node] { afterBoot(node); });
  };
  master_->OnEMCY = [this](TCANopenMaster*, uint8_t& id, uint8_t& err) {
    log(QStringLiteral("node %1: emergency, error register %2").arg(id).arg(hex(err, 2)));
  };
  master_->OnHEARTBEAT = [this](TCANopenMaster*, uint8_t& id, uint16_t& state, uint16_t& nmt) {
    log(QStringLiteral("node %1: heartbeat %2, NMT %3")
            .arg(id)
            .arg(stateText(HeartbeatStateText(state), state),
                 stateText(HeartbeatNmtText(nmt), nmt)));
  };
  master_->OnNODEGUARD = [this](TCANopenMaster*, uint8_t& id, uint16_t& state, uint16_t& nmt) {
    log(QStringLiteral("node %1: node guarding %2, NMT %3")
            .arg(id)
            .arg(stateText(NodeguardStateText(state), state),
                 stateText(NodeguardNmtText(nmt), nmt)));
  };
}

bool MonitorWindow::attempt(const QString& what, const std::function<void()>& action) {
  try {
    action();
    return true;
  } catch (const std::exception& e) {
    showError(what + ": " + QString::fromStdString(e.what()));
  } catch (...) {
    showError(what + ": unknown error");
  }
  return false;
}

void MonitorWindow::showResult(const QString& text) {
  statusBar()->showMessage(text);
  log(text);
}

void MonitorWindow::showError(const QString& text) {
  statusBar()->showMessage(text);
  log(text);
}

void MonitorWindow::log(const QString& text) {
  log_->appendPlainText(QDateTime::currentDateTime().toString("HH:mm:ss.zzz ") + text);
}

void MonitorWindow::resetNetwork() {
  master_->SetHardware(static_cast<TCANopenHardware>(hardware_->currentData().toInt()));
  master_->SetBitrate(static_cast<TCANopenBitrate>(bitrate_->currentData().toInt()));
  master_->SetExtendedId(extended_->isChecked());
  if (attempt("Reset", [this] { master_->Reset(); })) {
    const QTableWidgetItem* name = networkTable_->item(st1Hardware, 1);
    showResult("Network reset on " + (name != nullptr ? name->text() : QString("?")) + ".");
  }
}

void MonitorWindow::sendNmt() {
  const auto node = static_cast<uint8_t>(nmtNode_->value());
  const auto state = static_cast<uint16_t>(nmtCommand_->currentData().toUInt());
  if (attempt("NMT", [&] { master_->NMT(node, state); })) {
    showResult(nmtCommand_->currentText() + " sent to " +
               (node == 0 ? QString("all nodes") : QStringLiteral("node %1").arg(node)) + ".");
  }
}

void MonitorWindow::readObject() {
  const auto node = static_cast<uint8_t>(sdoNode_->value());
  bool ok = false;
  const uint32_t index = sdoIndex_->text().trimmed().remove("0x").toUInt(&ok, 16);
  if (!ok || index > 0xFFFF) return showError("Read: the index must be 0..FFFF (hexadecimal).");
  const auto subindex = static_cast<uint8_t>(sdoSubindex_->value());
  const SdoType& type = kSdoTypes[static_cast<size_t>(sdoType_->currentIndex())];
  const QString object = QStringLiteral("%1/%2").arg(hex(index, 4), hex(subindex, 2));
  QString shown;
  const bool read = attempt("Read " + object, [&] {
    if (type.datatype == KCO_TYPE_TEXT) {
      const char* text = nullptr;
      master_->SDOupload(node, {static_cast<uint16_t>(index), subindex, type.datatype, &text});
      shown = QString::fromUtf8(text != nullptr ? text : "");
    } else {
      uint32_t value = 0;  // the driver writes only the type's bytes (little-endian host)
      master_->SDOupload(node, {static_cast<uint16_t>(index), subindex, type.datatype, &value});
      shown = QString::number(value);
      sdoValue_->setToolTip(hex(value, type.datatype == KCO_TYPE_U8    ? 2
                                       : type.datatype == KCO_TYPE_U16 ? 4
                                                                       : 8));
    }
  });
  if (read) {
    sdoValue_->setText(shown);
    showResult(QStringLiteral("Node %1, %2 = %3").arg(node).arg(object, shown));
  }
}

void MonitorWindow::writeObject() {
  const auto node = static_cast<uint8_t>(sdoNode_->value());
  bool ok = false;
  const uint32_t index = sdoIndex_->text().trimmed().remove("0x").toUInt(&ok, 16);
  if (!ok || index > 0xFFFF) return showError("Write: the index must be 0..FFFF (hexadecimal).");
  const auto subindex = static_cast<uint8_t>(sdoSubindex_->value());
  const SdoType& type = kSdoTypes[static_cast<size_t>(sdoType_->currentIndex())];
  if (type.maximum == 0) return showError("Write: text objects can only be read.");
  const qulonglong value = sdoValue_->text().trimmed().toULongLong(&ok, 0);
  if (!ok || value > type.maximum) {
    return showError(QStringLiteral("Write: the value must be a number 0..%1 for %2.")
                         .arg(type.maximum)
                         .arg(type.label));
  }
  const QString object = QStringLiteral("%1/%2").arg(hex(index, 4), hex(subindex, 2));
  uint8_t u8 = static_cast<uint8_t>(value);
  uint16_t u16 = static_cast<uint16_t>(value);
  uint32_t u32 = static_cast<uint32_t>(value);
  void* variable = type.datatype == KCO_TYPE_U8    ? static_cast<void*>(&u8)
                   : type.datatype == KCO_TYPE_U16 ? static_cast<void*>(&u16)
                                                   : static_cast<void*>(&u32);
  if (attempt("Write " + object, [&] {
        master_->SDOdownload(node,
                             {static_cast<uint16_t>(index), subindex, type.datatype, variable});
      })) {
    showResult(QStringLiteral("Node %1, %2 := %3").arg(node).arg(object).arg(value));
  }
}

void MonitorWindow::receivePdo(uint8_t node, uint8_t num) {
  const bool done = attempt(QStringLiteral("Receive PDO %1 of node %2").arg(num).arg(node), [&] {
    const auto mappingIndex = static_cast<uint16_t>(cia301::kTpdoMappingBase + num - 1);
    const auto communicationIndex = static_cast<uint16_t>(cia301::kTpdoCommunicationBase + num - 1);
    uint8_t count = 0;
    master_->SDOupload(node, {mappingIndex, 0, KCO_TYPE_U8, &count});
    if (count > cia301::kMaxPdoMappedObjects) {
      throw std::runtime_error("the node maps " + std::to_string(count) + " objects, at most " +
                               std::to_string(cia301::kMaxPdoMappedObjects) + " are possible");
    }
    std::array<uint8_t, 64>& bytes = (*pdoData_)[node][num - 1U];
    TPdoMappingParam mapping{};
    size_t offset = 0;
    for (uint8_t k = 1; k <= count; ++k) {
      uint32_t entry = 0;
      master_->SDOupload(node, {mappingIndex, k, KCO_TYPE_U32, &entry});
      const unsigned bits = cia301::mappedBits(entry);
      if (bits == 0 || bits % 8 != 0 || bits > cia301::kMaxPdoBits) {
        throw std::runtime_error("mapping entry " + std::to_string(k) + " has " +
                                 std::to_string(bits) + " bits; whole bytes are needed");
      }
      mapping[k - 1U] = {cia301::mappedIndex(entry), cia301::mappedSubIndex(entry),
                         static_cast<uint8_t>(bits / 8), bytes.data() + offset};
      offset += bits / 8;
    }
    uint8_t transmissionType = 0;
    master_->SDOupload(node, {communicationIndex, cia301::kPdoTransmissionTypeSub, KCO_TYPE_U8,
                              &transmissionType});
    master_->RxPDOinstall(node, num, mapping, {transmissionType, 0, 0}, false);
  });
  if (done) showResult(QStringLiteral("Receiving transmit PDO %1 of node %2.").arg(num).arg(node));
}

void MonitorWindow::afterBoot(uint8_t node) {
  for (const Options::Heartbeat& heartbeat : options_.heartbeats) {
    if (heartbeat.node != node) continue;
    attempt(QStringLiteral("Heartbeat of node %1").arg(node), [&] {
      uint16_t producer = static_cast<uint16_t>(heartbeat.time / 2 > 0 ? heartbeat.time / 2 : 1);
      master_->SDOdownload(node, {cia301::kHeartbeatTimeObject, 0, KCO_TYPE_U16, &producer});
      master_->HEARTBEATon(node, heartbeat.time);
    });
  }
  for (const Options::Receive& receive : options_.receives) {
    if (receive.node == node) receivePdo(node, receive.num);
  }
  for (const uint8_t start : options_.starts) {
    if (start == node) attempt("NMT start", [&] { master_->NMT(node, KCO_NMT_START); });
  }
}

}  // namespace can_monitor
