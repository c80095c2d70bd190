// Rounding of stored results: to the nearest multiple of 0.001 (or 0.01), halves away from
// zero, computed in single precision like the rest of the results: the product is formed
// and rounded as a float, so a value that prints as 2.0005 rounds to 2.001.
#pragma once

#include <cmath>

namespace zelk {

inline float round3(float x) { return std::round(x * 1000.0f) / 1000.0f; }

inline float round2(float x) { return std::round(x * 100.0f) / 100.0f; }

}  // namespace zelk
