// TIME producer: COB-ID 0x100, DLC 6, CiA 301 TIME_OF_DAY from the wall clock (UTC):
// [ms after midnight, 28 bits in 4 bytes LE][days since 1984-01-01, 2 bytes LE].
// The first TIME message goes out at once.
#pragma once

#include <array>

#include "drivers/canopen.h"
#include "periodic.h"

namespace canopen32 {

// The six data bytes of TIME_OF_DAY for a wall time since the Unix epoch.
std::array<uint8_t, 6> timeOfDay(Duration wall);

class TimeProducer : public PeriodicProducer {
 public:
  explicit TimeProducer(Context& context)
      : PeriodicProducer(context, {KCO_TIMESTAMP_ON, KCO_TIMESTAMP_OFF, KCO_TIMESTAMP_OK,
                                   kTimestampBadFunction}) {}

  void tick(Now now);
};

}  // namespace canopen32
