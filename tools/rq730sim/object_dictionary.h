// The module's object dictionary: entries addressed by index and sub-index, each with its access
// rights, its size and the functions that read and write its value. Checks every SDO access the
// CiA 301 way (object missing, sub-index missing, access, length) before the entry sees it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <utility>
#include <variant>
#include <vector>

#include "cia301/sdo_abort_codes.h"

namespace rq730sim {

using cia301::SdoAbortCode;
using Bytes = std::vector<uint8_t>;

enum class Access { readOnly, readWrite, writeOnly };

struct Entry {
  Access access = Access::readOnly;
  std::size_t size = 0;         // bytes; 0 = text of any length (read-only)
  bool mappable = false;        // may be mapped into a transmit PDO
  bool receivable = false;      // may be mapped into a receive PDO (which writes it)
  std::function<Bytes()> read;  // exactly `size` bytes, little endian
  // Gets exactly `size` bytes; returns an abort when the value is refused.
  std::function<std::optional<SdoAbortCode>(std::span<const uint8_t>)> write;
};

class ObjectDictionary {
 public:
  using Gate = std::function<std::optional<SdoAbortCode>(uint16_t index, uint8_t subIndex)>;

  void add(uint16_t index, uint8_t subIndex, Entry entry);
  // Consulted first on every access: an abort here (e.g. "object does not exist") wins.
  void setAccessGate(Gate gate);
  // Consulted on writes that passed all other checks.
  void setWriteGate(Gate gate);

  // The entry an access would reach, or why there is none.
  std::variant<const Entry*, SdoAbortCode> find(uint16_t index, uint8_t subIndex) const;
  // Whether `size` bytes may be written (existence, access and length only).
  std::optional<SdoAbortCode> checkWrite(uint16_t index, uint8_t subIndex, std::size_t size) const;

  std::variant<Bytes, SdoAbortCode> read(uint16_t index, uint8_t subIndex) const;
  std::optional<SdoAbortCode> write(uint16_t index, uint8_t subIndex, std::span<const uint8_t> data);

  // Size in bits of an object that may be mapped into a transmit (or receive) PDO, or why not.
  std::variant<unsigned, SdoAbortCode> mappableBits(uint16_t index, uint8_t subIndex,
                                                bool receive = false) const;

 private:
  std::map<std::pair<uint16_t, uint8_t>, Entry> entries_;
  Gate accessGate_;
  Gate writeGate_;
};

}  // namespace rq730sim
