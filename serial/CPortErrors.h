// EComPort, the exception of the serial port component, and the component's error numbers.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

// The component's error numbers (EComPort::Code).
enum TComErrorCode : int32_t {
  ceOpenFailed = 1,        // "Unable to open com port"
  ceWriteFailed = 2,       // "WriteFile function failed"
  ceReadFailed = 3,        // "ReadFile function failed"
  ceInvalidAsync = 4,      // "Invalid Async parameter"
  cePurgeFailed = 5,       // "PurgeComm function failed"
  ceAsyncCheck = 6,        // "Unable to get async status"
  ceSetStateFailed = 7,    // "SetCommState function failed"
  ceTimeoutsFailed = 8,    // "SetCommTimeouts failed"
  ceSetupComFailed = 9,    // "SetupComm function failed"
  ceClearComFailed = 10,   // "ClearCommError function failed"
  ceModemStatFailed = 11,  // "GetCommModemStatus function failed"
  ceEscapeComFailed = 12,  // "EscapeCommFunction function failed"
  ceTransmitFailed = 13,   // "TransmitCommChar function failed"
  ceConnChangeProp = 14,   // "Cannot set property while connected"
  ceEnumPortsFailed = 15,  // "EnumPorts function failed"
  ceStoreFailed = 16,      // "Failed to store settings"
  ceLoadFailed = 17,       // "Failed to load settings"
  ceRegFailed = 18,        // "Link (un)registration failed"
  ceLedStateFailed = 19,   // "Cannot change led state if ComPort is selected"
  ceThreadCreated = 20,    // "Cannot wait for event if event thread is created"
  ceWaitFailed = 21,       // "WaitForEvent method failed"
  ceHasLink = 22,          // "A component is linked to OnRxBuf event"
  ceRegError = 23,         // "Registry error"
  cePortNotOpen = 24,      // "Port Not Open"
};

// The text of an error number; an empty text for numbers outside 1 to 24.
const char* ComErrorText(int32_t code);

class EComPort : public std::runtime_error {
 public:
  // The message is the error's text, followed by " (Error: %d)" when winCode is above 0;
  // WinCode is -1 when there is no system error number.
  EComPort(int32_t code, int32_t winCode);

  int32_t Code() const { return FCode; }
  int32_t WinCode() const { return FWinCode; }
  std::string Message() const { return what(); }

 private:
  int32_t FCode;
  int32_t FWinCode;
};
