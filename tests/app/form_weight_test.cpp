// Device set-up, weight display and operator commands of the main window, against the fake
// driver with a fake module behind its SDO server and the fake legal display.
#include <QClipboard>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPushButton>
#include <cmath>
#include <limits>

#include <termios.h>
#include <unistd.h>

#include "fake_node.h"
#include "fake_driver.h"
#include "form_fixture.h"
#include "com_link.h"

namespace {

constexpr uint8_t kModule = 3;

// The parameter and PDO objects of a module as the set-up expects them.
void giveModuleObjects(FakeNode& node) {
  node.set(0x1018, 4, 73012345);
  node.set(0x3107, 0, 7);
  node.set(0x3104, 0, 1);
  node.set(0x3106, 0, 3000);
  node.set(0x3108, 0, 0xC0DE);
  node.set(0x3105, 0, 2);
  for (uint16_t n = 0; n < 4; ++n) {
    for (const uint8_t sub : {1, 2, 3, 5}) node.set(0x1800 + n, sub, 0);
    for (uint8_t sub = 0; sub <= 8; ++sub) node.set(0x1A00 + n, sub, 0);
  }
}

std::vector<std::string> legalCalls() {
  std::vector<std::string> names;
  for (const auto& call : fake_legal::calls()) names.push_back(call.function);
  return names;
}

}  // namespace

class FormWeighing : public FormStartup {
 protected:
  void SetUp() override {
    FormStartup::SetUp();
    giveModuleObjects(node);
  }

  // Starts the window and lets the module boot and be set up.
  void bootModule() {
    start();
    boot(kModule);
    ASSERT_TRUE(spinUntil([&] { return TFormMainProbe::RQ730Id(*form) == kModule; }));
  }

  // The driver stores a PDO's bytes into the mapped fields, then reports it; waits until the
  // window has handled it.
  void pdo(uint8_t num, const std::function<void()>& store, uint8_t from = kModule) {
    fake_driver::onNextLoop([num, store, from] {
      store();
      fake_driver::callbacks().pdoReceived(from, num);
    });
    const int loops = fake_driver::loopCount();
    ASSERT_TRUE(spinUntil([&] {
      return fake_driver::loopCount() > loops + 1 && CANopenCallbacks().PDOrx.records.empty() &&
             !CANopenCallbacks().PDOrx.busy;
    }));
  }

  void weight(float kg) {
    pdo(3, [this, kg] { TFormMainProbe::WeightUnrounded(*form) = kg; });
  }

  QString panel() const { return form->PanelWeight->text(); }
  static QString clipboard() { return QGuiApplication::clipboard()->text(); }

  FakeNode node;
};

TEST_F(FormWeighing, SetUpRunsItsStepsInOrderAndFeedsTheLegalDisplay) {
  bootModule();
  const QRect outer = form->frameGeometry();
  ASSERT_FALSE(fake_legal::calls().empty());
  EXPECT_EQ(fake_legal::calls()[0],
            (fake_legal::Call{"Init", {0, outer.left() - 10, outer.top() + outer.height() + 10, 4,
                                       1, 50, 0, 0, 0, 0}}));
  const std::vector<fake_legal::Call> parameters(fake_legal::calls().begin() + 1,
                                                 fake_legal::calls().end());
  EXPECT_EQ(parameters, (std::vector<fake_legal::Call>{
                            {"WriteSerialNumber", {kModule, 73012345}},
                            {"WriteAdjustmentCounter", {kModule, 7}},
                            {"WriteUnit", {kModule, 1}},
                            {"WriteCapacity", {kModule, 3000}},
                            {"WriteChecksum", {kModule, 0xC0DE}},
                            {"WriteDivision", {kModule, 2}},
                        }));

  // The module's side: pre-operational, PDOs 1..4 removed, three PDOs installed, the six reads,
  // the time stamp, then operational.
  std::vector<std::string> steps;
  for (const auto& call : fake_driver::calls()) {
    const auto& a = call.args;
    if (call.function == "kcoNMT" && a[0] == kModule) {
      steps.push_back("nmt " + std::to_string(a[1]));
    } else if (call.function == "kcoPDO" && a[0] == kModule) {
      steps.push_back(std::string(a[2] == KCO_PDO_INSTALL ? "install " : "remove ") +
                      std::to_string(a[1]));
    } else if (call.function == "kcoSDO" && a[3] == KCO_SDO_UPLOAD && a[1] >= 0x3000) {
      steps.push_back("read " + std::to_string(a[1]));
    } else if (call.function == "kcoSDO" && a[3] == KCO_SDO_UPLOAD && a[1] == 0x1018) {
      steps.push_back("read serial");
    } else if (call.function == "kcoTIMESTAMP") {
      steps.push_back("timestamp " + std::to_string(a[1]));
    }
  }
  const std::vector<std::string> expected = {
      "nmt 8194",        "remove 1",       "remove 2",       "remove 3",
      "remove 4",        "install 1",      "install 2",      "install 3",
      "read serial",     "read 12551",     "read 12548",     "read 12550",
      "read 12552",      "read 12549",     "timestamp 5000", "nmt 8192"};
  // After the boot-up broadcast switch-offs of Reset (removals for every node), what concerns
  // the module comes in this order.
  ASSERT_GE(steps.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(steps.end() - expected.size(), steps.end()), expected);
  EXPECT_EQ(node.get(0x1A02, 1), 0x30040020U);
  EXPECT_EQ(node.get(0x1802, 5), 500U);
  EXPECT_TRUE(answerer.texts().isEmpty());
}

TEST_F(FormWeighing, LegalDisplayThatDoesNotStartEndsTheProgramWithoutTouchingTheModule) {
  fake_legal::setInitResult(false);
  start();
  fake_driver::clearCalls();
  boot(kModule);
  ASSERT_TRUE(spinUntil([&] { return !form->isVisible(); }));
  EXPECT_EQ(answerer.texts(), QStringList{"Could not initialize software Q38!"});
  for (const auto& call : fake_driver::calls()) {
    // Only the boot-up's device-name read went to the module.
    EXPECT_EQ(call.function, "kcoSDO");
    EXPECT_EQ(call.args[1], 0x1008U);
  }
  EXPECT_EQ(legalCalls(), std::vector<std::string>{"Init"});
}

TEST_F(FormWeighing, MissingParameterStopsTheSetUpBeforeTheModuleIsStarted) {
  node.remove(0x3106, 0);
  bootModule();
  EXPECT_EQ(legalCalls(), (std::vector<std::string>{"Init", "WriteSerialNumber",
                                                     "WriteAdjustmentCounter", "WriteUnit"}));
  EXPECT_TRUE(fake_driver::callsOf("kcoTIMESTAMP").empty());
  EXPECT_EQ(fake_driver::callsOf("kcoNMT").back().args, (std::vector<uint32_t>{kModule, 0x2002}));
  EXPECT_TRUE(answerer.texts().isEmpty());
  EXPECT_TRUE(form->isVisible());
}

TEST_F(FormWeighing, WarmUpUntilTheFirstNonZeroWeightThenTheWeightInLargeDigits) {
  bootModule();
  QGuiApplication::clipboard()->setText("before");
  weight(0.0F);
  pdo(1, [this] { TFormMainProbe::Weight(*form) = 12; });
  EXPECT_EQ(panel(), "warm up...");
  EXPECT_EQ(form->PanelWeight->alignment(), Qt::AlignCenter);
  EXPECT_EQ(form->PanelWeight->font().pixelSize(), 53);

  weight(12.5F);  // the event that ends the warm-up still shows it
  EXPECT_EQ(panel(), "warm up...");
  EXPECT_TRUE(TFormMainProbe::WeightFound(*form));
  EXPECT_EQ(clipboard(), "before");
  EXPECT_EQ(legalCalls().back(), "WriteDivision");  // nothing reached the legal display

  weight(12.5F);
  EXPECT_EQ(panel(), "13 kg");
  EXPECT_EQ(clipboard(), "13");
  EXPECT_EQ(form->PanelWeight->alignment(), Qt::AlignRight | Qt::AlignVCenter);
  EXPECT_EQ(form->PanelWeight->font().pixelSize(), 93);  // 70 pt
  weight(-12.5F);
  EXPECT_EQ(panel(), "-13 kg");
  EXPECT_EQ(clipboard(), "-13");
  weight(-0.3F);
  EXPECT_EQ(panel(), "0 kg");
  weight(0.0F);
  EXPECT_EQ(panel(), "0 kg");  // no way back to the warm-up

  pdo(1, [this] {
    TFormMainProbe::Weight(*form) = -5;
    TFormMainProbe::SignatureWeight(*form) = 0xBEEF;
  });
  pdo(2, [this] {
    TFormMainProbe::ZeroIndication(*form) = 1;
    TFormMainProbe::SignatureZeroIndication(*form) = 0x1234;
  });
  pdo(4, [] {});
  const std::vector<fake_legal::Call> last(fake_legal::calls().end() - 2, fake_legal::calls().end());
  EXPECT_EQ(last, (std::vector<fake_legal::Call>{{"WriteWeight", {kModule, 0xBEEF, -5}},
                                                 {"WriteZeroIndication", {kModule, 0x1234, 1}}}));
}

// Whatever font the machine has for Arial, and however long the number, every digit shows: a
// cut-off leading digit would make 1235 kg read as 235 kg.
TEST_F(FormWeighing, WeightTooWideForThePanelIsShownSmallerAndWhole) {
  bootModule();
  weight(1.0F);
  const int room = form->PanelWeight->contentsRect().width();
  for (const float kg : {1235.0F, -99999.0F, 3.0e9F, -3.0e38F}) {
    weight(kg);
    const QFontMetrics metrics(form->PanelWeight->font());
    EXPECT_LE(metrics.horizontalAdvance(panel()) + metrics.horizontalAdvance(QLatin1Char('x')) / 2,
              room)
        << panel().toStdString() << " at " << form->PanelWeight->font().pixelSize() << " px";
    EXPECT_EQ(clipboard() + " kg", panel());
  }
  weight(7.0F);
  EXPECT_EQ(form->PanelWeight->font().pixelSize(), 93);  // a short weight is back at 70 pt
}

TEST_F(FormWeighing, LegalDisplayCallsCarryTheNodeIdOfThePdo) {
  bootModule();
  weight(1.0F);
  constexpr uint8_t kOtherNode = 9;  // a PDO of another node that reaches the same fields
  pdo(
      1,
      [this] {
        TFormMainProbe::Weight(*form) = 21;
        TFormMainProbe::SignatureWeight(*form) = 0x0101;
      },
      kOtherNode);
  pdo(
      2,
      [this] {
        TFormMainProbe::ZeroIndication(*form) = 0;
        TFormMainProbe::SignatureZeroIndication(*form) = 0x0202;
      },
      kOtherNode);
  const std::vector<fake_legal::Call> last(fake_legal::calls().end() - 2,
                                           fake_legal::calls().end());
  EXPECT_EQ(last,
            (std::vector<fake_legal::Call>{{"WriteWeight", {kOtherNode, 0x0101, 21}},
                                           {"WriteZeroIndication", {kOtherNode, 0x0202, 0}}}));
  EXPECT_EQ(TFormMainProbe::RQ730Id(*form), kModule);
}

TEST_F(FormWeighing, WeightThatStaysZeroKeepsTheWarmUp) {
  bootModule();
  for (int i = 0; i < 5; ++i) weight(0.0F);
  pdo(2, [] {});
  EXPECT_EQ(panel(), "warm up...");
  EXPECT_EQ(legalCalls().back(), "WriteDivision");
}

TEST_F(FormWeighing, WeightThatIsNoNumberShowsDashesAndLeavesTheClipboard) {
  bootModule();
  weight(std::numeric_limits<float>::quiet_NaN());
  EXPECT_FALSE(TFormMainProbe::WeightFound(*form));  // a NaN does not end the warm-up
  weight(7.0F);
  weight(7.0F);
  EXPECT_EQ(clipboard(), "7");
  weight(std::numeric_limits<float>::quiet_NaN());
  EXPECT_EQ(panel(), "---- kg");
  EXPECT_EQ(clipboard(), "7");
  weight(std::numeric_limits<float>::infinity());
  EXPECT_EQ(panel(), "---- kg");
  weight(8.0F);
  EXPECT_EQ(panel(), "8 kg");
}

TEST_F(FormWeighing, ZeroBeforeAnyModuleBootedIsReportedAndTheProgramGoesOn) {
  start();
  fake_driver::setResult("kcoSDO", 0x3205);
  form->ButtonZero->click();
  ASSERT_TRUE(spinUntil([&] { return !answerer.texts().isEmpty(); }));
  EXPECT_EQ(answerer.texts()[0].toStdString(),
            std::string("CANopen exception (code 3205h). ") + kcoGetText(0x3205));
  const auto sdo = fake_driver::callsOf("kcoSDO");
  ASSERT_EQ(sdo.size(), 1U);
  EXPECT_EQ(sdo[0].args, (std::vector<uint32_t>{0, 0x2003, 0, 0x3101, 0x3003, 0}));
  EXPECT_TRUE(form->isVisible());
}

TEST_F(FormWeighing, ZeroAddressesTheModuleAndInfoOpensTheLegalInformation) {
  form->ButtonInfo->click();  // before the legal display was started
  EXPECT_EQ(legalCalls(), std::vector<std::string>{"ShowInfo"});
  node.set(0x2003, 0, 9);
  bootModule();
  form->ButtonZero->click();
  EXPECT_EQ(node.get(0x2003, 0), 0U);
  EXPECT_TRUE(answerer.texts().isEmpty());
}

// The serial weight telegram, on a pseudo-terminal reached as a COM port.
class FormSerial : public FormWeighing {
 protected:
  void SetUp() override {
    FormWeighing::SetUp();
    if (!com.linked()) GTEST_SKIP() << "cannot create " << com.path() << " (needs write access to /dev)";
  }

  // The operator picks an entry of the port list.
  void choose(int index) {
    form->ComboBoxCom->setCurrentIndex(index);
    emit form->ComboBoxCom->activated(index);
  }

  ComLink com;
  const int kPortIndex = com.index();
  serial_test::PseudoTerminal& pty = com.pty();
};

namespace {

std::vector<uint8_t> telegram(uint8_t flag, uint8_t low, uint8_t high) {
  return {0x55, 0x55, 0x55, 0x55, 0x55, 0xAA, 0xAA, 0xD0, flag, low, high, 0xD0, flag, low, high,
          0x2A, 0x2A};
}

}  // namespace

TEST_F(FormSerial, OneTelegramPerDisplayedWeightWithTheLineSettingsOfTheTelegram) {
  bootModule();
  choose(kPortIndex);
  ASSERT_TRUE(answerer.texts().isEmpty()) << answerer.texts().join("|").toStdString();
  const termios line = pty.slaveAttributes();
  EXPECT_EQ(cfgetospeed(&line), B4800);
  EXPECT_NE(line.c_cflag & CSTOPB, 0U);
  EXPECT_EQ(line.c_cflag & CRTSCTS, 0U);
  EXPECT_EQ(line.c_iflag & (IXON | IXOFF), 0U);

  weight(12.5F);  // ends the warm-up: no telegram yet
  weight(12.5F);
  weight(13.5F);
  weight(-12.5F);
  weight(std::numeric_limits<float>::quiet_NaN());  // shown as dashes, not sent
  weight(40000.0F);
  EXPECT_EQ(panel(), "40000 kg");
  std::vector<uint8_t> expected;
  for (const auto& t : {telegram(0, 12, 0), telegram(0, 14, 0), telegram(2, 0xF4, 0xFF),
                        telegram(2, 0x40, 0x9C)}) {
    expected.insert(expected.end(), t.begin(), t.end());
  }
  EXPECT_EQ(pty.read(expected.size()), expected);
}

TEST_F(FormSerial, NoneClosesThePortAndWarmUpSendsNothing) {
  bootModule();
  choose(kPortIndex);
  weight(0.0F);
  weight(0.0F);
  EXPECT_TRUE(pty.read(1, std::chrono::milliseconds(30)).empty());
  choose(0);
  weight(5.0F);
  weight(5.0F);
  EXPECT_EQ(panel(), "5 kg");
  EXPECT_TRUE(pty.read(1, std::chrono::milliseconds(30)).empty());
}

TEST_F(FormSerial, PortThatVanishesFailsSilentlyAndChoosingItAgainReportsTheError) {
  bootModule();
  choose(kPortIndex);
  weight(3.0F);
  pty.closeMaster();  // the adapter is unplugged
  weight(4.0F);
  weight(5.0F);
  EXPECT_EQ(panel(), "5 kg");
  EXPECT_TRUE(answerer.texts().isEmpty());
  EXPECT_EQ(form->ComboBoxCom->currentIndex(), kPortIndex);

  choose(kPortIndex);
  ASSERT_TRUE(spinUntil([&] { return !answerer.texts().isEmpty(); }));
  EXPECT_EQ(answerer.texts(),
            QStringList{"The selected serial port is not available or already in use! Select "
                        "another one!"});
  EXPECT_EQ(answerer.titles(), QStringList{"Serial port error"});
  EXPECT_EQ(form->ComboBoxCom->currentIndex(), 0);
}

TEST_F(FormSerial, MissingPortFallsBackToNone) {
  choose(199);  // neither /dev/COM199 nor /dev/ttyS198 exists
  ASSERT_EQ(answerer.texts().size(), 1);
  EXPECT_EQ(form->ComboBoxCom->currentIndex(), 0);
  EXPECT_EQ(form->ComboBoxCom->currentText(), "none");
}
