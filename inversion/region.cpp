// REGION: one solved region of the Inversion area as a profile value.
#include "inversion/inversion.hpp"

namespace zelk::inversion {

// REGION: the solved profile of one region, for evaluation. region 1 = E (FC(1)..FC(2),
// peak ZME, the three coefficients A_E), 2 = F1 (FC(2)..FC(3), ZMF1, A_F1(1..5)),
// 3 = F2 (FC(3)..FC(4), ZMF2, A_F2(1..5)). Reads FC, ZME, ZMF1, ZMF2, A_E, A_F1, A_F2.
// Any other region number gives an empty profile (NN = 0, all frequencies 0).
RegionProfile REGION(const Inversion& inv, int region) {
    if (region == 1) return make_region(inv.FC(1), inv.FC(2), inv.ZME, inv.A_E.data(), 3);
    if (region == 2) return make_region(inv.FC(2), inv.FC(3), inv.ZMF1, inv.A_F1.data());
    if (region == 3) return make_region(inv.FC(3), inv.FC(4), inv.ZMF2, inv.A_F2.data());
    RegionProfile r;
    r.NN = 0;
    return r;
}

}  // namespace zelk::inversion
