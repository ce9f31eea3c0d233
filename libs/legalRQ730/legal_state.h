// What the legal display knows: the module's parameters and its last signed values, and how
// they are shown. Free of any toolkit so it can be tested on its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace legal_rq730 {

struct Parameters {
  std::optional<uint32_t> serialNumber;
  std::optional<uint16_t> adjustmentCounter;
  std::optional<uint8_t> unit;
  std::optional<uint16_t> capacity;
  std::optional<uint16_t> checksum;
  std::optional<uint8_t> division;
};

class LegalState {
 public:
  Parameters& parameters() { return parameters_; }
  const Parameters& parameters() const { return parameters_; }
  uint8_t nodeId() const { return nodeId_; }
  void setNodeId(uint8_t id) { nodeId_ = id; }

  void writeWeight(uint16_t signature, int16_t weight);
  void writeZeroIndication(uint16_t signature, uint8_t zeroIndication);

  // The weight as shown: the value in divisions times the division, with the unit; dashes while
  // no value has arrived, while the parameters needed to check it are missing, or when the
  // value's signature does not match.
  std::string weightText() const;
  // True when the last zero indication is valid and says the scale is at zero.
  bool atZero() const;
  // "Max 3000 kg  d = 1 kg", with dashes for what is not known yet.
  std::string rangeText() const;
  // One line per parameter, for the information view.
  std::string infoText() const;

  static std::string unitName(std::optional<uint8_t> unit);

 private:
  bool signatureKnown() const;

  Parameters parameters_;
  uint8_t nodeId_ = 0;
  std::optional<int16_t> weight_;
  bool weightValid_ = false;
  std::optional<uint8_t> zeroIndication_;
  bool zeroValid_ = false;
};

}  // namespace legal_rq730
