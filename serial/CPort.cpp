#include "CPort.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <limits>
#include <variant>
#include <vector>

#include "line_settings.h"
#include "port_name.h"
#include "tty_device.h"

namespace {

constexpr std::array<uint32_t, 16> kBaudRates{0,     110,    300,    600,   1200,  2400,
                                              4800,  9600,   14400,  19200, 38400, 56000,
                                              57600, 115200, 128000, 256000};

// A time-out value as the device takes it: -1 (and every negative value) as its 32-bit pattern,
// so -1 is 0xFFFFFFFF ms.
int64_t deviceValue(int32_t value) { return static_cast<int64_t>(static_cast<uint32_t>(value)); }

// multiplier * size + constant, saturated at about 35 years, which stands for "no limit" and
// keeps every deadline computed from it in range.
int64_t WriteTimeoutMs(int64_t multiplier, int64_t constant, size_t size) {
  constexpr int64_t kMaxMs = int64_t{1} << 40;
  const auto count = static_cast<uint64_t>(size);
  if (multiplier > 0 && count > static_cast<uint64_t>((kMaxMs - constant) / multiplier)) {
    return kMaxMs;
  }
  return std::min(kMaxMs, multiplier * static_cast<int64_t>(count) + constant);
}

}  // namespace

uint32_t BaudRateToInt(TBaudRate BaudRate) {
  const auto index = static_cast<size_t>(BaudRate);
  return index < kBaudRates.size() ? kBaudRates[index] : 0;
}

// ---- settings objects ----

void TComParity::Changed() { FComPort->LineSettingsChanged(); }

void TComParity::SetBits(TParityBits Value) {
  if (Value == FBits) return;
  FBits = Value;
  Changed();
}

void TComParity::SetCheck(bool Value) {
  if (Value == FCheck) return;
  FCheck = Value;
  Changed();
}

void TComParity::SetReplace(bool Value) {
  if (Value == FReplace) return;
  FReplace = Value;
  Changed();
}

void TComParity::SetReplaceChar(char16_t Value) {
  if (Value == FReplaceChar) return;
  FReplaceChar = Value;
  Changed();
}

template <typename T>
void TComFlowControl::Set(T& field, T Value) {
  if (Value == field) return;
  field = Value;
  FComPort->LineSettingsChanged();
}

void TComFlowControl::SetOutCTSFlow(bool Value) { Set(FOutCTSFlow, Value); }
void TComFlowControl::SetOutDSRFlow(bool Value) { Set(FOutDSRFlow, Value); }
void TComFlowControl::SetControlDTR(TDTRFlowControl Value) { Set(FControlDTR, Value); }
void TComFlowControl::SetControlRTS(TRTSFlowControl Value) { Set(FControlRTS, Value); }
void TComFlowControl::SetXonXoffOut(bool Value) { Set(FXonXoffOut, Value); }
void TComFlowControl::SetXonXoffIn(bool Value) { Set(FXonXoffIn, Value); }
void TComFlowControl::SetDSRSensitivity(bool Value) { Set(FDSRSensitivity, Value); }
void TComFlowControl::SetTxContinueOnXoff(bool Value) { Set(FTxContinueOnXoff, Value); }
void TComFlowControl::SetXonChar(char16_t Value) { Set(FXonChar, Value); }
void TComFlowControl::SetXoffChar(char16_t Value) { Set(FXoffChar, Value); }

void TComBuffer::Set(int32_t& field, int32_t Value) {
  if (Value > 0 && Value % 2 == 1) --Value;
  if (Value == field) return;
  field = Value;
  FComPort->BufferChanged();
}

void TComBuffer::SetInputSize(int32_t Value) { Set(FInputSize, Value); }
void TComBuffer::SetOutputSize(int32_t Value) { Set(FOutputSize, Value); }

void TComTimeouts::Set(int32_t& field, int32_t Value) {
  if (Value == field) return;
  field = Value;
  FComPort->TimeoutsChanged();
}

void TComTimeouts::SetReadInterval(int32_t Value) { Set(FReadInterval, Value); }
void TComTimeouts::SetReadTotalMultiplier(int32_t Value) { Set(FReadTotalMultiplier, Value); }
void TComTimeouts::SetReadTotalConstant(int32_t Value) { Set(FReadTotalConstant, Value); }
void TComTimeouts::SetWriteTotalMultiplier(int32_t Value) { Set(FWriteTotalMultiplier, Value); }
void TComTimeouts::SetWriteTotalConstant(int32_t Value) { Set(FWriteTotalConstant, Value); }

// ---- the port ----

TCustomComPort::TCustomComPort() = default;

TCustomComPort::~TCustomComPort() {
  OnBeforeOpen = nullptr;
  OnAfterOpen = nullptr;
  OnBeforeClose = nullptr;
  OnAfterClose = nullptr;
  OnCTSChange = nullptr;
  OnDSRChange = nullptr;
  OnRLSDChange = nullptr;
  OnException = nullptr;
  try {
    Close();
  } catch (...) {
    // The discard failed; the device is released below all the same.
  }
  if (FHandle >= 0) CloseDevice();
}

void TCustomComPort::CallException(int32_t Code, int32_t WinCode) const {
  throw EComPort(Code, WinCode);
}

template <typename F>
void TCustomComPort::Guarded(F&& Body) {
  try {
    Body();
  } catch (const EComPort& error) {
    if (!OnException) throw;
    OnException(this, error);
  }
}

void TCustomComPort::Open() {
  Guarded([this] { OpenDevice(); });
}

void TCustomComPort::Close() {
  Guarded([this] {
    if (!FConnected) return;
    ReportSignals();
    if (OnBeforeClose) OnBeforeClose(this);
    // What the driver still holds for transmission is dropped, not sent after the close.
    if (auto error = serial_port::discardQueues(FHandle)) {
      // A device that is gone has nothing left to discard and must still be released, or it
      // could never be closed (nor chosen again) until the program ends.
      if (!serial_port::isDeviceGone(error->number)) CallException(cePurgeFailed, error->number);
    }
    CloseDevice();
    if (OnAfterClose) OnAfterClose(this);
  });
}

void TCustomComPort::OpenDevice() {
  if (FConnected) return;
  if (OnBeforeOpen) OnBeforeOpen(this);
  const auto opened = serial_port::openExclusive(serial_port::resolvePortName(FPort));
  if (const auto* error = std::get_if<serial_port::SystemError>(&opened)) {
    CallException(ceOpenFailed, error->number);
  }
  FHandle = std::get<int>(opened);
  FConnected = true;
  try {
    ApplyBuffer();
    ApplyLineSettings();
    ApplyTimeouts();
  } catch (const EComPort&) {
    CloseDevice();
    throw;
  }
  if (OnAfterOpen) OnAfterOpen(this);
  // The three input lines, one read each, as the owner's change events see them after opening.
  const std::array<std::pair<TComSignalEvent*, bool serial_port::ModemStatus::*>, 3> signals{{
      {&OnCTSChange, &serial_port::ModemStatus::cts},
      {&OnDSRChange, &serial_port::ModemStatus::dsr},
      {&OnRLSDChange, &serial_port::ModemStatus::rlsd},
  }};
  for (const auto& [event, line] : signals) {
    const auto status = serial_port::readModemStatus(FHandle);
    if (const auto* error = std::get_if<serial_port::SystemError>(&status)) {
      CallException(ceModemStatFailed, error->number);
    }
    if (*event) (*event)(this, std::get<serial_port::ModemStatus>(status).*line);
  }
}

void TCustomComPort::CloseDevice() {
  serial_port::closeDevice(FHandle);
  FHandle = -1;
  FConnected = false;
}

void TCustomComPort::ReportSignals() {
  if (OnCTSChange) OnCTSChange(this, false);
  if (OnDSRChange) OnDSRChange(this, false);
  if (OnRLSDChange) OnRLSDChange(this, false);
}

void TCustomComPort::AbortAllAsync() {
  Guarded([this] {
    if (!FConnected) return;
    if (auto error = serial_port::discardQueues(FHandle)) {
      CallException(cePurgeFailed, error->number);
    }
  });
}

void TCustomComPort::ApplyBuffer() {
  // Linux sizes its queues itself; sizes it could never have are refused.
  if (FBuffer.InputSize() < 0 || FBuffer.OutputSize() < 0) CallException(ceSetupComFailed, EINVAL);
}

void TCustomComPort::ApplyLineSettings() {
  const TComFlowControl& flow = FFlowControl;
  // Flow control the terminal interface cannot do: accepting it would send regardless of the
  // peer's state, so the line settings are refused instead.
  if (flow.OutDSRFlow() || flow.ControlDTR() == dtrHandshake || flow.ControlRTS() == rtsToggle) {
    CallException(ceSetStateFailed, EINVAL);
  }
  serial_port::LineSettings settings;
  settings.baudRate = FBaudRate == brCustom ? FCustomBaudRate : BaudRateToInt(FBaudRate);
  settings.dataBits = 5 + static_cast<int>(FDataBits);
  settings.parity = static_cast<serial_port::Parity>(FParity.Bits());
  settings.stopBits = static_cast<serial_port::StopBits>(FStopBits);
  settings.parityCheck = FParity.Check();
  settings.rtsCtsFlow = flow.OutCTSFlow() || flow.ControlRTS() == rtsHandshake;
  settings.xonXoffOut = flow.XonXoffOut();
  settings.xonXoffIn = flow.XonXoffIn();
  settings.xonChar = static_cast<uint8_t>(flow.XonChar() & 0xFF);
  settings.xoffChar = static_cast<uint8_t>(flow.XoffChar() & 0xFF);
  settings.dtrOn = flow.ControlDTR() == dtrEnable;
  settings.rtsOn = flow.ControlRTS() == rtsEnable;
  if (auto error = serial_port::applyLineSettings(FHandle, settings)) {
    CallException(ceSetStateFailed, error->number);
  }
}

void TCustomComPort::ApplyTimeouts() {
  FWriteMultiplier = deviceValue(FTimeouts.WriteTotalMultiplier());
  FWriteConstant = deviceValue(FTimeouts.WriteTotalConstant());
}

void TCustomComPort::LineSettingsChanged() {
  Guarded([this] {
    if (CanApply()) ApplyLineSettings();
  });
}

void TCustomComPort::TimeoutsChanged() {
  Guarded([this] {
    if (CanApply()) ApplyTimeouts();
  });
}

void TCustomComPort::BufferChanged() {
  Guarded([this] {
    if (CanApply()) ApplyBuffer();
  });
}

void TCustomComPort::BeginUpdate() { ++FUpdateCount; }

void TCustomComPort::EndUpdate() {
  if (FUpdateCount == 0) return;
  --FUpdateCount;
  if (FUpdateCount > 0 || !FConnected) return;
  Guarded([this] {
    ApplyBuffer();
    ApplyLineSettings();
    ApplyTimeouts();
  });
}

void TCustomComPort::SetConnected(bool Value) {
  if (Value == FConnected) return;
  if (Value) {
    Open();
  } else {
    Close();
  }
}

void TCustomComPort::SetPort(const std::string& Value) {
  if (Value == FPort) return;
  FPort = Value;
  if (!FConnected) return;
  Close();
  Open();
}

void TCustomComPort::SetBaudRate(TBaudRate Value) {
  if (Value == FBaudRate) return;
  FBaudRate = Value;
  LineSettingsChanged();
}

void TCustomComPort::SetCustomBaudRate(uint32_t Value) {
  if (Value == FCustomBaudRate) return;
  FCustomBaudRate = Value;
  LineSettingsChanged();
}

void TCustomComPort::SetDataBits(TDataBits Value) {
  if (Value == FDataBits) return;
  FDataBits = Value;
  LineSettingsChanged();
}

void TCustomComPort::SetStopBits(TStopBits Value) {
  if (Value == FStopBits) return;
  FStopBits = Value;
  LineSettingsChanged();
}

void TCustomComPort::SetDiscardNull(bool Value) {
  if (Value == FDiscardNull) return;
  FDiscardNull = Value;
  LineSettingsChanged();
}

void TCustomComPort::SetEventChar(char16_t Value) {
  if (Value == FEventChar) return;
  FEventChar = Value;
  LineSettingsChanged();
}

void TCustomComPort::SetSyncMethod(TSyncMethod Value) {
  Guarded([&] {
    if (Value == FSyncMethod) return;
    if (FConnected) CallException(ceConnChangeProp);
    FSyncMethod = Value;
  });
}

void TCustomComPort::SetEventThreadPriority(TThreadPriority Value) {
  Guarded([&] {
    if (Value == FEventThreadPriority) return;
    if (FConnected) CallException(ceConnChangeProp);
    FEventThreadPriority = Value;
  });
}

int32_t TCustomComPort::WriteStr(const std::u16string& Str) {
  int32_t result = 0;
  Guarded([&] {
    if (Str.empty()) return;
    if (!FConnected) CallException(cePortNotOpen);
    // One byte per code unit, its low 8 bits: U+0000 is an ordinary byte, U+0141 gives 0x41.
    std::vector<uint8_t> bytes(Str.size());
    std::transform(Str.begin(), Str.end(), bytes.begin(),
                   [](char16_t unit) { return static_cast<uint8_t>(unit & 0xFF); });
    std::optional<std::chrono::milliseconds> timeout;
    if (FWriteMultiplier != 0 || FWriteConstant != 0) {
      timeout =
          std::chrono::milliseconds(WriteTimeoutMs(FWriteMultiplier, FWriteConstant, bytes.size()));
    }
    const auto outcome = serial_port::writeAll(FHandle, bytes.data(), bytes.size(), timeout);
    if (outcome.error) CallException(ceWriteFailed, outcome.error->number);
    result = static_cast<int32_t>(
        std::min<size_t>(outcome.written, std::numeric_limits<int32_t>::max()));
  });
  return result;
}
