// An object dictionary behind the fake driver's SDO server: uploads read from it, downloads
// write into it, a missing object completes with kAbortCode.
#pragma once

#include <cstring>
#include <map>
#include <string>
#include <utility>

#include "fake_driver.h"

class FakeNode {
 public:
  static constexpr uint16_t kAbortCode = 0x3399;

  FakeNode() {
    fake_driver::setSdoServer([this](uint8_t, uint16_t index, uint8_t subindex,
                                     uint16_t function, uint16_t datatype, void* data) {
      return serve(index, subindex, function, datatype, data);
    });
  }

  void set(uint16_t index, uint8_t subindex, uint32_t value) { objects_[{index, subindex}] = value; }
  void remove(uint16_t index, uint8_t subindex) { objects_.erase({index, subindex}); }
  uint32_t get(uint16_t index, uint8_t subindex) const { return objects_.at({index, subindex}); }
  void setName(std::string name) { name_ = std::move(name); }

 private:
  uint16_t serve(uint16_t index, uint8_t subindex, uint16_t function, uint16_t datatype,
                 void* data) {
    if (function == KCO_SDO_UPLOAD && datatype == KCO_TYPE_TEXT && index == 0x1008) {
      const char* text = name_.c_str();
      std::memcpy(data, &text, sizeof text);
      return KCO_SDO_DONE;
    }
    const auto found = objects_.find({index, subindex});
    if (function == KCO_SDO_DOWNLOAD) {
      if (found == objects_.end()) return kAbortCode;
      uint32_t value = 0;
      std::memcpy(&value, data, width(datatype));
      found->second = value;
      return KCO_SDO_DONE;
    }
    if (found == objects_.end()) return kAbortCode;
    std::memcpy(data, &found->second, width(datatype));  // little-endian host
    return KCO_SDO_DONE;
  }

  static std::size_t width(uint16_t datatype) {
    return datatype == KCO_TYPE_U8 ? 1 : datatype == KCO_TYPE_U16 ? 2 : 4;
  }

  std::map<std::pair<uint16_t, uint8_t>, uint32_t> objects_;
  std::string name_ = "RQ 730 fake";
};
