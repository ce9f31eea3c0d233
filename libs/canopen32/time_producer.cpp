#include "time_producer.h"

#include <span>

#include "cia301/cob_id.h"
#include "cia301/little_endian.h"

namespace canopen32 {

std::array<uint8_t, 6> timeOfDay(Duration wall) {
  constexpr int64_t kEpoch1984Seconds = 441763200;
  constexpr int64_t kMsPerDay = 86400000;
  const int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(wall).count() -
                     kEpoch1984Seconds * 1000;
  const int64_t clamped = ms < 0 ? 0 : ms;
  const uint32_t msOfDay = static_cast<uint32_t>(clamped % kMsPerDay) & 0x0FFFFFFF;
  const auto days = static_cast<uint16_t>(clamped / kMsPerDay);
  std::array<uint8_t, 6> bytes{};
  cia301::putLe(std::span(bytes).first(4), msOfDay);
  cia301::putLe(std::span(bytes).subspan(4, 2), days);
  return bytes;
}

void TimeProducer::tick(Now now) {
  if (!due(now)) return;
  const auto data = timeOfDay(now.wall);
  context_.send(cia301::kTime, data);
}

}  // namespace canopen32
