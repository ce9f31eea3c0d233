// The master's own error codes and their texts.
#pragma once

#include <cstdint>
#include <string>

enum : uint16_t {
  CANOPEN_ERR_RXPDO_MAPPING = 0xA001,
  CANOPEN_ERR_RXPDO_TRANSMISSION_TYPE = 0xA002,
  CANOPEN_ERR_TXPDO_MAPPING = 0xA003,
  CANOPEN_ERR_TXPDO_TRANSMISSION_TYPE = 0xA004,
  CANOPEN_ERR_TXPDO_INHIBIT_TIME = 0xA005,
  CANOPEN_ERR_TXPDO_EVENT_TIMER = 0xA006,
  CANOPEN_ERR_NO_HARDWARE = 0xA00A,
  CANOPEN_ERR_STATISTIC_EMPTY = 0xA010,
  CANOPEN_ERR_NODE_RANGE_0_127 = 0xA011,
  CANOPEN_ERR_NODE_RANGE_1_127 = 0xA012,
  CANOPEN_ERR_ROW_RANGE = 0xA015
};

// Text of one of the codes above; every other code gives "Unknown Error!".
std::string CANopenErrorText(uint16_t code);
