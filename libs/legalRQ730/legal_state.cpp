#include "legal_state.h"

#include <cstdio>

#include "legalRQ730/signature.h"

namespace legal_rq730 {

namespace {

constexpr const char* kDashes = "------";

template <typename T>
std::string decimalOrDashes(const std::optional<T>& value) {
  return value ? std::to_string(*value) : std::string("--");
}

}  // namespace

bool LegalState::signatureKnown() const {
  return parameters_.serialNumber.has_value() && parameters_.adjustmentCounter.has_value();
}

void LegalState::writeWeight(uint16_t signature, int16_t weight) {
  weight_ = weight;
  weightValid_ = signatureKnown() && signWeight(*parameters_.serialNumber,
                                                *parameters_.adjustmentCounter, weight) == signature;
}

void LegalState::writeZeroIndication(uint16_t signature, uint8_t zeroIndication) {
  zeroIndication_ = zeroIndication;
  zeroValid_ = signatureKnown() &&
               signZeroIndication(*parameters_.serialNumber, *parameters_.adjustmentCounter,
                                  zeroIndication) == signature;
}

std::string LegalState::weightText() const {
  if (!weight_ || !weightValid_ || !parameters_.division) return kDashes;
  const long value = static_cast<long>(*weight_) * *parameters_.division;
  return std::to_string(value) + " " + unitName(parameters_.unit);
}

bool LegalState::atZero() const { return zeroValid_ && zeroIndication_ && *zeroIndication_ != 0; }

std::string LegalState::rangeText() const {
  const std::string unit = unitName(parameters_.unit);
  return "Max " + decimalOrDashes(parameters_.capacity) + " " + unit + "  d = " +
         decimalOrDashes(parameters_.division) + " " + unit;
}

std::string LegalState::infoText() const {
  char checksum[16] = "--";
  if (parameters_.checksum) std::snprintf(checksum, sizeof checksum, "0x%04X", *parameters_.checksum);
  std::string text;
  text += "Module node id: " + (nodeId_ != 0 ? std::to_string(nodeId_) : std::string("--")) + "\n";
  text += "Serial number: " + decimalOrDashes(parameters_.serialNumber) + "\n";
  text += "Adjustment counter: " + decimalOrDashes(parameters_.adjustmentCounter) + "\n";
  text += "Unit: " + unitName(parameters_.unit) + "\n";
  text += "Capacity: " + decimalOrDashes(parameters_.capacity) + "\n";
  text += "Division: " + decimalOrDashes(parameters_.division) + "\n";
  text += std::string("Parameter checksum: ") + checksum;
  return text;
}

std::string LegalState::unitName(std::optional<uint8_t> unit) {
  if (!unit) return "--";
  switch (*unit) {
    case 0: return "g";
    case 1: return "kg";
    case 2: return "t";
    case 3: return "lb";
    default: return "unit " + std::to_string(*unit);
  }
}

}  // namespace legal_rq730
