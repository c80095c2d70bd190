// The record update: puts the results of the inversion and its products into the Ionogram
// record before it is written.
#pragma once

#include <cstdint>

#include "core/farray.hpp"

namespace zelk {
struct Zelk;
}

namespace zelk::pipeline {

void update_record(Zelk& z);

// Rewrites a time stamp behind the 19-character prefix "FE" or "AA" + date and time.
void PREF4KMW(char FLAG, F1<char, 120>& TSTAMP, int IYEAR, int IDAY, int IMON, int IDOM,
              int IHR, int MINU, int ISEC);

}  // namespace zelk::pipeline
