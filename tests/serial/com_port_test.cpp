// Opening, writing and closing the serial port component on a pseudo-terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "CPort.h"
#include "pseudo_terminal.h"

namespace {

using serial_test::PseudoTerminal;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

// Runs `body`, which must raise EComPort, and hands the error back.
template <typename F>
EComPort raised(F&& body) {
  try {
    body();
  } catch (const EComPort& e) {
    return e;
  }
  ADD_FAILURE() << "no EComPort raised";
  return EComPort(0, -1);
}

class ComPortTest : public ::testing::Test {
 protected:
  void SetUp() override { port_.SetPort(pty_.slavePath()); }

  PseudoTerminal pty_;
  TComPort port_;
};

TEST(ComPortError, MessageCarriesTheSystemErrorNumberOnlyWhenThereIsOne) {
  const struct {
    int32_t code, winCode;
    const char* message;
    int32_t expectedWinCode;
  } cases[] = {
      {1, 2, "Unable to open com port (Error: 2)", 2},
      {2, 5, "WriteFile function failed (Error: 5)", 5},
      {24, -1, "Port Not Open", -1},
      {8, 0, "SetCommTimeouts failed", -1},
      {22, -1, "A component is linked to OnRxBuf event", -1},
  };
  for (const auto& c : cases) {
    const EComPort e(c.code, c.winCode);
    EXPECT_EQ(e.Message(), c.message);
    EXPECT_EQ(e.Code(), c.code);
    EXPECT_EQ(e.WinCode(), c.expectedWinCode);
  }
}

TEST(ComPortDefaults, InitialValues) {
  const TComPort port;
  EXPECT_EQ(port.Port(), "COM1");
  EXPECT_EQ(port.BaudRate(), br9600);
  EXPECT_EQ(port.CustomBaudRate(), 9600u);
  EXPECT_EQ(port.DataBits(), dbEight);
  EXPECT_EQ(port.StopBits(), sbOneStopBit);
  EXPECT_EQ(port.Parity().Bits(), prNone);
  EXPECT_FALSE(port.Parity().Check());
  EXPECT_EQ(port.FlowControl().ControlDTR(), dtrDisable);
  EXPECT_EQ(port.FlowControl().ControlRTS(), rtsDisable);
  EXPECT_FALSE(port.FlowControl().OutCTSFlow());
  EXPECT_FALSE(port.FlowControl().XonXoffOut());
  EXPECT_EQ(port.FlowControl().XonChar(), 0x11);
  EXPECT_EQ(port.FlowControl().XoffChar(), 0x13);
  EXPECT_EQ(port.Buffer().InputSize(), 1024);
  EXPECT_EQ(port.Buffer().OutputSize(), 1024);
  EXPECT_EQ(port.Timeouts().ReadInterval(), -1);
  EXPECT_EQ(port.Timeouts().WriteTotalMultiplier(), 100);
  EXPECT_EQ(port.Timeouts().WriteTotalConstant(), 1000);
  EXPECT_EQ(port.Events().size(), 10u);
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.Handle(), -1);
}

TEST(ComPortDefaults, OddBufferSizesAreStoredOneLess) {
  TComPort port;
  port.Buffer().SetInputSize(1025);
  port.Buffer().SetOutputSize(7);
  EXPECT_EQ(port.Buffer().InputSize(), 1024);
  EXPECT_EQ(port.Buffer().OutputSize(), 6);
  port.Buffer().SetInputSize(-3);  // only positive sizes are evened
  EXPECT_EQ(port.Buffer().InputSize(), -3);
}

TEST_F(ComPortTest, WritesTheLowByteOfEveryCodeUnit) {
  const struct {
    std::u16string text;
    Bytes bytes;
  } cases[] = {
      {u"\u0055\u00AA", {0x55, 0xAA}},
      {std::u16string(u"\u0000\u0041", 2), {0x00, 0x41}},  // NUL is an ordinary byte
      {u"\u0141", {0x41}},
      {u"\u0080", {0x80}},
      {u"\u009F\u00FF\uFFFF\n\r", {0x9F, 0xFF, 0xFF, 0x0A, 0x0D}},  // no translation
  };
  port_.Open();
  for (const auto& c : cases) {
    EXPECT_EQ(port_.WriteStr(c.text), static_cast<int32_t>(c.bytes.size()));
    EXPECT_EQ(pty_.read(c.bytes.size()), c.bytes);
  }
}

TEST_F(ComPortTest, EmptyTextWritesNothing) {
  port_.Open();
  EXPECT_EQ(port_.WriteStr(u""), 0);
  EXPECT_TRUE(pty_.read(0).empty());
  port_.Close();
  EXPECT_EQ(port_.WriteStr(u""), 0);  // not even on a closed port is there anything to do
}

TEST_F(ComPortTest, WriteOnClosedPortRaisesPortNotOpen) {
  const EComPort e = raised([&] { port_.WriteStr(u"UU"); });
  EXPECT_EQ(e.Code(), 24);
  EXPECT_EQ(e.Message(), "Port Not Open");
  EXPECT_EQ(e.WinCode(), -1);
  port_.Open();  // and nothing was queued for later
  EXPECT_TRUE(pty_.read(0).empty());
}

TEST_F(ComPortTest, OpenTwiceAndCloseTwiceDoNothing) {
  int opens = 0, closes = 0;
  port_.OnAfterOpen = [&](TCustomComPort*) { ++opens; };
  port_.OnAfterClose = [&](TCustomComPort*) { ++closes; };
  port_.Close();
  port_.Open();
  const int handle = port_.Handle();
  port_.Open();
  EXPECT_EQ(port_.Handle(), handle);
  port_.Close();
  port_.Close();
  EXPECT_EQ(opens, 1);
  EXPECT_EQ(closes, 1);
  EXPECT_EQ(port_.Handle(), -1);
}

TEST(ComPortOpen, MissingDeviceRaisesWithTheSystemErrorAndStaysClosed) {
  TComPort port;
  port.SetPort("/dev/no-such-serial-device");
  const EComPort e = raised([&] { port.Open(); });
  EXPECT_EQ(e.Code(), 1);
  EXPECT_EQ(e.WinCode(), ENOENT);
  EXPECT_EQ(e.Message(), "Unable to open com port (Error: " + std::to_string(ENOENT) + ")");
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.Handle(), -1);
}

TEST_F(ComPortTest, SecondPortOnTheSameDeviceFindsItInUse) {
  port_.Open();
  TComPort second;
  second.SetPort(pty_.slavePath());
  const EComPort e = raised([&] { second.Open(); });
  EXPECT_EQ(e.Code(), 1);
  EXPECT_EQ(e.WinCode(), EBUSY);
  EXPECT_FALSE(second.Connected());
  port_.Close();
  second.Open();  // free again once the first has let go
  EXPECT_TRUE(second.Connected());
}

TEST_F(ComPortTest, RefusedOpenLeavesTheHolderExclusive) {
  port_.Open();
  TComPort second;
  second.SetPort(pty_.slavePath());
  EXPECT_EQ(raised([&] { second.Open(); }).WinCode(), EBUSY);
  // The holder's claim on the terminal still stands, so other programs stay turned away.
  int exclusive = 0;
  ASSERT_EQ(::ioctl(pty_.slaveFd(), TIOCGEXCL, &exclusive), 0);
  EXPECT_NE(exclusive, 0);
  TComPort third;
  third.SetPort(pty_.slavePath());
  EXPECT_EQ(raised([&] { third.Open(); }).WinCode(), EBUSY);
  EXPECT_TRUE(port_.Connected());
}

TEST_F(ComPortTest, DestroyingThePortReleasesTheDevice) {
  {
    TComPort first;
    first.SetPort(pty_.slavePath());
    first.OnAfterClose = [](TCustomComPort*) { FAIL() << "owner event after destruction"; };
    first.Open();
  }
  port_.Open();
  EXPECT_TRUE(port_.Connected());
}

TEST(ComPortOpen, RefusedLineSettingsCloseTheDeviceAgain) {
  // A plain file opens fine but has no line settings.
  char path[] = "/tmp/serial_port_test_XXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  ::close(fd);
  for (int attempt = 0; attempt < 2; ++attempt) {  // the second finds the file free again
    TComPort port;
    port.SetPort(path);
    const EComPort e = raised([&] { port.Open(); });
    EXPECT_EQ(e.Code(), 7);
    EXPECT_EQ(e.WinCode(), ENOTTY);
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.Handle(), -1);
  }
  ::unlink(path);
}

TEST_F(ComPortTest, SettingsTheLineCannotCarryAreRefusedAtOpen) {
  const struct {
    const char* what;
    std::function<void(TComPort&)> set;
    int32_t code;
  } cases[] = {
      {"1.5 stop bits with 8 data bits", [](TComPort& p) { p.SetStopBits(sbOne5StopBits); }, 7},
      {"DSR flow", [](TComPort& p) { p.FlowControl().SetOutDSRFlow(true); }, 7},
      {"DTR handshake", [](TComPort& p) { p.FlowControl().SetControlDTR(dtrHandshake); }, 7},
      {"RTS toggle", [](TComPort& p) { p.FlowControl().SetControlRTS(rtsToggle); }, 7},
      {"rate 0", [](TComPort& p) { p.SetBaudRate(brCustom), p.SetCustomBaudRate(0); }, 7},
      {"negative queue", [](TComPort& p) { p.Buffer().SetOutputSize(-2); }, 9},
  };
  for (const auto& c : cases) {
    TComPort port;
    port.SetPort(pty_.slavePath());
    c.set(port);
    const EComPort e = raised([&] { port.Open(); });
    EXPECT_EQ(e.Code(), c.code) << c.what;
    EXPECT_EQ(e.WinCode(), EINVAL) << c.what;
    EXPECT_FALSE(port.Connected()) << c.what;
  }
  port_.Open();  // none of them kept the device
}

TEST_F(ComPortTest, VanishedDeviceFailsTheWriteAtOnceAndStillCloses) {
  port_.Open();
  pty_.closeMaster();
  const auto start = Clock::now();
  const EComPort e = raised([&] { port_.WriteStr(std::u16string(17, u'U')); });
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2700));  // the write time-out
  EXPECT_EQ(e.Code(), 2);
  EXPECT_EQ(e.WinCode(), EIO);
  EXPECT_EQ(e.Message(), "WriteFile function failed (Error: " + std::to_string(EIO) + ")");
  port_.Close();
  EXPECT_FALSE(port_.Connected());
}

TEST_F(ComPortTest, FullOutputQueueEndsTheWriteAtTheTimeout) {
  port_.Timeouts().SetWriteTotalMultiplier(0);
  port_.Timeouts().SetWriteTotalConstant(30);
  port_.Open();
  const std::u16string text(1 << 20, u'U');  // far more than the queue holds; nobody reads
  const auto start = Clock::now();
  const int32_t written = port_.WriteStr(text);
  const auto elapsed = Clock::now() - start;
  EXPECT_GT(written, 0);
  EXPECT_LT(written, static_cast<int32_t>(text.size()));
  EXPECT_GE(elapsed, std::chrono::milliseconds(30));
  EXPECT_LT(elapsed, std::chrono::seconds(10));
}

TEST_F(ComPortTest, DeviceVanishingDuringABlockedWriteEndsItBeforeTheTimeout) {
  port_.Timeouts().SetWriteTotalMultiplier(0);
  port_.Timeouts().SetWriteTotalConstant(20000);
  port_.Open();
  std::thread unplug([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    pty_.closeMaster();
  });
  const auto start = Clock::now();
  const EComPort e = raised([&] { port_.WriteStr(std::u16string(1 << 20, u'U')); });
  const auto elapsed = Clock::now() - start;
  unplug.join();
  EXPECT_EQ(e.Code(), 2);
  EXPECT_EQ(e.WinCode(), EIO);
  EXPECT_LT(elapsed, std::chrono::seconds(10));
}

TEST_F(ComPortTest, CloseDiscardsWhatWaitsForTransmission) {
  // Fill every queue between the two sides; the master side's reader then holds at most its
  // own line buffer (a few KB), the rest waits in the driver and must not arrive after Close.
  port_.Timeouts().SetWriteTotalMultiplier(0);
  port_.Timeouts().SetWriteTotalConstant(30);
  port_.Open();
  const int32_t written = port_.WriteStr(std::u16string(1 << 20, u'U'));
  ASSERT_GT(written, 8192);
  port_.Close();
  EXPECT_LT(pty_.read(static_cast<size_t>(written), std::chrono::milliseconds(100)).size(), 8192u);
}

TEST_F(ComPortTest, PortNameChangeReopensOnlyForADifferentName) {
  // Two names for the same device that differ only in case.
  const auto dir =
      std::filesystem::temp_directory_path() / ("serial_port_test_" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  std::filesystem::create_symlink(pty_.slavePath(), dir / "Pty");
  std::filesystem::create_symlink(pty_.slavePath(), dir / "pty");
  int opens = 0, closes = 0;
  port_.OnAfterOpen = [&](TCustomComPort*) { ++opens; };
  port_.OnAfterClose = [&](TCustomComPort*) { ++closes; };
  port_.SetPort((dir / "Pty").string());
  port_.SetPort((dir / "Pty").string());
  EXPECT_EQ(opens + closes, 0);  // closed: only stored
  port_.Open();
  port_.SetPort((dir / "Pty").string());
  EXPECT_EQ(closes, 0);
  port_.SetPort((dir / "pty").string());
  EXPECT_EQ(closes, 1);
  EXPECT_EQ(opens, 2);
  EXPECT_TRUE(port_.Connected());
  // Reopening under a name that does not open leaves the port closed under the new name.
  EXPECT_EQ(raised([&] { port_.SetPort("/dev/no-such-serial-device"); }).Code(), 1);
  EXPECT_FALSE(port_.Connected());
  EXPECT_EQ(port_.Port(), "/dev/no-such-serial-device");
  std::filesystem::remove_all(dir);
}

TEST_F(ComPortTest, MonitorSettingsCannotChangeWhileOpen) {
  port_.Open();
  EXPECT_EQ(raised([&] { port_.SetSyncMethod(smNone); }).Code(), 14);
  EXPECT_EQ(raised([&] { port_.SetEventThreadPriority(tpHigher); }).Code(), 14);
  port_.SetSyncMethod(smThreadSync);  // the current value is no change
  port_.Close();
  port_.SetSyncMethod(smNone);
  EXPECT_EQ(port_.SyncMethod(), smNone);
}

TEST_F(ComPortTest, ExceptionHookReceivesErrorsInsteadOfTheCaller) {
  std::vector<int32_t> codes;
  port_.OnException = [&](TCustomComPort* sender, const EComPort& e) {
    EXPECT_EQ(sender, &port_);
    codes.push_back(e.Code());
  };
  EXPECT_EQ(port_.WriteStr(u"U"), 0);
  port_.SetPort("/dev/no-such-serial-device");
  port_.Open();
  EXPECT_FALSE(port_.Connected());
  EXPECT_EQ(codes, (std::vector<int32_t>{24, 1}));
}

}  // namespace
