// Valley: width and depth laws with their limits, the valley's group path, and the
// parabolic fit of an F-layer top.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <sstream>

#include "pipeline/zelk.hpp"
#include "inversion/inversion.hpp"
#include "ztest.hpp"
#include "zelk_calls.hpp"
#include "models/models.hpp"

using namespace zelk;
using namespace zelk::inversion;

namespace {

using ztest::Ctx;

// A record after the E stage: E layer 0.2..foE MHz with its model shape (peak 110 km,
// semi-thickness 20 km), no F1 layer, five F2 points at virtual height hF from 4.0 MHz.
// Station at latitude lat, longitude 0, day 80, time ihr:minu UT.
void after_e_stage(Inversion& inv, float foE, float hF, float lat, int ihr, int minu) {
    SETCV(inv);
    inv.FQINCR = 0.1f;
    inv.HMISS = 9999.0f;
    inv.BASEHT = 45.0f;
    inv.HGRID = 5.0f;
    inv.LOCATION(1) = lat;
    inv.LOCATION(2) = 0.0f;
    inv.IDAY = 80;
    inv.IHR = static_cast<int16_t>(ihr);
    inv.MINU = static_cast<int16_t>(minu);
    inv.ISEC = 0;
    inv.FC(1) = 0.2f;
    inv.FC(2) = foE;
    inv.LF1() = 0;
    inv.FOF1 = 9999.0f;
    inv.FOF2 = 5.0f;
    inv.NFQE = 0;
    inv.NFQF1 = 0;
    inv.NFQF = 5;
    for (int K = 1; K <= 5; ++K) {
        inv.TRF(K) = 4.0f + 0.1f * static_cast<float>(K - 1);
        inv.TRH(K) = hF + 5.0f * static_cast<float>(K - 1);
    }
    inv.FSTART = 0.2f;
    inv.FEND = foE;
    inv.NN = 3;
    ZEROPROF(inv, 0);
    float sum = 0.0f;
    for (int j = 1; j <= 3; ++j) {
        inv.A_E(j) = std::round(20.0f * inv.A(j) * 1000.0f) / 1000.0f;
        sum += inv.A_E(j);
    }
    inv.ZME = 110.0f;
    inv.HBASE(1) = 110.0f + sum;
    inv.HPF = 9999.0f;
}

double zenith(const Inversion& inv) {
    float d, chi, sr, ss;
    const float LT = static_cast<float>(inv.IHR) + static_cast<float>(inv.MINU) / 60.0f;
    models::SOCO(inv.IDAY, LT, inv.LOCATION(1), inv.LOCATION(2), d, chi, sr, ss);
    return chi;
}

}  // namespace

// Sun at the zenith: W0 = 59.45 - 14.63 ln 43 = 4.4237 km; depth ratio 0.929.
TEST(MAHAGULY, WidthWithTheSunOverhead) {
    Ctx c;
    Inversion& inv = c.inv();
    after_e_stage(inv, 3.0f, 250.0f, 0.0f, 12, 7);
    ASSERT_LT(zenith(inv), 1.0);
    MAHAGULY(*c.z);
    EXPECT_NEAR(inv.VW, 4.4237f, 0.004f);
    EXPECT_EQ(inv.VW, std::round(inv.VW * 1000.0f) / 1000.0f);
    EXPECT_GT(inv.ZENANG, 0.0f);                       // after local noon
    const double e = std::exp((59.45 - inv.VW) / 14.63);
    const double fv = std::sqrt(0.49 + 0.46 * (e - 1) / (e + 1)) * 3.0;
    EXPECT_NEAR(inv.FV, fv, 1e-5);
    EXPECT_NEAR(inv.VD, 3.0 - fv, 0.0006);
    EXPECT_FLOAT_EQ(inv.VW1, inv.VW / 3.0f);
    EXPECT_EQ(inv.VW2, inv.VW1);
    EXPECT_FLOAT_EQ(inv.VW1 + inv.VW2 + inv.VW3, inv.VW);
    EXPECT_FLOAT_EQ(inv.HBASE(2), 110.0f + inv.VW);
    EXPECT_EQ(inv.HBASE(3), inv.HBASE(2));
    EXPECT_EQ(inv.HPF, 250.0f);                        // missing h'F filled from the F trace
    EXPECT_EQ(inv.ISTAT(), 0);
    // The falling side is the E-layer top stretched to VW1: its coefficients sum to -VW1.
    EXPECT_NEAR(inv.VSLOPE(1) + inv.VSLOPE(2) + inv.VSLOPE(3), -inv.VW1, 1e-4);
}

// At night the width is at least 59.45 km and the valley bottom at most 0.7 foE; a weak
// night E layer (foE 0.25 MHz) has its bottom raised to 0.2 MHz.
TEST(MAHAGULY, NightValleyAndTheLowestBottomFrequency) {
    Ctx c;
    Inversion& inv = c.inv();
    after_e_stage(inv, 0.25f, 300.0f, 0.0f, 0, 0);
    inv.HPF = 280.0f;
    ASSERT_GT(zenith(inv), 150.0);
    MAHAGULY(*c.z);
    EXPECT_GE(inv.VW, 59.45f);
    EXPECT_LT(inv.VW, 0.7f * (300.0f - 110.0f));
    EXPECT_LT(inv.ZENANG, 0.0f);                       // before local noon
    EXPECT_EQ(inv.FV, 0.2f);
    EXPECT_NEAR(inv.VD, 0.05f, 1e-6f);
    EXPECT_EQ(inv.HPF, 280.0f);                        // a scaled h'F stays
}

// A low F trace caps the width at 0.7 (hmin - ZME). F points below the E peak are removed
// by the data selection before hmin is taken, so they do not cap it.
TEST(MAHAGULY, LowFTraceCapsTheWidth) {
    Ctx c;
    Inversion& inv = c.inv();
    after_e_stage(inv, 3.0f, 120.0f, 0.0f, 0, 0);
    MAHAGULY(*c.z);
    EXPECT_EQ(inv.VW, 7.0f);
    EXPECT_FLOAT_EQ(inv.HBASE(2), 117.0f);
    EXPECT_EQ(inv.HPF, 120.0f);

    Ctx d;
    Inversion& low = d.inv();
    after_e_stage(low, 3.0f, 90.0f, 0.0f, 12, 7);
    for (int K = 1; K <= 5; ++K) low.TRH(K) = 90.0f;
    MAHAGULY(*d.z);
    EXPECT_NEAR(low.VW, 4.4237f, 0.004f);
    EXPECT_EQ(low.HPF, 9999.0f);
}

// The valley's group path is at least its width and approaches it at frequencies far
// above foE, where the group index tends to 1; it grows towards foE.
TEST(FNDDHV, GroupPathOfTheValley) {
    Ctx c;
    Inversion& inv = c.inv();
    after_e_stage(inv, 3.0f, 250.0f, 0.0f, 0, 0);
    inv.FH = 1.2f;
    float dip = 1.0f;
    GOGXCOM(inv, dip);
    inv.NGAUSS = 16;
    MAHAGULY(*c.z);
    ASSERT_GT(inv.VW, 50.0f);
    const float f[4] = {3.2f, 4.0f, 6.0f, 30.0f};
    inv.NFQ = 4;
    for (int K = 1; K <= 4; ++K) inv.FQ(K) = f[K - 1];
    inv.NN = 5;
    inv.FSTART = 3.0f;
    inv.FEND = 5.0f;
    FNDDHV(inv);
    EXPECT_EQ(inv.NN, 5);
    EXPECT_EQ(inv.FSTART, 3.0f);
    EXPECT_EQ(inv.FEND, 5.0f);
    for (int K = 1; K <= 4; ++K) EXPECT_GE(inv.DHV(K), inv.VW) << K;
    EXPECT_GT(inv.DHV(1), inv.DHV(2));
    EXPECT_GT(inv.DHV(2), inv.DHV(3));
    EXPECT_NEAR(inv.DHV(4), inv.VW, 0.02 * inv.VW);

    inv.VW = inv.VW1 = inv.VW2 = inv.VW3 = 0.0f;
    FNDDHV(inv);
    for (int K = 1; K <= 4; ++K) EXPECT_EQ(inv.DHV(K), 0.0f);
}

// A parabolic F2 layer (semi-thickness 50 km, foF2/start = 2) gives back its thickness; a
// start height above the parabola's limits it to the parabola through start and peak.
TEST(PARAFITF, SemiThicknessOfAParabolicTop) {
    Ctx c;
    Inversion& inv = c.inv();
    inv.IRGN = 3;
    inv.FC(3) = 4.0f;
    inv.FC(4) = 8.0f;
    inv.NN = 5;
    inv.FSTART = 4.0f;
    inv.FEND = 8.0f;
    ZEROPROF(inv, 23);  // ratio 0.5
    float sum = 0.0f;
    for (int j = 1; j <= 5; ++j) {
        inv.A_F2(j) = 50.0f * inv.A(j);
        sum += inv.A_F2(j);
    }
    inv.ZMF2 = 300.0f;
    inv.HBASE(3) = 300.0f + sum;
    PARAFITF(inv);
    EXPECT_NEAR(inv.YF2, 50.0f, 0.3f);
    EXPECT_LE(inv.YF2, (300.0f - inv.HBASE(3)) / std::sqrt(0.75f));
    EXPECT_EQ(inv.YF1, 9999.0f);
    EXPECT_FLOAT_EQ(inv.FSTART, 6.0f);
    EXPECT_EQ(inv.FEND, 8.0f);

    inv.HBASE(3) = 270.0f;
    PARAFITF(inv);
    EXPECT_FLOAT_EQ(inv.YF2, 30.0f / std::sqrt(0.75f));

    inv.IRGN = 2;
    inv.FC(2) = 2.0f;
    inv.FC(3) = 4.0f;
    for (int j = 1; j <= 5; ++j) inv.A_F1(j) = 0.5f * inv.A_F2(j);
    inv.ZMF1 = 200.0f;
    inv.HBASE(2) = 100.0f;
    PARAFITF(inv);
    EXPECT_NEAR(inv.YF1, 25.0f, 0.2f);
}
