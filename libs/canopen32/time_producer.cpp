#include "time_producer.h"

#include "drivers/canopen.h"

namespace canopen32 {

std::array<uint8_t, 6> timeOfDay(Duration wall) {
  constexpr int64_t kEpoch1984Seconds = 441763200;
  constexpr int64_t kMsPerDay = 86400000;
  const int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(wall).count() -
                     kEpoch1984Seconds * 1000;
  const int64_t clamped = ms < 0 ? 0 : ms;
  const uint32_t msOfDay = static_cast<uint32_t>(clamped % kMsPerDay) & 0x0FFFFFFF;
  const uint16_t days = static_cast<uint16_t>(clamped / kMsPerDay);
  return {static_cast<uint8_t>(msOfDay),       static_cast<uint8_t>(msOfDay >> 8),
          static_cast<uint8_t>(msOfDay >> 16), static_cast<uint8_t>(msOfDay >> 24),
          static_cast<uint8_t>(days),          static_cast<uint8_t>(days >> 8)};
}

Code TimeProducer::set(Now now, uint16_t function, uint16_t periodMs) {
  if (function != KCO_TIMESTAMP_ON && function != KCO_TIMESTAMP_OFF) return kTimestampBadFunction;
  if (function == KCO_TIMESTAMP_OFF || periodMs == 0) {
    schedule_.stop();
  } else {
    schedule_.start(now.steady, std::chrono::milliseconds(periodMs), Duration{0});
  }
  return KCO_TIMESTAMP_OK;
}

void TimeProducer::tick(Now now) {
  if (!schedule_.due(now.steady)) return;
  const auto data = timeOfDay(now.wall);
  context_.send(0x100, data);
}

}  // namespace canopen32
