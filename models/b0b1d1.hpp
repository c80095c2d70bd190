// Bottomside shape parameters B0, B1, D1 of the solved profile.
#pragma once

namespace zelk {
struct Zelk;
}

namespace zelk::models {

void CALB0B1D1(Zelk& z);

}  // namespace zelk::models
