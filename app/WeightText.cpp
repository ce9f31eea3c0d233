#include "WeightText.h"

#include <cmath>
#include <cstdio>

std::optional<QString> WeightText(float weight) {
  if (!std::isfinite(weight)) return std::nullopt;
  // A float widens exactly to double; std::round takes halves away from zero, and the rounded
  // value is a whole number that "%.0f" prints exactly (also far beyond 64-bit integers).
  double rounded = std::round(static_cast<double>(weight));
  if (rounded == 0.0) rounded = 0.0;  // drops the sign of -0
  char text[64];
  std::snprintf(text, sizeof text, "%.0f", rounded);
  return QString::fromLatin1(text);
}
