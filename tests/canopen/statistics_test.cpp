// The statistics tables: the grid operations with their checks, the binding to a table widget
// with its row colours, and what the master writes into attached tables.
#include <QGuiApplication>
#include <QPalette>
#include <QTableWidget>
#include <functional>
#include <optional>

#include "CANopenErrors.h"
#include "CANopenStatistics.h"
#include "CANopenStatisticsGrid.h"
#include "CANopenStatisticsView.h"
#include "fake_node.h"
#include "master_fixture.h"

namespace {

using Column = std::vector<std::string>;

Column columnOf(const TStatisticsGrid& table, int column) {
  Column out;
  for (int row = 0; row < table.RowCount(); ++row) out.push_back(table.Text(row, column));
  return out;
}

// The 21 values of a node's new or re-added column.
Column freshColumn(const std::string& id) {
  Column out(statistics::kNodeRows);
  out[st2Id] = id;
  out[st2NmtState] = "preoperational";
  out[st2EmcyErrorCode] = "0";
  return out;
}

struct Raised {
  unsigned id;
  unsigned code;
  std::string message;
  bool operator==(const Raised&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Raised& r) {
  return out << "{" << r.id << ", " << std::hex << r.code << std::dec << ", " << r.message << "}";
}

std::optional<Raised> raisedBy(const std::function<void()>& call) {
  try {
    call();
  } catch (const ECANopenException& e) {
    return Raised{e.Id(), e.Code(), e.what()};
  }
  return std::nullopt;
}

class NodeTableTest : public ::testing::Test {
 protected:
  NodeTableTest() { statistics::InitStatistics2(&table); }
  TStatisticsGrid table;
};

}  // namespace

TEST_F(NodeTableTest, NewNodeGetsAFreshColumnAfterTheCaptions) {
  EXPECT_EQ(table.RowCount(), 21);
  EXPECT_EQ(table.ColumnCount(), 1);
  statistics::AddStatisticsNode(&table, 5);
  ASSERT_EQ(table.ColumnCount(), 2);
  EXPECT_EQ(table.ColumnWidth(0), 150);
  EXPECT_EQ(table.ColumnWidth(1), 80);
  EXPECT_EQ(columnOf(table, 1), freshColumn("5"));
  const Column captions = columnOf(table, 0);
  EXPECT_EQ(captions[st2Id], "id");
  EXPECT_EQ(captions[st2SdoDownloadCount], "SDO download count");
  EXPECT_EQ(captions[st2TxPdo1Count + 3], "TxPDO4 count");
  EXPECT_EQ(captions[st2RxPdo1Count], "RxPDO1 count");
  EXPECT_EQ(captions[st2HeartbeatNmtState], "HEARTBEAT nmt state");
  EXPECT_EQ(captions[st2NodeguardGuardTime], "NODEGUARD guardtime [ms]");
  EXPECT_EQ(captions[st2EmcyErrorCode], "EMCY error code");
}

TEST_F(NodeTableTest, ReAddingANodeResetsItsColumnInPlaceOnly) {
  statistics::AddStatisticsNode(&table, 5);
  statistics::AddStatisticsNode(&table, 7);
  for (const int node : {5, 7}) {
    statistics::SetStatistics2(&table, node, st2Name, "RQ 730");
    statistics::SetStatistics2(&table, node, st2NmtState, "operational");
    statistics::SetStatistics2(&table, node, st2SdoUploadCount, "12");
    statistics::SetStatistics2(&table, node, st2EmcyErrorCode, "129");
  }
  const Column seven = columnOf(table, 2);
  statistics::AddStatisticsNode(&table, 5);
  ASSERT_EQ(table.ColumnCount(), 3);
  EXPECT_EQ(columnOf(table, 1), freshColumn("5"));
  EXPECT_EQ(columnOf(table, 2), seven);
}

TEST_F(NodeTableTest, ColumnsKeepTheirOrderAndAreFoundByTheWholeDecimalId) {
  for (const int node : {12, 2, 120, 1}) statistics::AddStatisticsNode(&table, node);
  statistics::SetStatistics2(&table, 2, st2Name, "two");
  statistics::SetStatistics2(&table, 12, st2Name, "twelve");
  EXPECT_EQ(table.Text(st2Id, 1), "12");
  EXPECT_EQ(table.Text(st2Id, 4), "1");
  EXPECT_EQ(table.Text(st2Name, 1), "twelve");
  EXPECT_EQ(table.Text(st2Name, 2), "two");
  EXPECT_EQ(table.Text(st2Name, 3), "");
  EXPECT_EQ(table.Text(st2Name, 4), "");
  EXPECT_EQ(statistics::GetStatistics2(&table, 120, st2NmtState), "preoperational");
}

TEST_F(NodeTableTest, NodeZeroWritesEveryColumnAndAnUnknownNodeNothing) {
  statistics::SetStatistics2(&table, 0, st2NmtState, "operational");  // no column: nothing
  EXPECT_EQ(table.ColumnCount(), 1);

  statistics::AddStatisticsNode(&table, 3);
  statistics::AddStatisticsNode(&table, 4);
  statistics::SetStatistics2(&table, 0, st2NmtState, "operational");
  EXPECT_EQ(table.Text(st2NmtState, 1), "operational");
  EXPECT_EQ(table.Text(st2NmtState, 2), "operational");

  const Column three = columnOf(table, 1);
  const Column four = columnOf(table, 2);
  statistics::SetStatistics2(&table, 9, st2SdoUploadCount, "5");
  EXPECT_EQ(table.ColumnCount(), 3);
  EXPECT_EQ(columnOf(table, 1), three);
  EXPECT_EQ(columnOf(table, 2), four);
  EXPECT_EQ(statistics::GetStatistics2(&table, 9, st2SdoUploadCount), "");
}

TEST_F(NodeTableTest, ClearingKeepsTheIdSoTheColumnStaysTheNodes) {
  for (const int node : {3, 4, 6}) {
    statistics::AddStatisticsNode(&table, node);
    statistics::SetStatistics2(&table, node, st2Name, "RQ 730");
  }
  Column cleared(statistics::kNodeRows);
  cleared[st2Id] = "4";

  statistics::ClearStatisticsNode(&table, 4);
  EXPECT_EQ(columnOf(table, 2), cleared);
  EXPECT_EQ(table.Text(st2Name, 1), "RQ 730");
  statistics::SetStatistics2(&table, 4, st2NmtState, "reset node");
  EXPECT_EQ(table.Text(st2NmtState, 2), "reset node");

  statistics::ClearStatisticsNode(&table, 0);
  for (const auto& [column, id] : {std::pair{1, "3"}, {2, "4"}, {3, "6"}}) {
    cleared[st2Id] = id;
    EXPECT_EQ(columnOf(table, column), cleared) << "column " << column;
  }
}

TEST_F(NodeTableTest, RangeChecksRaiseWithTheNodeAndLeaveTheTableUnchanged) {
  statistics::AddStatisticsNode(&table, 5);
  const std::string withNode = "CANopen exception (node id : ";
  struct Case {
    const char* name;
    std::function<void(TStatisticsGrid*)> call;
    Raised raised;
  };
  const std::vector<Case> cases = {
      {"add node 0", [](TStatisticsGrid* t) { statistics::AddStatisticsNode(t, 0); },
       {0, 0xA012, "CANopen exception (code A012h). Node id is out of range 1..127."}},
      {"add node 128", [](TStatisticsGrid* t) { statistics::AddStatisticsNode(t, 128); },
       {128, 0xA012, withNode + "128 / code A012h). Node id is out of range 1..127."}},
      {"set row 21", [](TStatisticsGrid* t) { statistics::SetStatistics2(t, 5, 21, "x"); },
       {5, 0xA015, withNode + "5 / code A015h). Row index of statistic table is out of range."}},
      {"set row -1", [](TStatisticsGrid* t) { statistics::SetStatistics2(t, 0, -1, "x"); },
       {0, 0xA015, "CANopen exception (code A015h). Row index of statistic table is out of range."}},
      {"set node 200", [](TStatisticsGrid* t) { statistics::SetStatistics2(t, 200, 3, "x"); },
       {200, 0xA011, withNode + "200 / code A011h). Node id is out of range 0..127."}},
      {"set node 300", [](TStatisticsGrid* t) { statistics::SetStatistics2(t, 300, 3, "x"); },
       {44, 0xA011, withNode + "44 / code A011h). Node id is out of range 0..127."}},
      {"get node 0", [](TStatisticsGrid* t) { statistics::GetStatistics2(t, 0, 3); },
       {0, 0xA012, "CANopen exception (code A012h). Node id is out of range 1..127."}},
      {"get row 21", [](TStatisticsGrid* t) { statistics::GetStatistics2(t, 5, 21); },
       {5, 0xA015, withNode + "5 / code A015h). Row index of statistic table is out of range."}},
      {"clear node 200", [](TStatisticsGrid* t) { statistics::ClearStatisticsNode(t, 200); },
       {200, 0xA011, withNode + "200 / code A011h). Node id is out of range 0..127."}},
  };
  const Column before = columnOf(table, 1);
  for (const Case& c : cases) {
    EXPECT_EQ(raisedBy([&] { c.call(&table); }), c.raised) << c.name;
  }
  EXPECT_EQ(table.ColumnCount(), 2);
  EXPECT_EQ(columnOf(table, 1), before);
}

TEST(NetworkTableTest, HasFiveRowsAndRaisesWithoutNodeForOtherRows) {
  TStatisticsGrid table;
  statistics::InitStatistics1(&table);
  ASSERT_EQ(table.RowCount(), 5);
  ASSERT_EQ(table.ColumnCount(), 2);
  EXPECT_EQ(table.ColumnWidth(0), 150);
  EXPECT_EQ(table.ColumnWidth(1), 200);
  EXPECT_EQ(columnOf(table, 0), (Column{"hardware", "bitrate", "extended id", "SYNC time [ms]",
                                        "TIMESTAMP time [ms]"}));
  EXPECT_EQ(columnOf(table, 1), Column(5));
  statistics::SetStatistics1(&table, st1TimestampTime, "1000");
  EXPECT_EQ(table.Text(st1TimestampTime, 1), "1000");
  const Raised outOfRange{0, 0xA015,
                          "CANopen exception (code A015h). Row index of statistic table is out "
                          "of range."};
  for (const int row : {5, -1}) {
    EXPECT_EQ(raisedBy([&] { statistics::SetStatistics1(&table, row, "x"); }), outOfRange) << row;
  }
}

TEST(StatisticsTablesTest, AnAttachedTableThatWasNeverBuiltIsEmpty) {
  TStatisticsGrid table;
  const auto empty = [](unsigned id) {
    return Raised{id, 0xA010,
                  id == 0 ? "CANopen exception (code A010h). Statistic table is empty."
                          : "CANopen exception (node id : " + std::to_string(id) +
                                " / code A010h). Statistic table is empty."};
  };
  EXPECT_EQ(raisedBy([&] { statistics::SetStatistics2(&table, 5, 3, "1"); }), empty(5));
  EXPECT_EQ(raisedBy([&] { statistics::GetStatistics2(&table, 5, 3); }), empty(5));
  EXPECT_EQ(raisedBy([&] { statistics::SetStatistics1(&table, 0, "x"); }), empty(0));
  EXPECT_EQ(raisedBy([&] { statistics::AddStatisticsNode(&table, 5); }), empty(5));
  EXPECT_EQ(raisedBy([&] { statistics::ClearStatisticsNode(&table, 5); }), empty(5));
  EXPECT_EQ(raisedBy([&] { statistics::ClearStatisticsNode(&table, 0); }), std::nullopt);
  EXPECT_EQ(table.RowCount(), 0);
  EXPECT_EQ(table.ColumnCount(), 0);
}

TEST(StatisticsTablesTest, WithoutATableNothingIsCheckedOrWritten) {
  EXPECT_NO_THROW({
    statistics::InitStatistics1(nullptr);
    statistics::SetStatistics1(nullptr, 99, "x");
    statistics::InitStatistics2(nullptr);
    statistics::AddStatisticsNode(nullptr, 0);
    statistics::AddStatisticsNode(nullptr, 500);
    statistics::SetStatistics2(nullptr, 200, -3, "x");
    statistics::ClearStatisticsNode(nullptr, -1);
    EXPECT_EQ(statistics::GetStatistics2(nullptr, 0, 99), "");
  });
}

TEST(StatisticsViewTest, MirrorsTheGridWithAlternatingRowColours) {
  QTableWidget widget;
  widget.setRowCount(2);  // what the owner put there stays until the grid is built
  widget.setColumnCount(1);
  widget.setItem(0, 0, new QTableWidgetItem("owner"));
  TStatisticsView view(&widget);
  TStatisticsGrid table;
  table.SetObserver(&view);
  ASSERT_NE(widget.item(0, 0), nullptr);
  EXPECT_EQ(widget.item(0, 0)->text(), "owner");

  statistics::InitStatistics2(&table);
  statistics::AddStatisticsNode(&table, 5);
  statistics::SetStatistics2(&table, 5, st2Name, "RQ 730");
  ASSERT_EQ(widget.rowCount(), 21);
  ASSERT_EQ(widget.columnCount(), 2);
  EXPECT_EQ(widget.columnWidth(0), 150);
  EXPECT_EQ(widget.columnWidth(1), 80);
  for (int row = 0; row < 21; ++row) {
    for (int column = 0; column < 2; ++column) {
      ASSERT_NE(widget.item(row, column), nullptr);
      EXPECT_EQ(widget.item(row, column)->text().toStdString(), table.Text(row, column));
    }
  }
  const QColor information = QGuiApplication::palette().color(QPalette::ToolTipBase);
  ASSERT_NE(information, QColor(Qt::white)) << "the platform's colours cannot tell the rows apart";
  for (const auto& [row, colour] :
       {std::pair{0, information}, {1, QColor(Qt::white)}, {2, information}}) {
    for (int column = 0; column < 2; ++column) {
      EXPECT_EQ(widget.item(row, column)->background().color(), colour)
          << "row " << row << " column " << column;
    }
  }
  EXPECT_FALSE(widget.item(1, 1)->flags() & Qt::ItemIsEditable);
}

// The master with both tables attached to widgets of the test.
class MasterStatisticsTest : public MasterTest {
 protected:
  void SetUp() override {
    MasterTest::SetUp();
    master->SetStatistics1(network.get());
    master->SetStatistics2(nodes.get());
  }

  // Text of a widget cell; "<none>" when the cell does not exist.
  static std::string cell(const QTableWidget* widget, int row, int column) {
    const QTableWidgetItem* item = widget != nullptr ? widget->item(row, column) : nullptr;
    return item != nullptr ? item->text().toStdString() : "<none>";
  }
  std::string node(int row, int column = 1) const { return cell(nodes.get(), row, column); }

  // Lets the driver report callbacks inside its loop and waits until the master dispatched them.
  void driverReports(std::function<void(const fake_driver::Callbacks&)> report,
                     const std::function<bool()>& done) {
    fake_driver::onNextLoop([report] { report(fake_driver::callbacks()); });
    ASSERT_TRUE(spinUntil(done));
  }

  void bootNode(uint8_t id) {
    int booted = 0;
    master->OnBOOT = [&](TCANopenMaster*, uint8_t&) { ++booted; };
    driverReports([id](const fake_driver::Callbacks& cb) { cb.boot(id); },
                  [&] { return booted == 1; });
    master->OnBOOT = nullptr;
  }

  std::unique_ptr<QTableWidget> network = std::make_unique<QTableWidget>();
  std::unique_ptr<QTableWidget> nodes = std::make_unique<QTableWidget>();
};

TEST_F(MasterStatisticsTest, ResetFillsTheNetworkRowsAndServicesTheirPeriods) {
  master->SetExtendedId(false);
  StartNetwork();
  ASSERT_EQ(network->rowCount(), 5);
  EXPECT_EQ(cell(network.get(), st1Hardware, 0), "hardware");
  EXPECT_EQ(cell(network.get(), st1Hardware, 1), "PEAK PCAN_USB");
  EXPECT_EQ(cell(network.get(), st1Bitrate, 1), "500000");
  EXPECT_EQ(cell(network.get(), st1ExtendedId, 1), "no");
  EXPECT_EQ(nodes->rowCount(), 21);
  EXPECT_EQ(nodes->columnCount(), 1);

  master->SYNCon(100);
  master->TIMESTAMPon(1000);
  EXPECT_EQ(cell(network.get(), st1SyncTime, 1), "100");
  EXPECT_EQ(cell(network.get(), st1TimestampTime, 1), "1000");
  master->SYNCoff();
  EXPECT_EQ(cell(network.get(), st1SyncTime, 1), "");
  EXPECT_EQ(cell(network.get(), st1TimestampTime, 1), "1000");
  EXPECT_EQ(cell(network.get(), st1SyncTime, 0), "SYNC time [ms]");
  EXPECT_EQ(network->item(st1SyncTime, 1)->background().color(), QColor(Qt::white));
}

TEST_F(MasterStatisticsTest, ResetShowsTheInterfaceItInitialisedByName) {
  struct Case {
    TCANopenHardware hardware;
    uint32_t code;  // the driver hardware code that answers, and that kcoInit gets last
    const char* name;
  };
  const std::vector<Case> cases = {
      {haVector_virtual_channel1, 1, "VECTOR virtual channel 1"},
      {haVector_virtual_channel2, 2, "VECTOR virtual channel 2"},
      {haVector_CANcardX1_channel1, 3, "VECTOR CANcardX 1 channel 1"},
      {haVector_CANcardX1_channel2, 4, "VECTOR CANcardX 1 channel 2"},
      {haVector_CANcardX2_channel1, 5, "VECTOR CANcardX 2 channel 1"},
      {haVector_CANcardX2_channel2, 6, "VECTOR CANcardX 2 channel 2"},
      {haVector_CANPari1_channel1, 7, "VECTOR CANpari 1 channel 1"},
      {haPeak_CAN_USB, 8, "PEAK PCAN_USB"},
      {haTovald_CAN_USB, 9, "TOVALD CAN"},
      // The search shows the interface that it found.
      {haAutoSearch, 9, "TOVALD CAN"},
      {haAutoSearch, 5, "VECTOR CANcardX 2 channel 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (uint8_t code = 1; code <= 9; ++code) {
      fake_driver::setInitResult(code, code == c.code ? KCO_INIT_OK : 0x1001);
    }
    master->SetHardware(c.hardware);
    fake_driver::clearCalls();
    master->Reset();
    const auto inits = fake_driver::callsOf("kcoInit");
    ASSERT_FALSE(inits.empty());
    EXPECT_EQ(inits.back().args[0], c.code);
    EXPECT_EQ(cell(network.get(), st1Hardware, 1), c.name);
  }
}

TEST_F(MasterStatisticsTest, ResetPassesAndShowsTheBitRateAndIdentifierFormat) {
  struct Case {
    TCANopenBitrate bitrate;
    bool extended;
    uint32_t bitsPerSecond;
  };
  const std::vector<Case> cases = {
      {br10kBit, false, 10000},
      {br20kBit, true, 20000},
      {br50kBit, false, 50000},
      {br100kBit, true, 100000},
      {br125kBit, false, 125000},
      {br250kBit, true, 250000},
      {br500kBit, false, 500000},
      {br1000kBit, true, 1000000},
      {static_cast<TCANopenBitrate>(8), false, 0},  // outside the enumeration
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.bitsPerSecond) + (c.extended ? " extended" : " base"));
    master->SetBitrate(c.bitrate);
    master->SetExtendedId(c.extended);
    fake_driver::clearCalls();
    master->Reset();
    const auto inits = fake_driver::callsOf("kcoInit");
    ASSERT_EQ(inits.size(), 1U);
    EXPECT_EQ(inits[0].args, (std::vector<uint32_t>{8, c.bitsPerSecond, c.extended ? 1U : 0U}));
    EXPECT_EQ(cell(network.get(), st1Bitrate, 1), std::to_string(c.bitsPerSecond));
    EXPECT_EQ(cell(network.get(), st1ExtendedId, 1), c.extended ? "yes" : "no");
  }
}

TEST_F(MasterStatisticsTest, BootUpGivesAColumnWithTheDeviceNameAndPdosAreCounted) {
  StartNetwork();
  bootNode(5);
  ASSERT_EQ(nodes->columnCount(), 2);
  EXPECT_EQ(node(st2Id), "5");
  EXPECT_EQ(node(st2Name), "fake node");
  EXPECT_EQ(node(st2NmtState), "preoperational");
  EXPECT_EQ(node(st2SdoUploadCount), "1");  // the device name was read by SDO
  EXPECT_EQ(node(st2EmcyErrorCode), "0");

  int delivered = 0;
  master->OnPDOtx = [&](TCANopenMaster*, uint8_t&, uint8_t&) { ++delivered; };
  driverReports(
      [](const fake_driver::Callbacks& cb) {
        cb.pdoReceived(5, 1);
        cb.pdoTransmitted(5, 4);
        cb.pdoReceived(5, 1);
        cb.pdoReceived(5, 3);
        cb.pdoReceived(9, 1);  // a node without a column
        cb.emcy(5, 0x81);
      },
      [&] { return node(st2EmcyErrorCode) == "129" && node(st2RxPdo1Count + 2) == "1"; });
  EXPECT_EQ(node(st2RxPdo1Count), "2");
  EXPECT_EQ(node(st2RxPdo1Count + 1), "");
  EXPECT_EQ(node(st2TxPdo1Count + 3), "1");
  EXPECT_EQ(delivered, 1);
  EXPECT_EQ(nodes->columnCount(), 2);
  EXPECT_TRUE(reports.empty());
}

TEST_F(MasterStatisticsTest, TransfersCountFromAnEmptyCellAndFromZero) {
  StartNetwork();
  bootNode(5);
  ASSERT_EQ(node(st2SdoDownloadCount), "");
  uint8_t value = 1;
  for (int k = 0; k < 3; ++k) master->SDOdownload(5, {0x2000, 0, KCO_TYPE_U8, &value});
  EXPECT_EQ(node(st2SdoDownloadCount), "3");

  FakeNode pdoObjects;  // the node's transmit PDO 2 objects, for the installation's steps
  for (const uint8_t sub : {1, 2, 3, 5}) pdoObjects.set(0x1801, sub, 0);
  for (uint8_t sub = 0; sub <= 8; ++sub) pdoObjects.set(0x1A01, sub, 0);
  int16_t weight = 0;
  TPdoMappingParam mapping{};
  mapping[0] = {0x2100, 0, 2, &weight};
  master->RxPDOinstall(5, 2, mapping, {255, 0, 0}, true);
  EXPECT_EQ(node(st2RxPdo1Count + 1), "0");
  driverReports([](const fake_driver::Callbacks& cb) { cb.pdoReceived(5, 2); },
                [&] { return node(st2RxPdo1Count + 1) == "1"; });
  master->RxPDOuninstall(5, 2, false);
  EXPECT_EQ(node(st2RxPdo1Count + 1), "");
}

TEST_F(MasterStatisticsTest, NmtCommandsWriteTheirTextsAndResetsEmptyTheColumn) {
  StartNetwork();
  bootNode(3);
  bootNode(4);
  master->NMT(3, KCO_NMT_START);
  EXPECT_EQ(node(st2NmtState, 1), "operational");
  EXPECT_EQ(node(st2NmtState, 2), "preoperational");
  master->NMT(0, KCO_NMT_STOP);
  EXPECT_EQ(node(st2NmtState, 1), "stopped");
  EXPECT_EQ(node(st2NmtState, 2), "stopped");
  master->NMT(4, KCO_NMT_RESET_COMMUNICATION);
  EXPECT_EQ(node(st2Id, 2), "4");
  EXPECT_EQ(node(st2Name, 2), "");
  EXPECT_EQ(node(st2SdoUploadCount, 2), "");
  EXPECT_EQ(node(st2EmcyErrorCode, 2), "");
  EXPECT_EQ(node(st2NmtState, 2), "reset communication");
  EXPECT_EQ(node(st2Name, 1), "fake node");
  bootNode(4);  // the following boot-up fills the same column again
  EXPECT_EQ(nodes->columnCount(), 3);
  EXPECT_EQ(node(st2Name, 2), "fake node");
}

TEST_F(MasterStatisticsTest, EveryNmtCommandShowsItsTextAndTheResetsEmptyTheColumn) {
  StartNetwork();
  struct Case {
    uint16_t state;
    const char* text;
    bool emptiesColumn;
  };
  const std::vector<Case> cases = {
      {KCO_NMT_START, "operational", false},
      {KCO_NMT_STOP, "stopped", false},
      {KCO_NMT_PREOPERATIONAL, "preoperational", false},
      {KCO_NMT_RESET_NODE, "reset node", true},
      {KCO_NMT_RESET_COMMUNICATION, "reset communication", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    bootNode(5);
    master->NMT(5, c.state);
    EXPECT_EQ(node(st2NmtState), c.text);
    EXPECT_EQ(node(st2Id), "5");
    EXPECT_EQ(node(st2Name), c.emptiesColumn ? "" : "fake node");
    EXPECT_EQ(node(st2EmcyErrorCode), c.emptiesColumn ? "" : "0");
  }
  master->NMT(5, 0x2005);  // a command without a text writes nothing
  EXPECT_EQ(node(st2NmtState), "reset communication");
}

TEST_F(MasterStatisticsTest, EveryResetRebuildsBothTablesEmpty) {
  StartNetwork();
  bootNode(5);
  master->SYNCon(100);
  master->TIMESTAMPon(5000);
  master->Reset();
  EXPECT_EQ(nodes->columnCount(), 1);
  EXPECT_EQ(nodes->rowCount(), 21);
  EXPECT_EQ(cell(network.get(), st1SyncTime, 1), "");
  EXPECT_EQ(cell(network.get(), st1TimestampTime, 1), "");
  EXPECT_EQ(cell(network.get(), st1Hardware, 1), "PEAK PCAN_USB");
}

TEST_F(MasterStatisticsTest, GuardingAndHeartbeatReportsShowTheirStateTexts) {
  StartNetwork();
  bootNode(5);
  int delivered = 0;
  master->OnNODEGUARD = [&](TCANopenMaster*, uint8_t&, uint16_t&, uint16_t&) { ++delivered; };
  master->OnHEARTBEAT = [&](TCANopenMaster*, uint8_t&, uint16_t&, uint16_t&) { ++delivered; };
  struct Case {
    bool heartbeat;
    uint16_t state;
    uint16_t nmt;
    const char* stateText;
    const char* nmtText;
  };
  const std::vector<Case> cases = {
      {false, 0x5200, 0x5300, "not activated", "unknown yet"},
      {false, 0x5201, 0x5301, "activated", "operational"},
      {false, 0x5202, 0x5302, "response missed", "stopped"},
      {false, 0x5203, 0x5303, "life time elapsed", "preoperational"},
      {false, 0x5204, 0x5304, "toggle error", "reset node"},
      {false, 0x5205, 0x5305, "state changed", "reset communication"},
      {false, 0x5206, 0x5306, "state changed", "reset communication"},  // unknown: kept
      {true, 0x6200, 0x6300, "waiting first beat", "unknown yet"},
      {true, 0x6201, 0x6301, "running", "operational"},
      {true, 0x6202, 0x6302, "stopped", "stopped"},
      {true, 0x6201, 0x6303, "running", "preoperational"},
      {true, 0x6202, 0x6304, "stopped", "reset node"},
      {true, 0x6201, 0x6305, "running", "reset communication"},
      {true, 0x6203, 0x6306, "running", "reset communication"},  // unknown: kept
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.state) + " " + std::to_string(c.nmt));
    const int before = delivered;
    driverReports(
        [c](const fake_driver::Callbacks& cb) {
          if (c.heartbeat) {
            cb.heartbeat(5, c.state, c.nmt);
          } else {
            cb.nodeguard(5, c.state, c.nmt);
          }
        },
        [&] { return delivered == before + 1; });
    const int stateRow = c.heartbeat ? st2HeartbeatState : st2NodeguardState;
    const int nmtRow = c.heartbeat ? st2HeartbeatNmtState : st2NodeguardNmtState;
    EXPECT_EQ(node(stateRow), c.stateText);
    EXPECT_EQ(node(nmtRow), c.nmtText);
  }
}

TEST_F(MasterStatisticsTest, PdoNumbersOutsideOneToFourWriteNoCell) {
  StartNetwork();
  bootNode(5);
  master->HEARTBEATon(5, 1500);  // the row after the four RxPDO count rows
  const Column before = [this] {
    Column column;
    for (int row = 0; row < statistics::kNodeRows; ++row) column.push_back(node(row));
    return column;
  }();
  int delivered = 0;
  master->OnPDOrx = [&](TCANopenMaster*, uint8_t&, uint8_t&) { ++delivered; };
  master->OnPDOtx = [&](TCANopenMaster*, uint8_t&, uint8_t&) { ++delivered; };
  driverReports(
      [](const fake_driver::Callbacks& cb) {
        for (const uint8_t num : {0, 5, 255}) {
          cb.pdoReceived(5, num);
          cb.pdoTransmitted(5, num);
        }
      },
      [&] { return delivered == 6; });

  FakeNode pdoObjects;  // PDO 5 in both directions, and the empty PDO number 0
  for (const uint16_t communication : {0x1804, 0x1404, 0x17FF, 0x13FF}) {
    for (const uint8_t sub : {1, 2, 3, 5}) pdoObjects.set(communication, sub, 0);
  }
  for (const uint16_t mapping : {0x1A04, 0x1604, 0x19FF, 0x15FF}) {
    for (uint8_t sub = 0; sub <= 8; ++sub) pdoObjects.set(mapping, sub, 0);
  }
  int16_t value = 0;
  TPdoMappingParam mapping{};
  mapping[0] = {0x2100, 0, 2, &value};
  for (const uint8_t num : {0, 5}) {
    master->RxPDOinstall(5, num, mapping, {255, 0, 0}, true);
    master->TxPDOinstall(5, num, mapping, {255, 0, 0}, true);
    master->RxPDOuninstall(5, num, true);
    master->TxPDOuninstall(5, num, true);
  }
  for (int row = 0; row < statistics::kNodeRows; ++row) {
    // The installations' own transfers are counted.
    if (row == st2SdoUploadCount || row == st2SdoDownloadCount) continue;
    EXPECT_EQ(node(row), before[static_cast<size_t>(row)]) << "row " << row;
  }
  EXPECT_TRUE(reports.empty());
}

TEST_F(MasterStatisticsTest, TxPdoInstallAndUninstallEmptyTheirCountRow) {
  StartNetwork();
  bootNode(5);
  FakeNode pdoObjects;  // the node's receive PDO 2 objects
  for (const uint8_t sub : {1, 2}) pdoObjects.set(0x1401, sub, 0);
  for (uint8_t sub = 0; sub <= 8; ++sub) pdoObjects.set(0x1601, sub, 0);
  int transmitted = 0;
  master->OnPDOtx = [&](TCANopenMaster*, uint8_t&, uint8_t&) { ++transmitted; };
  const auto countOne = [&] {
    const int before = transmitted;
    driverReports([](const fake_driver::Callbacks& cb) { cb.pdoTransmitted(5, 2); },
                  [&] { return transmitted == before + 1; });
  };
  int16_t setpoint = 0;
  TPdoMappingParam mapping{};
  mapping[0] = {0x2300, 0, 2, &setpoint};

  countOne();
  EXPECT_EQ(node(st2TxPdo1Count + 1), "1");
  master->TxPDOinstall(5, 2, mapping, {254, 0, 0}, true);
  EXPECT_EQ(node(st2TxPdo1Count + 1), "");
  countOne();
  countOne();
  EXPECT_EQ(node(st2TxPdo1Count + 1), "2");
  master->TxPDOuninstall(5, 2, true);
  EXPECT_EQ(node(st2TxPdo1Count + 1), "");
  EXPECT_EQ(node(st2RxPdo1Count + 1), "");
  EXPECT_TRUE(reports.empty());
}

TEST_F(MasterStatisticsTest, HeartbeatAndGuardingRowsFollowSwitchesAndDispatch) {
  StartNetwork();
  bootNode(5);
  master->HEARTBEATon(5, 1500);
  master->NODEGUARDon(5, 100, 3);
  EXPECT_EQ(node(st2HeartbeatTime), "1500");
  EXPECT_EQ(node(st2NodeguardGuardTime), "100");
  EXPECT_EQ(node(st2NodeguardLifeTimeFactor), "3");
  driverReports(
      [](const fake_driver::Callbacks& cb) {
        cb.heartbeat(5, 0x6201, 0x6303);
        cb.nodeguard(5, 0x5202, 0x5301);
      },
      [&] { return node(st2HeartbeatState) != "" && node(st2NodeguardState) != ""; });
  EXPECT_EQ(node(st2HeartbeatState), "running");
  EXPECT_EQ(node(st2HeartbeatNmtState), "preoperational");
  EXPECT_EQ(node(st2NodeguardState), "response missed");
  EXPECT_EQ(node(st2NodeguardNmtState), "operational");

  master->HEARTBEAToff(5);
  for (const int row : {st2HeartbeatTime, st2HeartbeatState, st2HeartbeatNmtState}) {
    EXPECT_EQ(node(row), "") << row;
  }
  fake_driver::setResult("kcoNODEGUARD", 0x5105);
  EXPECT_THROW(master->NODEGUARDon(5, 200, 2), ECANopenException);
  for (const int row : {st2NodeguardGuardTime, st2NodeguardLifeTimeFactor, st2NodeguardState,
                        st2NodeguardNmtState}) {
    EXPECT_EQ(node(row), "") << row;
  }
}

TEST_F(MasterStatisticsTest, RefusedSwitchOnEmptiesItsCellsAndRefusedSwitchOffKeepsThem) {
  StartNetwork();
  bootNode(5);
  const auto networkRow = [this](int row) { return cell(network.get(), row, 1); };
  const auto nodeRow = [this](int row) { return node(row); };
  const std::vector<int> heartbeatRows = {st2HeartbeatTime, st2HeartbeatState,
                                          st2HeartbeatNmtState};
  const std::vector<int> guardingRows = {st2NodeguardGuardTime, st2NodeguardLifeTimeFactor,
                                         st2NodeguardState, st2NodeguardNmtState};
  const auto startHeartbeat = [this] {
    master->HEARTBEATon(5, 1500);
    driverReports([](const fake_driver::Callbacks& cb) { cb.heartbeat(5, 0x6201, 0x6303); },
                  [this] { return node(st2HeartbeatState) == "running"; });
  };
  const auto startGuarding = [this] {
    master->NODEGUARDon(5, 100, 3);
    driverReports([](const fake_driver::Callbacks& cb) { cb.nodeguard(5, 0x5201, 0x5301); },
                  [this] { return node(st2NodeguardState) == "activated"; });
  };
  struct Case {
    const char* name;
    const char* function;
    uint16_t success;
    std::function<void()> fill;     // accepted switch-on that fills the cells
    std::function<void()> refused;  // the request that the driver refuses
    std::function<std::string(int)> cellOf;
    std::vector<int> rows;
    bool emptied;
  };
  const std::vector<Case> cases = {
      {"HEARTBEATon", "kcoHEARTBEAT", KCO_HEARTBEAT_OK, startHeartbeat,
       [this] { master->HEARTBEATon(5, 40000); }, nodeRow, heartbeatRows, true},
      {"HEARTBEAToff", "kcoHEARTBEAT", KCO_HEARTBEAT_OK, startHeartbeat,
       [this] { master->HEARTBEAToff(5); }, nodeRow, heartbeatRows, false},
      {"NODEGUARDon", "kcoNODEGUARD", KCO_NODEGUARD_OK, startGuarding,
       [this] { master->NODEGUARDon(5, 200, 2); }, nodeRow, guardingRows, true},
      {"NODEGUARDoff", "kcoNODEGUARD", KCO_NODEGUARD_OK, startGuarding,
       [this] { master->NODEGUARDoff(5); }, nodeRow, guardingRows, false},
      {"SYNCon",
       "kcoSYNC",
       KCO_SYNC_OK,
       [this] { master->SYNCon(100); },
       [this] { master->SYNCon(200); },
       networkRow,
       {st1SyncTime},
       true},
      {"SYNCoff",
       "kcoSYNC",
       KCO_SYNC_OK,
       [this] { master->SYNCon(100); },
       [this] { master->SYNCoff(); },
       networkRow,
       {st1SyncTime},
       false},
      {"TIMESTAMPon",
       "kcoTIMESTAMP",
       KCO_TIMESTAMP_OK,
       [this] { master->TIMESTAMPon(5000); },
       [this] { master->TIMESTAMPon(1000); },
       networkRow,
       {st1TimestampTime},
       true},
      {"TIMESTAMPoff",
       "kcoTIMESTAMP",
       KCO_TIMESTAMP_OK,
       [this] { master->TIMESTAMPon(5000); },
       [this] { master->TIMESTAMPoff(); },
       networkRow,
       {st1TimestampTime},
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake_driver::setResult(c.function, c.success);
    c.fill();
    std::vector<std::string> filled;
    for (const int row : c.rows) filled.push_back(c.cellOf(row));
    for (const std::string& text : filled) ASSERT_NE(text, "");
    fake_driver::setResult(c.function, static_cast<uint16_t>(c.success + 5));
    EXPECT_THROW(c.refused(), ECANopenException);
    for (size_t k = 0; k < c.rows.size(); ++k) {
      EXPECT_EQ(c.cellOf(c.rows[k]), c.emptied ? "" : filled[k]) << "row " << c.rows[k];
    }
  }
  fake_driver::setResult("kcoHEARTBEAT", KCO_HEARTBEAT_OK);
  fake_driver::setResult("kcoNODEGUARD", KCO_NODEGUARD_OK);
  EXPECT_TRUE(reports.empty());
}

TEST_F(MasterStatisticsTest, ADetachedOrDeletedTableStopsAllWriting) {
  StartNetwork();
  bootNode(5);
  master->SetStatistics2(nullptr);
  EXPECT_EQ(master->Statistics2(), nullptr);
  master->NMT(5, KCO_NMT_START);
  EXPECT_EQ(node(st2NmtState), "preoperational");  // the widget keeps what it shows

  network.reset();  // the owner deletes its widget
  EXPECT_EQ(master->Statistics1(), nullptr);
  master->SYNCon(10);
  master->Reset();
  bool booted = false;
  master->OnBOOT = [&](TCANopenMaster*, uint8_t&) { booted = true; };
  driverReports([](const fake_driver::Callbacks& cb) { cb.boot(6); }, [&] { return booted; });
  master->NMT(0, KCO_NMT_RESET_NODE);
  EXPECT_EQ(nodes->columnCount(), 2);
  EXPECT_TRUE(reports.empty());
}

TEST_F(MasterStatisticsTest, ATableAttachedAgainShowsTheTablesAndIsWrittenOn) {
  QTableWidget otherNetwork;
  QTableWidget otherNodes;
  struct Case {
    const char* name;
    QTableWidget* network;
    QTableWidget* nodes;
  };
  for (const Case& c : {Case{"the same widgets", network.get(), nodes.get()},
                        Case{"other widgets", &otherNetwork, &otherNodes}}) {
    SCOPED_TRACE(c.name);
    master->SetStatistics1(network.get());
    master->SetStatistics2(nodes.get());
    StartNetwork();
    bootNode(5);
    master->SetStatistics1(nullptr);
    master->SetStatistics2(nullptr);
    master->SetStatistics1(c.network);
    master->SetStatistics2(c.nodes);
    EXPECT_EQ(cell(c.network, st1Hardware, 1), "PEAK PCAN_USB");
    EXPECT_EQ(cell(c.nodes, st2Name, 1), "fake node");

    int pdos = 0;
    master->OnPDOrx = [&](TCANopenMaster*, uint8_t&, uint8_t&) { ++pdos; };
    driverReports([](const fake_driver::Callbacks& cb) { cb.pdoReceived(5, 1); },
                  [&] { return pdos == 1; });
    bootNode(6);
    master->SYNCon(20);
    EXPECT_EQ(cell(c.nodes, st2RxPdo1Count, 1), "1");
    EXPECT_EQ(cell(c.nodes, st2Id, 2), "6");
    EXPECT_EQ(cell(c.nodes, st2Name, 2), "fake node");
    EXPECT_EQ(cell(c.network, st1SyncTime, 1), "20");
    EXPECT_TRUE(reports.empty()) << reports.front();
  }
}

TEST_F(MasterStatisticsTest, WithoutTablesEveryStepRunsWithoutStatistics) {
  master->SetStatistics1(nullptr);
  master->SetStatistics2(nullptr);
  StartNetwork();
  int seen = 0;
  master->OnBOOT = [&](TCANopenMaster*, uint8_t&) { ++seen; };
  master->OnPDOrx = [&](TCANopenMaster*, uint8_t&, uint8_t&) { ++seen; };
  master->OnHEARTBEAT = [&](TCANopenMaster*, uint8_t&, uint16_t&, uint16_t&) { ++seen; };
  master->OnEMCY = [&](TCANopenMaster*, uint8_t&, uint8_t&) { ++seen; };
  driverReports(
      [](const fake_driver::Callbacks& cb) {
        cb.boot(5);
        cb.pdoReceived(5, 1);
        cb.heartbeat(5, 0x6201, 0x6303);
        cb.emcy(5, 1);
      },
      [&] { return seen == 4; });
  master->NMT(5, KCO_NMT_RESET_NODE);
  master->HEARTBEATon(5, 100);
  EXPECT_TRUE(reports.empty());
  EXPECT_EQ(network->columnCount(), 0);
  EXPECT_EQ(nodes->columnCount(), 0);
}
