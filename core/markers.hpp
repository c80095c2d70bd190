// The markers of a value that is not there, as the record format writes them and the data
// areas hold them: one name for each, so that "not determined" reads the same everywhere.
#pragma once

#include <cstdint>

namespace zelk {

// A value that was not scaled, not determined, or has no echo: heights (km), frequencies
// (MHz) and results (B0, TEC, ...). Tests against it compare with the float as stored.
inline constexpr float NO_VALUE = 9999.0f;

// The frequency-line index of a value that was not scaled (or a line beyond the tables).
inline constexpr int16_t NO_LINE = 9999;

}  // namespace zelk
