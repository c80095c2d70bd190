// The record update: puts the results of the inversion and its products into the Ionogram
// record before it is written.
#pragma once

namespace zelk {
struct Zelk;
}

namespace zelk::iondata {

void UPDATE_RECORD(Zelk& z);

}  // namespace zelk::iondata
