// The network monitor end to end: the real driver library and the simulated module over the
// loopback bus, operated through the window's controls as a user does.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <gtest/gtest.h>
#include <cstdlib>

#include "monitor_window.h"
#include "sim_runner.h"
#include "spin.h"

namespace {

std::string cell(const QTableWidget* table, int row, int column) {
  const QTableWidgetItem* item = table->item(row, column);
  return item != nullptr ? item->text().toStdString() : "<none>";
}

long long count(const QTableWidget* table, int row, int column) {
  const std::string text = cell(table, row, column);
  return text.empty() || text == "<none>" ? 0 : std::stoll(text);
}

class MonitorOnSimulator : public ::testing::Test {
 protected:
  void SetUp() override {
    static int buses = 0;
    const std::string bus = "loopback://monitor-sim-" + std::to_string(++buses);
    setenv("CANOPEN32_CHANNELS", ("9=" + bus).c_str(), 1);
    setenv("CANOPEN32_SDO_TIMEOUT_MS", "300", 1);
    rq730sim::Options options;
    options.warmup = std::chrono::milliseconds(0);
    sim = std::make_unique<SimRunner>(bus, options);
    can_monitor::Options monitorOptions;
    monitorOptions.hardware = haTovald_CAN_USB;
    window = std::make_unique<can_monitor::MonitorWindow>(monitorOptions);
    window->show();
  }

  void TearDown() override {
    window.reset();
    sim.reset();
  }

  void click(const char* name) {
    auto* button = window->findChild<QPushButton*>(name);
    ASSERT_NE(button, nullptr) << name;
    button->click();
  }

  void writeObject(const char* index, int subindex, int type, const char* value) {
    window->findChild<QLineEdit*>("sdoIndex")->setText(index);
    window->findChild<QSpinBox*>("sdoSubindex")->setValue(subindex);
    window->findChild<QComboBox*>("sdoType")->setCurrentIndex(type);
    window->findChild<QLineEdit*>("sdoValue")->setText(value);
    click("sdoWrite");
  }

  std::unique_ptr<SimRunner> sim;
  std::unique_ptr<can_monitor::MonitorWindow> window;
};

}  // namespace

TEST_F(MonitorOnSimulator, TablesShowTheNetworkTheModuleItsPdosAndItsHeartbeat) {
  const QTableWidget* network = window->networkTable();
  const QTableWidget* nodes = window->nodeTable();
  click("reset");
  EXPECT_EQ(cell(network, st1Hardware, 1), "TOVALD CAN");
  EXPECT_EQ(cell(network, st1Bitrate, 1), "500000");
  EXPECT_EQ(cell(network, st1ExtendedId, 1), "no");

  // The module answers the reset with its boot-up; the master reads its device name.
  ASSERT_TRUE(spinUntil([&] { return cell(nodes, st2Name, 1) == "RQ 730 weighing module"; }))
      << window->statusText().toStdString();
  EXPECT_EQ(cell(nodes, st2Id, 1), "1");
  EXPECT_EQ(cell(nodes, st2NmtState, 1), "preoperational");

  // Transmit PDO 1 every 20 ms, received by the master, the node started.
  writeObject("1800", 5, 1, "20");
  click("pdoReceive");
  EXPECT_EQ(cell(nodes, st2RxPdo1Count, 1), "0") << window->statusText().toStdString();
  click("nmtSend");  // the default command: start, all nodes
  EXPECT_EQ(cell(nodes, st2NmtState, 1), "operational");
  ASSERT_TRUE(spinUntil([&] { return count(nodes, st2RxPdo1Count, 1) >= 3; }))
      << window->statusText().toStdString();

  window->findChild<QSpinBox*>("heartbeatTime")->setValue(200);
  click("heartbeatOn");
  EXPECT_EQ(cell(nodes, st2HeartbeatTime, 1), "200");
  ASSERT_TRUE(spinUntil([&] { return cell(nodes, st2HeartbeatState, 1) == "running"; }))
      << window->statusText().toStdString();
  EXPECT_EQ(cell(nodes, st2HeartbeatNmtState, 1), "operational");
}
