// Line settings as the device sees them after Open and after changes while open.
#include <gtest/gtest.h>
#include <termios.h>

#include <variant>

#include "CPort.h"
#include "custom_speed.h"
#include "line_settings.h"
#include "pseudo_terminal.h"

namespace {

using serial_test::PseudoTerminal;

class LineSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { port_.SetPort(pty_.slavePath()); }
  speed_t speed() const {
    const termios t = pty_.slaveAttributes();
    return cfgetospeed(&t);
  }

  PseudoTerminal pty_;
  TComPort port_;
};

// A terminal as a program may leave it: line editing, echo, output processing, flow control.
termios cookedAttributes() {
  termios t{};
  t.c_iflag = ICRNL | IXON | IXOFF | IXANY | INPCK | ISTRIP | IGNPAR;
  t.c_oflag = OPOST | ONLCR;
  t.c_cflag = CS7 | PARENB | PARODD | CRTSCTS | HUPCL;
  t.c_lflag = ICANON | ECHO | ISIG | IEXTEN;
  cfsetospeed(&t, B9600);
  cfsetispeed(&t, B9600);
  return t;
}

TEST(LineAttributes, TelegramSettingsGiveRawEvenParityTwoStopBits) {
  serial_port::LineSettings settings;
  settings.baudRate = 4800;
  settings.dataBits = 8;
  settings.parity = serial_port::Parity::kEven;
  settings.stopBits = serial_port::StopBits::kTwo;
  const auto made = serial_port::makeAttributes(cookedAttributes(), settings);
  ASSERT_TRUE(std::holds_alternative<termios>(made));
  const termios& t = std::get<termios>(made);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B4800));
  EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B4800));
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), static_cast<tcflag_t>(PARENB));
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  EXPECT_FALSE(t.c_cflag & CRTSCTS);
  EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  // Parity generated, not checked; no software flow control; raw.
  EXPECT_FALSE(t.c_iflag & (INPCK | IGNPAR | PARMRK | IXON | IXOFF | IXANY));
  EXPECT_FALSE(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP));
  EXPECT_FALSE(t.c_oflag & OPOST);
  EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN));
}

TEST(LineAttributes, FormatsTheLineCannotCarryAreRefused) {
  const auto settingsWith = [](int dataBits, uint32_t rate, serial_port::StopBits stopBits) {
    serial_port::LineSettings s;
    s.dataBits = dataBits;
    s.baudRate = rate;
    s.stopBits = stopBits;
    return s;
  };
  using serial_port::StopBits;
  const serial_port::LineSettings refused[] = {
      settingsWith(4, 9600, StopBits::kOne),        settingsWith(9, 9600, StopBits::kOne),
      settingsWith(8, 0, StopBits::kOne),           settingsWith(6, 9600, StopBits::kOneAndHalf),
      settingsWith(8, 9600, StopBits::kOneAndHalf),
  };
  for (const auto& settings : refused) {
    const auto made = serial_port::makeAttributes(cookedAttributes(), settings);
    ASSERT_TRUE(std::holds_alternative<serial_port::SystemError>(made)) << settings.dataBits;
    EXPECT_EQ(std::get<serial_port::SystemError>(made).number, EINVAL);
  }
}

// A pseudo-terminal keeps rate, stop bits, the parity kind and the flow control it is given but
// always reports 8 data bits without parity: those two are checked on the attributes above.
TEST_F(LineSettingsTest, TelegramSettingsReachTheDevice) {
  port_.SetBaudRate(br4800);
  port_.SetDataBits(dbEight);
  port_.SetStopBits(sbTwoStopBits);
  port_.Parity().SetBits(prEven);
  port_.Open();
  ASSERT_TRUE(port_.Connected());

  const termios t = pty_.slaveAttributes();
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B4800));
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_FALSE(t.c_cflag & (PARODD | CMSPAR));
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  EXPECT_FALSE(t.c_cflag & CRTSCTS);
  EXPECT_TRUE(t.c_cflag & CLOCAL);
  EXPECT_TRUE(t.c_cflag & CREAD);
  EXPECT_FALSE(t.c_iflag & (INPCK | IXON | IXOFF | IXANY));
  EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN));
  EXPECT_FALSE(t.c_oflag & OPOST);
  EXPECT_FALSE(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP));
}

struct FormatCase {
  TDataBits dataBits;
  TParityBits parity;
  TStopBits stopBits;
  tcflag_t size;
  tcflag_t parityFlags;  // PARENB | PARODD | CMSPAR as expected
  bool twoStopBits;
};

const FormatCase kFormats[] = {
    {dbEight, prNone, sbOneStopBit, CS8, 0, false},
    {dbSeven, prOdd, sbOneStopBit, CS7, PARENB | PARODD, false},
    {dbSix, prEven, sbTwoStopBits, CS6, PARENB, true},
    {dbEight, prMark, sbOneStopBit, CS8, PARENB | PARODD | CMSPAR, false},
    {dbEight, prSpace, sbTwoStopBits, CS8, PARENB | CMSPAR, true},
    {dbFive, prNone, sbOne5StopBits, CS5, 0, true},  // the UART's 1.5 stop bits
};

TEST(LineAttributes, CharacterFormats) {
  for (const auto& c : kFormats) {
    serial_port::LineSettings settings;
    settings.dataBits = 5 + c.dataBits;
    settings.parity = static_cast<serial_port::Parity>(c.parity);
    settings.stopBits = static_cast<serial_port::StopBits>(c.stopBits);
    const auto made = serial_port::makeAttributes(cookedAttributes(), settings);
    ASSERT_TRUE(std::holds_alternative<termios>(made));
    const termios& t = std::get<termios>(made);
    EXPECT_EQ(t.c_cflag & CSIZE, c.size) << int(c.dataBits);
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), c.parityFlags) << int(c.parity);
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.twoStopBits) << int(c.stopBits);
  }
}

TEST_F(LineSettingsTest, CharacterFormatChangesWhileOpenReachTheDevice) {
  port_.Open();
  for (const auto& c : kFormats) {
    SCOPED_TRACE(testing::Message() << int(c.dataBits) << int(c.parity) << int(c.stopBits));
    port_.SetDataBits(c.dataBits);
    port_.Parity().SetBits(c.parity);
    port_.SetStopBits(c.stopBits);
    const termios t = pty_.slaveAttributes();
    EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR), c.parityFlags & (PARODD | CMSPAR)) << int(c.parity);
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.twoStopBits) << int(c.stopBits);
  }
}

TEST_F(LineSettingsTest, BitRatesInsideAndOutsideTheTermiosTable) {
  const std::pair<TBaudRate, uint32_t> cases[] = {
      {br110, 110},     {br9600, 9600},     {br14400, 14400},   {br56000, 56000},
      {br57600, 57600}, {br115200, 115200}, {br128000, 128000}, {br256000, 256000},
  };
  port_.Open();
  for (const auto& [rate, bitsPerSecond] : cases) {
    port_.SetBaudRate(rate);
    EXPECT_EQ(serial_port::outputSpeed(pty_.slaveFd()), bitsPerSecond);
  }
  port_.SetCustomBaudRate(31250);  // stored only: BaudRate is not brCustom
  EXPECT_EQ(serial_port::outputSpeed(pty_.slaveFd()), 256000u);
  port_.SetBaudRate(brCustom);
  EXPECT_EQ(serial_port::outputSpeed(pty_.slaveFd()), 31250u);
}

TEST_F(LineSettingsTest, FlowControlThatTermiosCarries) {
  port_.FlowControl().SetOutCTSFlow(true);
  port_.FlowControl().SetXonXoffOut(true);
  port_.FlowControl().SetXonXoffIn(true);
  port_.FlowControl().SetXonChar(u'\x01');
  port_.FlowControl().SetXoffChar(u'\x0102');  // only the low byte counts
  port_.Open();
  const termios t = pty_.slaveAttributes();
  EXPECT_TRUE(t.c_cflag & CRTSCTS);
  EXPECT_TRUE(t.c_iflag & IXON);
  EXPECT_TRUE(t.c_iflag & IXOFF);
  EXPECT_EQ(t.c_cc[VSTART], 0x01);
  EXPECT_EQ(t.c_cc[VSTOP], 0x02);
}

TEST_F(LineSettingsTest, ChangesWhileClosedOnlyStored) {
  const termios before = pty_.slaveAttributes();
  port_.SetBaudRate(br1200);
  port_.SetStopBits(sbTwoStopBits);
  const termios after = pty_.slaveAttributes();
  EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
  EXPECT_EQ(after.c_cflag, before.c_cflag);
  port_.Open();
  EXPECT_EQ(speed(), static_cast<speed_t>(B1200));
  EXPECT_TRUE(pty_.slaveAttributes().c_cflag & CSTOPB);
}

TEST_F(LineSettingsTest, SameValueWhileOpenAppliesNothing) {
  port_.SetBaudRate(br4800);
  port_.Open();
  // Somebody else changes the device; writing the current value must not touch it.
  termios t = pty_.slaveAttributes();
  cfsetospeed(&t, B300);
  ASSERT_EQ(tcsetattr(pty_.slaveFd(), TCSANOW, &t), 0);
  port_.SetBaudRate(br4800);
  EXPECT_EQ(speed(), static_cast<speed_t>(B300));
  port_.SetBaudRate(br19200);
  EXPECT_EQ(speed(), static_cast<speed_t>(B19200));
}

TEST_F(LineSettingsTest, UpdateBlockDefersChangesUntilItsEnd) {
  port_.Open();
  port_.BeginUpdate();
  port_.BeginUpdate();
  port_.SetBaudRate(br2400);
  port_.Parity().SetBits(prOdd);
  port_.EndUpdate();
  EXPECT_EQ(speed(), static_cast<speed_t>(B9600));
  port_.EndUpdate();
  const termios t = pty_.slaveAttributes();
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B2400));
  EXPECT_TRUE(t.c_cflag & PARODD);
  port_.EndUpdate();  // below 0 it stays at 0
  port_.SetBaudRate(br600);
  EXPECT_EQ(speed(), static_cast<speed_t>(B600));
}

TEST_F(LineSettingsTest, RefusedChangeWhileOpenRaisesAndKeepsThePortOpen) {
  port_.Open();
  try {
    port_.SetStopBits(sbOne5StopBits);  // not with 8 data bits
    FAIL() << "no error";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.Code(), 7);
    EXPECT_EQ(e.WinCode(), EINVAL);
  }
  EXPECT_TRUE(port_.Connected());
  EXPECT_EQ(port_.StopBits(), sbOne5StopBits);  // stored all the same
}

}  // namespace
