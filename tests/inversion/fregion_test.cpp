// The F1 and F2 stages on profiles whose true shape is known: the virtual heights of the
// trace are computed from a chosen profile through the forward model, the region is solved
// again from them, and the flow (modes, orders, status) and the recovered peak are checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>

#include "core/zelk.hpp"
#include "inversion/inversion.hpp"

namespace {

using namespace zelk::inversion;
using zelk::Zelk;

// Sounding of the scenarios: frequency step (MHz), range bins (km), gyrofrequency (MHz),
// dip (60 degrees, in radians).
constexpr float STEP = 0.05f;
constexpr float FH = 1.2f;
constexpr float DIP60 = 1.0471976f;
// E layer of every scenario: parabola of 20 km semi-thickness peaking at 110 km.
constexpr float ZME_TRUE = 110.0f;
constexpr float YE_TRUE = 20.0f;

float round3(float x) { return std::round(x * 1000.0f) / 1000.0f; }

// Coefficients of a parabolic layer of semi-thickness YM (km) between plasma frequencies
// FS and FE, in NN terms, from the unit-parabola table.
void parabola(Inversion& inv, float FS, float FE, int NN, float YM, zelk::F1<float, 7>& A) {
    inv.FSTART = FS;
    inv.FEND = FE;
    inv.NN = static_cast<int16_t>(NN);
    ZEROPROF(inv, 0);
    A.fill(0.0f);
    for (int j = 1; j <= NN; ++j) A(j) = round3(YM * inv.A(j));
}

// The profile of a scenario, kept apart from the areas the stages overwrite.
struct Truth {
    float foF1 = 0.0f, hmF1 = 0.0f, foF2 = 0.0f, hmF2 = 0.0f;
    zelk::F1<float, 7> A_F1, A_F2;
};

// A run context after the E region and a valley of zero width have been solved: E layer
// from 0.2 MHz to foE, the F regions starting at the E peak. The diagnostics are captured.
struct Scenario {
    std::unique_ptr<Zelk> z = std::make_unique<Zelk>();
    std::ostringstream log;
    Truth truth;

    explicit Scenario(float foE) {
        Inversion& inv = z->inv;
        z->log.out = &log;
        z->log.IDEBUG = 2;
        inv.FH = FH;
        inv.DIPK = DIP60;
        GOGXCOM(inv, inv.DIPK);
        inv.GOGXDONE = true;
        SETCV(inv);
        inv.NGAUSS = 16;
        inv.FQINCR = STEP;
        inv.HGRID = 5.0f;
        inv.BASEHT = 55.0f;
        inv.HMISS = 9999.0f;
        inv.ISTAT() = 2;
        inv.LF1() = 0;
        inv.FOF1 = 9999.0f;
        inv.FOE = foE;

        inv.FC(1) = 0.2f;
        inv.FC(2) = foE;
        inv.FC(3) = foE;
        zelk::F1<float, 7> ae;
        parabola(inv, 0.2f, foE, 3, YE_TRUE, ae);
        for (int j = 1; j <= 3; ++j) inv.A_E(j) = ae(j);
        inv.ZME = ZME_TRUE;
        inv.HBASE(1) = ZME_TRUE + ae(1) + ae(2) + ae(3);
        inv.HBASE(2) = inv.HBASE(3) = ZME_TRUE;
        inv.VW = 0.0f;
        inv.KF1MODE = 0;
    }

    // F1 layer: parabola from foE to foF1 peaking at hmF1.
    void f1(float foF1, float hmF1) {
        Inversion& inv = z->inv;
        truth.foF1 = foF1;
        truth.hmF1 = hmF1;
        const float r = inv.FC(2) / foF1;
        parabola(inv, inv.FC(2), foF1, 5, (hmF1 - inv.HBASE(2)) / std::sqrt(1.0f - r * r),
                 truth.A_F1);
        inv.FOF1 = foF1;
        inv.LF1() = 1;
    }

    // F2 layer: parabola from the F1 peak (or foE) to foF2 peaking at hmF2.
    void f2(float foF2, float hmF2) {
        Inversion& inv = z->inv;
        truth.foF2 = foF2;
        truth.hmF2 = hmF2;
        const float fs = truth.foF1 > 0.0f ? truth.foF1 : inv.FC(2);
        const float hs = truth.foF1 > 0.0f ? truth.hmF1 : inv.HBASE(3);
        const float r = fs / foF2;
        parabola(inv, fs, foF2, 5, (hmF2 - hs) / std::sqrt(1.0f - r * r), truth.A_F2);
        inv.FOF2 = foF2;
    }

    // Virtual height at sounding frequency F through the true profile.
    float virtual_height(float F) {
        Inversion& inv = z->inv;
        const float save3 = inv.FC(3), save4 = inv.FC(4), hb3 = inv.HBASE(3);
        const float zmf1 = inv.ZMF1;
        inv.A_F1 = truth.A_F1;
        inv.A_F2 = truth.A_F2;
        inv.FC(3) = truth.foF1 > 0.0f ? truth.foF1 : inv.FC(2);
        inv.FC(4) = truth.foF2;
        inv.ZMF1 = truth.foF1 > 0.0f ? truth.hmF1 : inv.HBASE(2);
        if (truth.foF1 > 0.0f) inv.HBASE(3) = truth.hmF1;
        if (F <= inv.FC(2)) inv.IRGN = 1;
        else if (F <= inv.FC(3)) inv.IRGN = 2;
        else inv.IRGN = 3;
        const float h = RECVIRT(inv, F, 5);
        inv.A_F1.fill(0.0f);
        inv.A_F2.fill(0.0f);
        inv.FC(3) = save3;
        inv.FC(4) = save4;
        inv.HBASE(3) = hb3;
        inv.ZMF1 = zmf1;
        return h;
    }

    // The trace list: E points from 1.0 MHz to the line below foE, F1 points (when an F1
    // layer is set and WITHF1) from the line above foE to the line of foF1, F2 points from
    // FSTART2 to the line of foF2, each on the 0.05 MHz grid.
    void trace(float FSTART2, bool WITHF1 = true) {
        Inversion& inv = z->inv;
        int j = 0;
        auto line = [](float f) { return static_cast<int>((f + 0.0005f) / STEP); };
        inv.NFQE = inv.NFQF1 = inv.NFQF = 0;
        for (int k = line(1.0f); k < line(inv.FC(2)); ++k) {
            const float f = static_cast<float>(k) * STEP;
            inv.TRF(++j) = f;
            inv.TRH(j) = virtual_height(f);
            ++inv.NFQE;
        }
        int kf = line(inv.FC(2)) + 1;
        if (truth.foF1 > 0.0f && WITHF1) {
            for (; kf <= line(truth.foF1); ++kf) {
                const float f = static_cast<float>(kf) * STEP;
                inv.TRF(++j) = f;
                inv.TRH(j) = virtual_height(f);
                ++inv.NFQF1;
            }
        }
        kf = std::max(kf, line(FSTART2));
        for (; kf <= line(truth.foF2); ++kf) {
            const float f = static_cast<float>(kf) * STEP;
            inv.TRF(++j) = f;
            inv.TRH(j) = virtual_height(f);
            ++inv.NFQF;
        }
    }

    Inversion& inv() { return z->inv; }
    float truth_zmf2() const {
        float sum = 0.0f;
        for (int j = 1; j <= 5; ++j) sum += truth.A_F2(j);
        return (truth.foF1 > 0.0f ? truth.hmF1 : ZME_TRUE) - sum;
    }
    int16_t istat() { return z->inv.ISTAT(); }
};

// A scaled F1 layer without trace points is handed on to the F2 stage at once.
TEST(F1Prof, ScaledF1WithoutPointsIsLeftToTheF2Stage) {
    auto z = std::make_unique<Zelk>();
    Inversion& inv = z->inv;
    inv.FOF1 = 49.0f;
    inv.NFQF1 = 0;
    inv.FC(2) = 3.0f;
    inv.FC(3) = 4.0f;
    inv.ZME = 110.0f;
    inv.VW = 20.0f;
    inv.A_F1(2) = 5.0f;
    inv.IROOTF1 = 3;
    inv.ISTAT() = 2;
    float er2 = 7.0f;
    F1PROF(*z, er2);
    EXPECT_EQ(inv.KF1MODE, 2);
    EXPECT_EQ(inv.FC(3), 3.0f);
    EXPECT_EQ(inv.ZMF1, 130.0f);   // the valley top until an F1 layer is solved
    EXPECT_EQ(inv.A_F1(2), 0.0f);
    EXPECT_EQ(inv.IROOTF1, 0);
    EXPECT_EQ(er2, 0.0f);
    EXPECT_EQ(inv.ISTAT(), 2);
}


// Group path (km) of one region of the representation at sounding frequency F above the
// region: HSTART + integral of the group index over the region's heights, by Simpson's rule
// in s with u = s^2, where dh = -sum A(i) DTST_i(s^2) ds is smooth. An independent check
// of the 16-point quadrature of the partial kernels.
double group_path(const Inversion& inv, float FS, float FE, const float* A, int NN, float F) {
    constexpr int M = 4000;
    const double L = std::log(static_cast<double>(FS) / FE);
    double sum = 0.0;
    for (int m = 0; m <= M; ++m) {
        const double sv = static_cast<double>(m) / M;
        const double u = sv * sv;
        const double fn = FE * std::exp(u * L);
        double dh = 0.0;
        for (int i = 1; i <= NN; ++i) dh -= A[i] * DTST(inv, static_cast<float>(u), i);
        const double mu = GOSUB(inv, 1.0f, F, static_cast<float>(fn * fn), inv.FH);
        const double w = (m == 0 || m == M) ? 1.0 : (m % 2 ? 4.0 : 2.0);
        sum += w * mu * dh;
    }
    return sum / (3.0 * M);
}

// The E region of this test starts at 1.5 MHz: from 0.2 MHz the fixed 16-point rule of the
// partial kernels is itself only good to about 0.6 km, which would hide a fault here.
TEST(FnddhE, GroupPathOfTheELayerAgreesWithDirectIntegration) {
    Scenario s(3.0f);
    Inversion& inv = s.inv();
    inv.FC(1) = 1.5f;
    const float f[] = {3.3f, 4.0f, 6.0f, 12.0f};
    inv.NFQ = 4;
    for (int K = 1; K <= 4; ++K) inv.FQ(K) = f[K - 1];
    inv.NN = 5;
    inv.FSTART = 3.0f;
    inv.FEND = 7.0f;
    FNDDHE(*s.z);
    for (int K = 1; K <= 4; ++K) {
        const double want = inv.HBASE(1) + group_path(inv, 1.5f, 3.0f, inv.A_E.data(), 3, f[K - 1]);
        EXPECT_NEAR(inv.DHE(K), want, 0.02) << "at " << f[K - 1] << " MHz";
        EXPECT_GE(inv.DHE(K), inv.ZME);
    }
    // Far above foE the group index is close to 1: the path is about the height of the peak.
    EXPECT_NEAR(inv.DHE(4), ZME_TRUE, 0.5);
    // A path below the peak height is raised to it.
    inv.A_E.fill(0.0f);
    FNDDHE(*s.z);
    EXPECT_EQ(inv.DHE(1), inv.ZME);
    EXPECT_EQ(inv.NN, 5);
    EXPECT_EQ(inv.FSTART, 3.0f);
    EXPECT_EQ(inv.FEND, 7.0f);
}

TEST(FnddhF1, GroupPathOfTheF1LayerAndItsAbsence) {
    Scenario s(3.0f);
    Inversion& inv = s.inv();
    s.f1(4.5f, 200.0f);
    inv.A_F1 = s.truth.A_F1;
    inv.FC(3) = 4.5f;
    inv.ZMF1 = 200.0f;
    const float f[] = {4.7f, 5.5f, 8.0f};
    inv.NFQ = 3;
    for (int K = 1; K <= 3; ++K) inv.FQ(K) = f[K - 1];
    inv.NN = 5;
    FNDDHF1(*s.z);
    for (int K = 1; K <= 3; ++K) {
        const double want = group_path(inv, 3.0f, 4.5f, inv.A_F1.data(), 5, f[K - 1]);
        EXPECT_NEAR(inv.DHF1(K), want, 0.05) << "at " << f[K - 1] << " MHz";
        EXPECT_GE(inv.DHF1(K), 200.0f - ZME_TRUE - 0.001f);
    }
    // Without an F1 layer (FC(3) = FC(2)) the F1 adds nothing.
    inv.FC(3) = inv.FC(2);
    FNDDHF1(*s.z);
    for (int K = 1; K <= 3; ++K) EXPECT_EQ(inv.DHF1(K), 0.0f);
}


}  // namespace
