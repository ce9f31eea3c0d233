// The exception every operation of the CANopen master raises: node id, code and text.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

class ECANopenException : public std::runtime_error {
 public:
  // Builds the message "CANopen exception (code %xh). %s" for node 0, otherwise
  // "CANopen exception (node id : %d / code %xh). %s".
  ECANopenException(uint8_t id, uint16_t code, std::string descr);

  uint8_t Id() const { return FId; }
  void SetId(uint8_t value) { FId = value; }
  uint16_t Code() const { return FCode; }
  void SetCode(uint16_t value) { FCode = value; }
  const std::string& Descr() const { return FDescr; }
  void SetDescr(std::string value) { FDescr = std::move(value); }

  // The message built at construction; changing the fields later does not rebuild it.
  std::string Message() const { return what(); }

 private:
  uint8_t FId;
  uint16_t FCode;
  std::string FDescr;
};
