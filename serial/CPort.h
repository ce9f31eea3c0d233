// TComPort: the serial port component. It owns one serial device: opens it by name (exclusively),
// applies queue sizes, line settings and time-outs, writes text to it as bytes and closes it.
// All behaviour lives in TCustomComPort; TComPort only makes it the published class.
//
// Every failure raises EComPort (or, when OnException is assigned, goes to that hook instead and
// the operation ends there). All calls come from one thread; there is no monitor thread: no
// line event is ever consumed, and Close discards both driver queues itself.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>

#include "CPortErrors.h"

enum TBaudRate : uint8_t {
  brCustom,  // CustomBaudRate
  br110,
  br300,
  br600,
  br1200,
  br2400,
  br4800,
  br9600,
  br14400,
  br19200,
  br38400,
  br56000,
  br57600,
  br115200,
  br128000,
  br256000,
};
enum TDataBits : uint8_t { dbFive, dbSix, dbSeven, dbEight };
// One and a half stop bits exist only for 5-bit characters (the UART sends them when asked for
// two); with longer characters the line settings are refused (error 7).
enum TStopBits : uint8_t { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TParityBits : uint8_t { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl : uint8_t { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl : uint8_t { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TComEvent : uint8_t {
  evRxChar,
  evTxEmpty,
  evRxFlag,
  evRing,
  evBreak,
  evCTS,
  evDSR,
  evError,
  evRLSD,
  evRx80Full,
};
using TComEvents = std::set<TComEvent>;
enum TSyncMethod : uint8_t { smThreadSync, smWindowSync, smNone };
enum TThreadPriority : uint8_t {
  tpIdle,
  tpLowest,
  tpLower,
  tpNormal,
  tpHigher,
  tpHighest,
  tpTimeCritical,
};

// The bit rate of a TBaudRate; 0 for brCustom (which uses CustomBaudRate).
uint32_t BaudRateToInt(TBaudRate BaudRate);

class TCustomComPort;

using TComNotifyEvent = std::function<void(TCustomComPort* Sender)>;
using TComSignalEvent = std::function<void(TCustomComPort* Sender, bool OnOff)>;
// Receives the errors of the component instead of the raised EComPort.
using TComExceptionEvent = std::function<void(TCustomComPort* Sender, const EComPort& Error)>;

// Parity settings. Changing one re-applies the line settings of an open port.
class TComParity {
 public:
  explicit TComParity(TCustomComPort* ComPort) : FComPort(ComPort) {}
  TComParity(const TComParity&) = delete;
  TComParity& operator=(const TComParity&) = delete;

  // Parity generated on transmit.
  TParityBits Bits() const { return FBits; }
  void SetBits(TParityBits Value);
  // Parity checking of received characters.
  bool Check() const { return FCheck; }
  void SetCheck(bool Value);
  bool Replace() const { return FReplace; }
  void SetReplace(bool Value);
  char16_t ReplaceChar() const { return FReplaceChar; }
  void SetReplaceChar(char16_t Value);

 private:
  void Changed();

  TCustomComPort* FComPort;
  TParityBits FBits = prNone;
  bool FCheck = false;
  bool FReplace = false;
  char16_t FReplaceChar = 0;
};

// Flow control and modem lines. Changing one re-applies the line settings of an open port.
// What the terminal interface carries: RTS/CTS handshake (OutCTSFlow or rtsHandshake), XON/XOFF
// in both directions with their characters, DTR and RTS held on or off. DSR output flow,
// DTR handshake and RTS toggling have no counterpart there and are refused (error 7);
// DSRSensitivity and TxContinueOnXoff are kept but have no effect.
class TComFlowControl {
 public:
  explicit TComFlowControl(TCustomComPort* ComPort) : FComPort(ComPort) {}
  TComFlowControl(const TComFlowControl&) = delete;
  TComFlowControl& operator=(const TComFlowControl&) = delete;

  bool OutCTSFlow() const { return FOutCTSFlow; }
  void SetOutCTSFlow(bool Value);
  bool OutDSRFlow() const { return FOutDSRFlow; }
  void SetOutDSRFlow(bool Value);
  TDTRFlowControl ControlDTR() const { return FControlDTR; }
  void SetControlDTR(TDTRFlowControl Value);
  TRTSFlowControl ControlRTS() const { return FControlRTS; }
  void SetControlRTS(TRTSFlowControl Value);
  bool XonXoffOut() const { return FXonXoffOut; }
  void SetXonXoffOut(bool Value);
  bool XonXoffIn() const { return FXonXoffIn; }
  void SetXonXoffIn(bool Value);
  bool DSRSensitivity() const { return FDSRSensitivity; }
  void SetDSRSensitivity(bool Value);
  bool TxContinueOnXoff() const { return FTxContinueOnXoff; }
  void SetTxContinueOnXoff(bool Value);
  char16_t XonChar() const { return FXonChar; }
  void SetXonChar(char16_t Value);
  char16_t XoffChar() const { return FXoffChar; }
  void SetXoffChar(char16_t Value);

 private:
  template <typename T>
  void Set(T& field, T Value);

  TCustomComPort* FComPort;
  bool FOutCTSFlow = false;
  bool FOutDSRFlow = false;
  TDTRFlowControl FControlDTR = dtrDisable;
  TRTSFlowControl FControlRTS = rtsDisable;
  bool FXonXoffOut = false;
  bool FXonXoffIn = false;
  bool FDSRSensitivity = false;
  bool FTxContinueOnXoff = false;
  char16_t FXonChar = 0x11;
  char16_t FXoffChar = 0x13;
};

// Driver queue sizes in bytes. A positive odd size is stored one less. Linux keeps its own
// queue sizes; a negative size is refused (error 9).
class TComBuffer {
 public:
  explicit TComBuffer(TCustomComPort* ComPort) : FComPort(ComPort) {}
  TComBuffer(const TComBuffer&) = delete;
  TComBuffer& operator=(const TComBuffer&) = delete;

  int32_t InputSize() const { return FInputSize; }
  void SetInputSize(int32_t Value);
  int32_t OutputSize() const { return FOutputSize; }
  void SetOutputSize(int32_t Value);

 private:
  void Set(int32_t& field, int32_t Value);

  TCustomComPort* FComPort;
  int32_t FInputSize = 1024;
  int32_t FOutputSize = 1024;
};

// Time-outs in ms; -1 stands for 0xFFFFFFFF. A write of n bytes may take
// WriteTotalMultiplier * n + WriteTotalConstant ms (no limit when both are 0); the read
// time-outs are kept only, as the component does not read.
class TComTimeouts {
 public:
  explicit TComTimeouts(TCustomComPort* ComPort) : FComPort(ComPort) {}
  TComTimeouts(const TComTimeouts&) = delete;
  TComTimeouts& operator=(const TComTimeouts&) = delete;

  int32_t ReadInterval() const { return FReadInterval; }
  void SetReadInterval(int32_t Value);
  int32_t ReadTotalMultiplier() const { return FReadTotalMultiplier; }
  void SetReadTotalMultiplier(int32_t Value);
  int32_t ReadTotalConstant() const { return FReadTotalConstant; }
  void SetReadTotalConstant(int32_t Value);
  int32_t WriteTotalMultiplier() const { return FWriteTotalMultiplier; }
  void SetWriteTotalMultiplier(int32_t Value);
  int32_t WriteTotalConstant() const { return FWriteTotalConstant; }
  void SetWriteTotalConstant(int32_t Value);

 private:
  void Set(int32_t& field, int32_t Value);

  TCustomComPort* FComPort;
  int32_t FReadInterval = -1;
  int32_t FReadTotalMultiplier = 0;
  int32_t FReadTotalConstant = 0;
  int32_t FWriteTotalMultiplier = 100;
  int32_t FWriteTotalConstant = 1000;
};

class TCustomComPort {
 public:
  TCustomComPort();
  // Closes the device. Owner events are dropped first (the owner may be half destroyed), and the
  // device is released even when the close reports an error.
  virtual ~TCustomComPort();
  TCustomComPort(const TCustomComPort&) = delete;
  TCustomComPort& operator=(const TCustomComPort&) = delete;

  // Opens the device named by Port and applies queue sizes, line settings and time-outs, in this
  // order; nothing happens when the port is already open. A device that cannot be opened or is
  // in use raises error 1 (with the system error number); a refused setting raises 9, 7 or 8 and
  // leaves the port closed.
  void Open();
  // Discards what waits in both driver queues and closes the device; nothing happens when the
  // port is closed. A failing discard raises error 5 and leaves the port open, except on a
  // device that is gone, which is closed all the same.
  void Close();
  // Writes one byte per UTF-16 code unit (its low 8 bits) and blocks until all are written, the
  // write time-out has elapsed or the device failed; returns the number of bytes written. An
  // empty text writes nothing and returns 0. A closed port raises error 24, a failing device
  // error 2 with the system error number.
  int32_t WriteStr(const std::u16string& Str);
  // Drops what waits in both driver queues (error 5 on failure; nothing when closed).
  void AbortAllAsync();

  // While the counter is above 0, setting changes are only stored; the last EndUpdate applies
  // them all to an open port.
  void BeginUpdate();
  void EndUpdate();

  bool Connected() const { return FConnected; }
  void SetConnected(bool Value);
  // The open descriptor, -1 while closed.
  int Handle() const { return FHandle; }

  // Device name: "COMn" opens /dev/COMn when it exists, else /dev/ttyS(n-1); a name starting
  // with '/' is a path; any other name is looked up in /dev. Changing it reopens an open port.
  const std::string& Port() const { return FPort; }
  void SetPort(const std::string& Value);
  TBaudRate BaudRate() const { return FBaudRate; }
  void SetBaudRate(TBaudRate Value);
  uint32_t CustomBaudRate() const { return FCustomBaudRate; }
  void SetCustomBaudRate(uint32_t Value);
  TDataBits DataBits() const { return FDataBits; }
  void SetDataBits(TDataBits Value);
  TStopBits StopBits() const { return FStopBits; }
  void SetStopBits(TStopBits Value);
  bool DiscardNull() const { return FDiscardNull; }
  void SetDiscardNull(bool Value);
  char16_t EventChar() const { return FEventChar; }
  void SetEventChar(char16_t Value);

  TComParity& Parity() { return FParity; }
  const TComParity& Parity() const { return FParity; }
  TComFlowControl& FlowControl() { return FFlowControl; }
  const TComFlowControl& FlowControl() const { return FFlowControl; }
  TComBuffer& Buffer() { return FBuffer; }
  const TComBuffer& Buffer() const { return FBuffer; }
  TComTimeouts& Timeouts() { return FTimeouts; }
  const TComTimeouts& Timeouts() const { return FTimeouts; }

  // Kept for the line events a monitor would watch; no line event is consumed.
  const TComEvents& Events() const { return FEvents; }
  void SetEvents(const TComEvents& Value) { FEvents = Value; }
  // Raise error 14 while the port is open.
  TSyncMethod SyncMethod() const { return FSyncMethod; }
  void SetSyncMethod(TSyncMethod Value);
  TThreadPriority EventThreadPriority() const { return FEventThreadPriority; }
  void SetEventThreadPriority(TThreadPriority Value);
  bool TriggersOnRxChar() const { return FTriggersOnRxChar; }
  void SetTriggersOnRxChar(bool Value) { FTriggersOnRxChar = Value; }
  uint32_t CodePage() const { return FCodePage; }
  void SetCodePage(uint32_t Value) { FCodePage = Value; }

  // Owner events.
  TComNotifyEvent OnBeforeOpen;
  TComNotifyEvent OnAfterOpen;
  TComNotifyEvent OnBeforeClose;
  TComNotifyEvent OnAfterClose;
  TComSignalEvent OnCTSChange;
  TComSignalEvent OnDSRChange;
  TComSignalEvent OnRLSDChange;
  TComExceptionEvent OnException;

 protected:
  // The settings objects report their changes here.
  friend class TComParity;
  friend class TComFlowControl;
  friend class TComBuffer;
  friend class TComTimeouts;
  void LineSettingsChanged();
  void TimeoutsChanged();
  void BufferChanged();

 private:
  // Raises EComPort for the error (winCode <= 0: no system error number).
  [[noreturn]] void CallException(int32_t Code, int32_t WinCode = -1) const;
  // Runs a public operation: its EComPort goes to OnException when that is assigned.
  template <typename F>
  void Guarded(F&& Body);
  bool CanApply() const { return FConnected && FUpdateCount == 0; }

  void OpenDevice();
  void CloseDevice();
  void ApplyBuffer();
  void ApplyLineSettings();
  void ApplyTimeouts();
  void ReportSignals();

  std::string FPort = "COM1";
  TBaudRate FBaudRate = br9600;
  uint32_t FCustomBaudRate = 9600;
  TDataBits FDataBits = dbEight;
  TStopBits FStopBits = sbOneStopBit;
  bool FDiscardNull = false;
  char16_t FEventChar = 0;
  TComEvents FEvents{evRxChar, evTxEmpty, evRxFlag, evRing, evBreak,
                     evCTS,    evDSR,     evError,  evRLSD, evRx80Full};
  TSyncMethod FSyncMethod = smThreadSync;
  TThreadPriority FEventThreadPriority = tpNormal;
  bool FTriggersOnRxChar = true;
  uint32_t FCodePage = 0;

  TComParity FParity{this};
  TComFlowControl FFlowControl{this};
  TComBuffer FBuffer{this};
  TComTimeouts FTimeouts{this};

  int FHandle = -1;
  bool FConnected = false;
  int FUpdateCount = 0;
  // The write time-out in effect on the open device (set when the time-outs are applied).
  int64_t FWriteMultiplier = 0;
  int64_t FWriteConstant = 0;
};

class TComPort : public TCustomComPort {
 public:
  using TCustomComPort::TCustomComPort;
};
