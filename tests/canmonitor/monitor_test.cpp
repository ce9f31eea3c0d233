// The network monitor's window against the fake driver, and its command line.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <gtest/gtest.h>

#include "CANopenCallbacks.h"
#include "fake_driver.h"
#include "monitor_options.h"
#include "monitor_window.h"
#include "spin.h"

namespace {

std::string cell(const QTableWidget* table, int row, int column) {
  const QTableWidgetItem* item = table->item(row, column);
  return item != nullptr ? item->text().toStdString() : "<none>";
}

class MonitorTest : public ::testing::Test {
 protected:
  MonitorTest() {
    fake_driver::reset();
    CANopenCallbacks().ClearQueues();
  }

  void makeWindow(can_monitor::Options options = {}) {
    window = std::make_unique<can_monitor::MonitorWindow>(std::move(options));
    window->show();
  }

  void click(const char* name) {
    auto* button = window->findChild<QPushButton*>(name);
    ASSERT_NE(button, nullptr) << name;
    button->click();
  }

  template <typename T>
  T* field(const char* name) {
    T* widget = window->findChild<T*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }

  void bootNode(uint8_t id) {
    bool booted = false;
    const auto previous = window->master().OnBOOT;
    window->master().OnBOOT = [&, previous](TCANopenMaster* sender, uint8_t& node) {
      previous(sender, node);
      booted = true;
    };
    fake_driver::onNextLoop([id] { fake_driver::callbacks().boot(id); });
    ASSERT_TRUE(spinUntil([&] { return booted; }));
    window->master().OnBOOT = previous;
  }

  std::unique_ptr<can_monitor::MonitorWindow> window;
};

}  // namespace

TEST_F(MonitorTest, ShowsBothTablesAndTheNetworkRowsAfterReset) {
  makeWindow();
  QTableWidget* network = window->findChild<QTableWidget*>("statistics1");
  QTableWidget* nodes = window->findChild<QTableWidget*>("statistics2");
  ASSERT_NE(network, nullptr);
  ASSERT_NE(nodes, nullptr);
  EXPECT_EQ(window->master().Statistics1(), network);
  EXPECT_EQ(window->master().Statistics2(), nodes);
  EXPECT_TRUE(network->isVisible());
  EXPECT_TRUE(nodes->isVisible());

  click("reset");
  EXPECT_EQ(fake_driver::callsOf("kcoInit").at(0).args, (std::vector<uint32_t>{8, 500000, 0}));
  EXPECT_EQ(cell(network, st1Hardware, 0), "hardware");
  EXPECT_EQ(cell(network, st1Hardware, 1), "PEAK PCAN_USB");
  EXPECT_EQ(cell(network, st1Bitrate, 1), "500000");
  EXPECT_EQ(cell(network, st1ExtendedId, 1), "no");
  EXPECT_EQ(nodes->rowCount(), 21);
  EXPECT_EQ(window->statusText(), "Network reset on PEAK PCAN_USB.");

  bootNode(5);
  EXPECT_EQ(cell(nodes, st2Id, 1), "5");
  EXPECT_EQ(cell(nodes, st2Name, 1), "fake node");
  click("syncOn");
  EXPECT_EQ(cell(network, st1SyncTime, 1), "100");
}

TEST_F(MonitorTest, TheSelectedInterfaceAndBitRateAreUsedAndFailuresStayInTheWindow) {
  can_monitor::Options options;
  options.hardware = haTovald_CAN_USB;
  options.bitrate = br125kBit;
  options.extendedId = true;
  options.reset = true;  // reset as soon as the window runs
  fake_driver::setInitResult(9, 0x1105);
  makeWindow(options);
  ASSERT_TRUE(spinUntil([] { return !fake_driver::callsOf("kcoInit").empty(); }));
  EXPECT_EQ(fake_driver::callsOf("kcoInit").at(0).args, (std::vector<uint32_t>{9, 125000, 1}));
  EXPECT_EQ(window->statusText().toStdString(),
            "Reset: CANopen exception (code 1105h). " + std::string(kcoGetText(0x1105)));

  fake_driver::setInitResult(9, KCO_INIT_OK);
  click("reset");
  EXPECT_EQ(cell(window->networkTable(), st1ExtendedId, 1), "yes");
  fake_driver::setResult("kcoNMT", 0x2105);
  click("nmtSend");
  EXPECT_TRUE(window->statusText().startsWith("NMT: CANopen exception (code 2105h)."))
      << window->statusText().toStdString();
}

TEST_F(MonitorTest, ReadsAndWritesOneObjectByType) {
  makeWindow();
  click("reset");
  fake_driver::clearCalls();
  click("sdoRead");  // the default: the device name as text
  EXPECT_EQ(field<QLineEdit>("sdoValue")->text(), "fake node");

  field<QLineEdit>("sdoIndex")->setText("0x1017");
  field<QComboBox>("sdoType")->setCurrentIndex(1);  // u16
  field<QLineEdit>("sdoValue")->setText("70000");
  click("sdoWrite");
  EXPECT_TRUE(fake_driver::callsOf("kcoSDO").size() == 1) << "out-of-range value was sent";
  EXPECT_TRUE(window->statusText().startsWith("Write: the value must be a number 0..65535"));

  field<QLineEdit>("sdoValue")->setText("0x1F4");
  click("sdoWrite");
  const auto sdo = fake_driver::callsOf("kcoSDO");
  ASSERT_EQ(sdo.size(), 2U);
  EXPECT_EQ(sdo[1].args, (std::vector<uint32_t>{1, 0x1017, 0, KCO_SDO_DOWNLOAD, KCO_TYPE_U16, 500}));
}

TEST_F(MonitorTest, CommandLineActionsRunOnceTheNodeHasBooted) {
  can_monitor::Options options;
  options.heartbeats = {{5, 1000}};
  options.receives = {{5, 2}};
  options.starts = {5};
  makeWindow(options);
  click("reset");
  fake_driver::clearCalls();
  bootNode(4);  // another node: nothing follows
  bootNode(5);
  ASSERT_TRUE(spinUntil([] { return !fake_driver::callsOf("kcoNMT").empty(); }));
  EXPECT_EQ(fake_driver::callsOf("kcoNMT").at(0).args, (std::vector<uint32_t>{5, KCO_NMT_START}));
  EXPECT_EQ(fake_driver::callsOf("kcoHEARTBEAT").at(0).args,
            (std::vector<uint32_t>{5, KCO_HEARTBEAT_ON, 1000}));
  bool producerSet = false;
  for (const auto& call : fake_driver::callsOf("kcoSDO")) {
    if (call.args == std::vector<uint32_t>{5, 0x1017, 0, KCO_SDO_DOWNLOAD, KCO_TYPE_U16, 500}) {
      producerSet = true;
    }
  }
  EXPECT_TRUE(producerSet);
  bool installed = false;
  for (const auto& call : fake_driver::callsOf("kcoPDO")) {
    if (call.args.size() >= 4 && call.args[0] == 5 && call.args[1] == 2 &&
        call.args[2] == KCO_PDO_INSTALL && call.args[3] == KCO_PDO_RECEIVE) {
      installed = true;
    }
  }
  EXPECT_TRUE(installed);
  const QTableWidget* nodes = window->nodeTable();
  EXPECT_EQ(cell(nodes, st2NmtState, 2), "operational");
  EXPECT_EQ(cell(nodes, st2HeartbeatTime, 2), "1000");
  EXPECT_EQ(cell(nodes, st2RxPdo1Count + 1, 2), "0");
  EXPECT_EQ(cell(nodes, st2NmtState, 1), "preoperational");
}

TEST(MonitorOptionsTest, ParsesTheCommandLine) {
  const auto parsed = can_monitor::parseOptions(
      {"--hardware", "tovald", "--bitrate=250000", "--extended", "--reset", "--heartbeat",
       "1:0x3E8", "--receive", "1:2", "--receive=3:1", "--start", "1"});
  ASSERT_TRUE(std::holds_alternative<can_monitor::Options>(parsed))
      << std::get<std::string>(parsed);
  const auto& options = std::get<can_monitor::Options>(parsed);
  EXPECT_EQ(options.hardware, haTovald_CAN_USB);
  EXPECT_EQ(options.bitrate, br250kBit);
  EXPECT_TRUE(options.extendedId);
  EXPECT_TRUE(options.reset);
  ASSERT_EQ(options.heartbeats.size(), 1U);
  EXPECT_EQ(options.heartbeats[0].time, 1000);
  ASSERT_EQ(options.receives.size(), 2U);
  EXPECT_EQ(options.receives[1].node, 3);
  EXPECT_EQ(options.starts, std::vector<uint8_t>{1});

  const auto defaults = std::get<can_monitor::Options>(can_monitor::parseOptions({}));
  EXPECT_EQ(defaults.hardware, haAutoSearch);
  EXPECT_EQ(defaults.bitrate, br500kBit);
  EXPECT_FALSE(defaults.reset);
}

TEST(MonitorOptionsTest, RejectsWhatItCannotDo) {
  const std::vector<std::pair<QStringList, std::string>> cases = {
      {{"--hardware", "kvaser"}, "unknown interface kind 'kvaser'"},
      {{"--bitrate", "33333"}, "unsupported bit rate '33333'"},
      {{"--bitrate"}, "--bitrate needs a value"},
      {{"--heartbeat", "0:100"}, "--heartbeat needs NODE:MS"},
      {{"--heartbeat", "5"}, "--heartbeat needs NODE:MS"},
      {{"--receive", "5:5"}, "--receive needs NODE:NUM"},
      {{"--start", "128"}, "--start needs a node 1..127"},
      {{"--reset=yes"}, "--reset takes no value"},
      {{"-x"}, "unknown argument '-x'"},
  };
  for (const auto& [arguments, error] : cases) {
    const auto parsed = can_monitor::parseOptions(arguments);
    ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << arguments.join(' ').toStdString();
    EXPECT_EQ(std::get<std::string>(parsed).rfind(error, 0), 0U) << std::get<std::string>(parsed);
  }
}
