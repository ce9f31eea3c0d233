// The weight as the operator sees it: "%.0f" with halves away from zero and never "-0".
#pragma once

#include <QString>
#include <optional>

// The weight rounded to a whole number, e.g. "13" for 12.5, "-13" for -12.5, "0" for -0.3;
// nullopt for a value that is not a finite number (NaN, infinity).
std::optional<QString> WeightText(float weight);
