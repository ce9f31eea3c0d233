#include "CANopenErrors.h"

std::string CANopenErrorText(uint16_t code) {
  switch (code) {
    case CANOPEN_ERR_RXPDO_MAPPING:
      return "Desired configuration differs from actual RxPDO mapping parameter.";
    case CANOPEN_ERR_RXPDO_TRANSMISSION_TYPE:
      return "Desired configuration differs from actual RxPDO communication parameter "
             "(transmission type).";
    case CANOPEN_ERR_TXPDO_MAPPING:
      return "Desired configuration differs from actual TxPDO mapping parameter.";
    case CANOPEN_ERR_TXPDO_TRANSMISSION_TYPE:
      return "Desired configuration differs from actual TxPDO communication parameter "
             "(transmission type).";
    case CANOPEN_ERR_TXPDO_INHIBIT_TIME:
      return "Desired configuration differs from actual TxPDO communication parameter "
             "(inhibit time).";
    case CANOPEN_ERR_TXPDO_EVENT_TIMER:
      return "Desired configuration differs from actual TxPDO communication parameter "
             "(event timer).";
    case CANOPEN_ERR_NO_HARDWARE: return "No CAN hardware found.";
    case CANOPEN_ERR_STATISTIC_EMPTY: return "Statistic table is empty.";
    case CANOPEN_ERR_NODE_RANGE_0_127: return "Node id is out of range 0..127.";
    case CANOPEN_ERR_NODE_RANGE_1_127: return "Node id is out of range 1..127.";
    case CANOPEN_ERR_ROW_RANGE: return "Row index of statistic table is out of range.";
    default: return "Unknown Error!";
  }
}
