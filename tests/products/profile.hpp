// A solved profile in the coefficient form of the inversion, for the product tests: an E layer
// from 0.2 MHz, a valley, an optional F1 layer and an F2 layer, with the inversion values the
// products read.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

#include "pipeline/zelk.hpp"
#include "inversion/inversion.hpp"
#include "ztest.hpp"

namespace prof {

// E: 0.2 -> 3.0 MHz, peak 110 km; valley 30 km wide, 0.6 MHz deep; F2: 3.0 -> 8.0 MHz,
// peak 300 km. With F1: F1 3.0 -> 4.5 MHz, peak 180 km, and F2 from 4.5 MHz.
inline void set(zelk::Zelk& z, bool f1 = false, float vw = 30.0f) {
    auto& v = z.inv;
    v.ISTAT() = 2;
    v.FC(1) = 0.2f;
    v.FC(2) = 3.0f;
    v.ZME = 110.0f;
    v.A_E(1) = -18.0f;
    v.A_E(2) = -3.0f;
    v.A_E(3) = 0.6f;
    v.VW = vw;
    v.VD = vw > 0.0f ? 0.6f : 0.0f;
    v.FV = v.FC(2) - v.VD;
    for (int i = 1; i <= 7; ++i) v.A_F1(i) = v.A_F2(i) = 0.0f;
    const float hvt = v.ZME + v.VW;
    if (f1) {
        v.LF1() = 1;
        v.FC(3) = 4.5f;
        v.ZMF1 = 180.0f;
        v.A_F1(1) = -36.0f;   // sum -40: starts at the valley top
        v.A_F1(2) = -5.0f;
        v.A_F1(3) = 1.0f;
        v.A_F1(1) += (hvt - v.ZMF1) - (-40.0f);
    } else {
        v.LF1() = 0;
        v.FC(3) = v.FC(2);
        v.ZMF1 = hvt;
    }
    v.FC(4) = 8.0f;
    v.ZMF2 = 300.0f;
    const float base = f1 ? v.ZMF1 : hvt;
    v.A_F2(1) = -140.0f;
    v.A_F2(2) = -14.0f;
    v.A_F2(3) = 3.0f;
    v.A_F2(4) = -0.5f;
    v.A_F2(1) += (base - v.ZMF2) - (-140.0f - 14.0f + 3.0f - 0.5f);
}

using ztest::TempCwd;

// Data files are taken from the source tree.
inline void use_source_data(zelk::Zelk& z) { z.mod.data_dirs = {ZELK_SOURCE_DATA}; }

}  // namespace prof
