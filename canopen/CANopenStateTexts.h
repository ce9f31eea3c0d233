// Texts that the statistics show for the node-guarding, heartbeat and NMT codes of the driver,
// and for the master's NMT commands. Null for a code that has no text.
#pragma once

#include <cstdint>

const char* NodeguardStateText(uint16_t state);
const char* NodeguardNmtText(uint16_t nmt);
const char* HeartbeatStateText(uint16_t state);
const char* HeartbeatNmtText(uint16_t nmt);
const char* NmtCommandText(uint16_t command);
