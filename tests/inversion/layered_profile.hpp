// Inversion areas for the tests and benchmarks of the kernels: the dip constants of the
// ordinary ray, and a solved profile (E layer, valley, F1 and F2 regions) to recompute
// virtual heights through.
#pragma once

#include <cmath>

#include "inversion/inversion.hpp"

namespace zelk::inversion::fixtures {

// The dip constants of the ordinary ray for a dip of DEG degrees, as the run sets them.
inline void set_dip(Inversion& inv, double deg) {
    const double I = deg * 3.14159265358979323846 / 180.0;
    const double t2 = std::tan(I) * std::tan(I);
    inv.GC1 = static_cast<float>(std::cos(I) * std::cos(I));
    inv.GC2 = static_cast<float>(4.0 * t2);
    inv.GC3 = static_cast<float>(2.0 * t2);
    inv.GC4 = static_cast<float>(t2);
}

// An E layer from 3 to 6 MHz (base 200 km, peak 285 km), a valley 30 km wide down to 4.8 MHz
// whose falling side is the top of the E layer, an F1 region from foE to FC3 and an F2 region
// from FC3 to FC4 with the coefficients AF1 and AF2; dip DIP degrees, gyrofrequency FH.
inline void layered_profile(Inversion& inv, double dip, float fh, float fc3, float fc4,
                            const float (&af1)[5], const float (&af2)[5]) {
    set_dip(inv, dip);
    SETCV(inv);
    inv.FH = fh;
    inv.FC(1) = 3.0f;
    inv.FC(2) = 6.0f;
    inv.FC(3) = fc3;
    inv.FC(4) = fc4;
    inv.HBASE(1) = 200.0f;
    inv.A_E(1) = -80.0f;
    inv.A_E(2) = -10.0f;
    inv.A_E(3) = 5.0f;
    inv.ZME = 285.0f;
    inv.VW = 30.0f;
    inv.VW1 = 10.0f;
    inv.VW2 = 10.0f;
    inv.VW3 = 10.0f;
    inv.FV = 4.8f;
    F1<float, 5> c;
    CONTPRFL(3, inv.FC(1), inv.FC(2), inv.A_E.data(), inv.FV, c.data());
    for (int j = 1; j <= 3; ++j) inv.VSLOPE(j) = inv.VW1 * c(j) / -(c(1) + c(2) + c(3));
    for (int i = 1; i <= 5; ++i) {
        inv.A_F1(i) = af1[i - 1];
        inv.A_F2(i) = af2[i - 1];
    }
}

}  // namespace zelk::inversion::fixtures
