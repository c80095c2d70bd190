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

#include "pipeline/zelk.hpp"
#include "zelk_calls.hpp"
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
        inv.GOGXDIP = inv.DIPK;
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

// Height of a region of the representation at plasma frequency f, written out here from
// its definition so that the test does not lean on the evaluator under test.
float height(float fs, float fe, float zm, const float* a, int nn, float f) {
    const double u = std::log(f / fe) / std::log(fs / fe);
    double t0 = 1.0, t1 = 2.0 * u - 1.0, s = a[1];
    for (int k = 2; k <= nn; ++k) {
        s += a[k] * t1;
        const double t2 = 2.0 * (2.0 * u - 1.0) * t1 - t0;
        t0 = t1;
        t1 = t2;
    }
    return static_cast<float>(zm + std::sqrt(u) * s);
}

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


// Fills the trace list with points at the given F frequencies whose virtual heights lie
// MARGIN km below the group path of the layers under the region, so that nothing is left
// for the region itself to explain: the solution is A = 0 and the peak is the region's
// start height.
void below_lower_layers(Scenario& s, int IRGN, float F0, int N, float MARGIN) {
    Inversion& inv = s.inv();
    inv.NFQ = static_cast<int16_t>(N);
    for (int K = 1; K <= N; ++K) inv.FQ(K) = round3(F0 + static_cast<float>(K - 1) * STEP);
    FNDDHE(*s.z);
    FNDDHV(inv);
    if (IRGN == 3) FNDDHF1(*s.z);
    inv.NFQE = 0;
    inv.NFQF1 = IRGN == 2 ? static_cast<int16_t>(N) : 0;
    inv.NFQF = IRGN == 3 ? static_cast<int16_t>(N) : 0;
    for (int K = 1; K <= N; ++K) {
        inv.TRF(K) = inv.FQ(K);
        inv.TRH(K) = inv.DHE(K) + inv.DHV(K) + (IRGN == 3 ? inv.DHF1(K) : 0.0f) - MARGIN;
    }
}



// Truth of the flow tests: E layer to 3.0 MHz, F2 parabola to 7.02 MHz peaking at 300 km.
constexpr float FOE = 3.0f;
constexpr float FOF2 = 7.02f;
constexpr float HMF2 = 300.0f;

// The F2 layer recovered from its own virtual heights, from the first line above foE.
TEST(FProf, RecoversAParabolicF2Layer) {
    Scenario s(FOE);
    s.f2(FOF2, HMF2);
    s.trace(3.05f);
    Inversion& inv = s.inv();
    FPROF(*s.z, inv.ER(3));
    ASSERT_EQ(s.istat(), 2) << s.log.str();
    EXPECT_EQ(inv.KF1MODE, 0);
    EXPECT_EQ(inv.IROOTF2, 0);
    // Thinning and smoothing of the data limit the agreement to a few km (3.0 km measured).
    EXPECT_NEAR(inv.ZMF2, HMF2, 5.0);
    EXPECT_GE(inv.FC(4), 7.0f);
    EXPECT_LE(inv.FC(4), 7.05f);
    EXPECT_GT(inv.ER(3), 0.0f);
    EXPECT_LT(inv.ER(3), 5.0f);
    // HHALF lies on the solved F2 region, and near the true height there.
    const float f = inv.FC(4) / 1.4142135f;
    EXPECT_NEAR(inv.HHALF, height(FOE, inv.FC(4), inv.ZMF2, inv.A_F2.data(), 5, f), 0.01);
    EXPECT_NEAR(inv.HHALF, height(FOE, FOF2, s.truth_zmf2(), s.truth.A_F2.data(), 5, f), 5.0);
}

// Data beginning 5 frequency steps above the F2 start are solved in gap mode, 4 steps not.
TEST(FProf, GapModeFromFiveStepsAboveTheStart) {
    Scenario four(FOE);
    four.f2(FOF2, HMF2);
    four.trace(FOE + 4 * STEP);
    FPROF(*four.z, four.inv().ER(3));
    ASSERT_EQ(four.istat(), 2) << four.log.str();
    EXPECT_EQ(four.inv().KF1MODE, 0);
    EXPECT_GT(four.inv().ER(3), 0.0f);

    Scenario five(FOE);
    five.f2(FOF2, HMF2);
    five.trace(FOE + 5 * STEP);
    Inversion& inv = five.inv();
    FPROF(*five.z, inv.ER(3));
    ASSERT_EQ(five.istat(), 2) << five.log.str();
    EXPECT_EQ(inv.KF1MODE, 1);
    EXPECT_EQ(inv.ER(3), 0.0f);   // not set in gap mode
    EXPECT_NEAR(inv.ZMF2, HMF2, 5.0);
    // The gap is filled from the line below the data down to the line above foE, with the
    // virtual heights of the final profile.
    ASSERT_GE(inv.NFQ, 5);
    EXPECT_FLOAT_EQ(inv.FQ(inv.NFQ), 3.05f);
    EXPECT_FLOAT_EQ(inv.FQ(inv.NFQ - 3), 3.20f);
    const float hv = inv.HV(inv.NFQ);
    inv.IRGN = 3;
    EXPECT_EQ(RECVIRT(inv, 3.05f, 5), hv);
}

// The refined gap mode's pieces. The slope dh/dfN at the region's start agrees with the
// difference quotient of the height written out from the representation's definition;
// D(1) > 0 (D the derivative polynomial) is a profile falling towards its start, with a
// negative slope, whether it turns near the foot (one root at u = 5/6) or is monotonic
// with a slope of the wrong sign nowhere else; a turning point inside the region alone is
// not at the foot.
TEST(GapRefined, SlopeAtTheStartAndTurningAtTheFoot) {
    Scenario s(FOE);
    s.f2(FOF2, HMF2);
    Inversion& inv = s.inv();
    const float* a = s.truth.A_F2.data();
    const float zm = s.truth_zmf2();
    const float slope = slope_at_start(inv, a, 5, FOE, FOF2);
    const float h0 = height(FOE, FOF2, zm, a, 5, FOE), h1 = height(FOE, FOF2, zm, a, 5, FOE + 0.01f);
    EXPECT_GT(slope, 0.0f);
    EXPECT_NEAR(slope, (h1 - h0) / 0.01f, 0.03f * slope);
    inv.NN = 5;
    for (int j = 1; j <= 5; ++j) inv.A(j) = a[j];
    EXPECT_FALSE(turns_at_foot(inv));

    const float turn[] = {0.0f, -40.0f, 10.0f};           // D(u) = 60u - 50
    const float inside[] = {0.0f, -35.5f, 20.0f, -7.5f};  // D(u) = -300 (u - 0.3)(u - 0.7)
    inv.NN = 2;
    inv.A(1) = turn[1];
    inv.A(2) = turn[2];
    EXPECT_TRUE(turns_at_foot(inv));
    EXPECT_LT(slope_at_start(inv, turn, 2, FOE, FOF2), 0.0f);
    inv.NN = 3;
    for (int j = 1; j <= 3; ++j) inv.A(j) = inside[j];
    EXPECT_FALSE(turns_at_foot(inv));
}

// observed_misfit scores coefficients on the observed points through the whole profile and
// puts the region's saved coefficients and end frequency back; hold_foot, on an order of the
// gap mode, keeps a held solution only when it fits the observed points no worse than the
// order below did, and otherwise leaves the order rejected with the bracket cell reset.
TEST(GapRefined, ObservedMisfitAndTheAcceptanceOfAHeldOrder) {
    Scenario s(FOE);
    s.f2(FOF2, HMF2);
    const float first = FOE + 20 * STEP;
    s.trace(first);
    Inversion& inv = s.inv();
    inv.refine.gap = true;
    FPROF(*s.z, inv.ER(3));
    ASSERT_EQ(s.istat(), 2) << s.log.str();
    ASSERT_EQ(inv.KF1MODE, 1);
    EXPECT_NE(s.log.str().find("GAP MODE F2: ORDER 5 KEPT"), std::string::npos);
    int n0 = 0;
    while (n0 < inv.NFQ && inv.FQ(n0 + 1) >= first - 0.001f) ++n0;
    ASSERT_GT(n0, 10);

    inv.IRGN = 3;
    const zelk::F1<float, 7> saved = inv.A_F2;
    const float fc4 = inv.FC(4);
    const float exact = observed_misfit(inv, s.truth.A_F2.data(), 5, FOF2, n0);
    zelk::F1<float, 7> off = s.truth.A_F2;
    off(1) += 10.0f;
    const float wrong = observed_misfit(inv, off.data(), 5, FOF2, n0);
    EXPECT_LT(exact, 0.5f);
    EXPECT_GT(wrong, 5.0f);
    for (int j = 1; j <= 7; ++j) EXPECT_EQ(inv.A_F2(j), saved(j));
    EXPECT_EQ(inv.FC(4), fc4);

    // Order 3 again, held below the true profile's slope at the start.
    const float slope = slope_at_start(inv, s.truth.A_F2.data(), 5, FOE, FOF2);
    const float fcend = std::round((FOF2 - 0.02f) / STEP) * STEP;
    float err = 0.0f;
    inv.NN = 3;
    inv.IROOT = 1;
    ASSERT_TRUE(hold_foot(inv, s.z->context(), n0, fcend, slope, 1.0e9f, err));
    EXPECT_EQ(inv.IROOT, 0);
    EXPECT_FALSE(inv.foot_held);
    const float held = slope_at_start(inv, inv.A.data(), 3, inv.FSTART, inv.FEND);
    EXPECT_LE(held, 1.01f * slope);
    EXPECT_GE(held, 0.99f * slope / 32.0f);
    EXPECT_EQ(inv.FC(4), inv.FEND);
    EXPECT_NE(s.log.str().find("SLOPE HELD: ACCEPTED"), std::string::npos);

    inv.NN = 3;
    inv.IROOT = 1;
    EXPECT_FALSE(hold_foot(inv, s.z->context(), n0, fcend, slope, 0.0f, err));
    EXPECT_EQ(inv.IROOT, 1);
    EXPECT_EQ(inv.FC(4), fcend);
    EXPECT_NE(s.log.str().find("SLOPE HELD: REFUSED"), std::string::npos);
}

// 3, 4 or 5 F2 points are solved by FEWTERM (at most 4 coefficients), 6 by the full
// solution, 2 are too few.
TEST(FProf, FewPointsGoStraightToFewterm) {
    for (int n = 2; n <= 6; ++n) {
        Scenario s(FOE);
        const float fo = FOE + static_cast<float>(n) * STEP + 0.02f;
        s.f2(fo, 200.0f);
        s.trace(FOE + STEP);
        Inversion& inv = s.inv();
        ASSERT_EQ(inv.NFQF, n);
        FPROF(*s.z, inv.ER(3));
        if (n == 2) {
            EXPECT_EQ(s.istat(), 12);
            EXPECT_NE(s.log.str().find(" NFQ=2 : TOO FEW F2 DATA POINTS!"), std::string::npos);
            continue;
        }
        ASSERT_EQ(s.istat(), 2) << n << " points\n" << s.log.str();
        if (n <= 5) {
            EXPECT_EQ(inv.A_F2(5), 0.0f) << n << " points";
        } else {
            EXPECT_NE(inv.A_F2(5), 0.0f) << n << " points";
        }
    }
}

// Residuals: with virtual heights below the group path of the E layer the F2 solution is
// A = 0 and its mean residual is the mean distance of the data below that path; three
// points keep their raw heights (too few neighbours to smooth), so the residual is set
// exactly. 100 km counts as an oscillating solution although the root check passed.
TEST(FProf, ResidualOf100KmIsRejected) {
    for (float target : {100.0f, 99.99f}) {
        Scenario s(FOE);
        Inversion& inv = s.inv();
        zelk::F1<float, 7> ae;   // a thick E layer, whose group path leaves room below it
        parabola(inv, 0.2f, FOE, 3, 100.0f, ae);
        for (int j = 1; j <= 3; ++j) inv.A_E(j) = ae(j);
        inv.HBASE(1) = ZME_TRUE + ae(1) + ae(2) + ae(3);
        inv.FOF2 = 3.17f;
        below_lower_layers(s, 3, 3.05f, 3, 0.0f);
        float room = 0.0f;
        for (int K = 1; K <= 3; ++K) room += inv.TRH(K) - 112.0f;
        const float c = 3.0f * target / room;
        ASSERT_LT(c, 1.0f);
        for (int K = 1; K <= 3; ++K) inv.TRH(K) -= c * (inv.TRH(K) - 112.0f);
        FPROF(*s.z, inv.ER(3));
        EXPECT_NEAR(inv.ER(3), target, 0.001);
        EXPECT_EQ(inv.IROOTF2, 0);
        if (target > 99.999f) {
            EXPECT_EQ(s.istat(), 18);
            EXPECT_NE(s.log.str().find("   OSCILLATING F2 LAYER SOLUTION!"), std::string::npos);
        } else {
            EXPECT_EQ(s.istat(), 2) << s.log.str();
        }
    }
}

// An F2 solution with nothing to explain (A = 0) peaks at its start height, the F1 peak:
// ZMF2 equal to ZMF1 is rejected; just above it is accepted.
TEST(FProf, F2PeakAtTheF1PeakIsRejected) {
    for (float zmf1 : {200.0f, 199.999f}) {
        Scenario s(FOE);
        Inversion& inv = s.inv();
        s.f1(4.52f, 200.0f);
        inv.A_F1 = s.truth.A_F1;
        inv.FC(3) = 4.52f;
        inv.ZMF1 = 200.0f;
        inv.HBASE(3) = 200.0f;
        inv.FOF2 = 4.87f;
        below_lower_layers(s, 3, 4.55f, 7, 40.0f);
        inv.ZMF1 = zmf1;
        FPROF(*s.z, inv.ER(3));
        EXPECT_EQ(inv.ZMF2, 200.0f);
        if (zmf1 == 200.0f) {
            EXPECT_EQ(s.istat(), 8);
            EXPECT_NE(s.log.str().find(" : F2 TRACE PHYSICALLY UNREASONABLE!"), std::string::npos);
        } else {
            EXPECT_EQ(s.istat(), 2) << s.log.str();
        }
    }
}

// The same construction for the F1 layer above a valley of width VW (rising side only):
// ZMF1 = ZME + VW. 300.0 km is accepted, 300.1 km rejected.
TEST(F1Prof, PeakBoundIs300Km) {
    for (float vw : {190.0f, 190.1f}) {
        Scenario s(FOE);
        Inversion& inv = s.inv();
        inv.VW = vw;
        inv.VW1 = inv.VW2 = 0.0f;
        inv.VW3 = vw;
        inv.FV = 1.0f;
        inv.HBASE(2) = inv.HBASE(3) = inv.ZME + vw;
        inv.FOF1 = 3.52f;
        inv.LF1() = 1;
        below_lower_layers(s, 2, 3.05f, 10, 20.0f);
        F1PROF(*s.z, inv.ER(2));
        EXPECT_EQ(inv.ZMF1, ZME_TRUE + vw);
        if (vw == 190.0f) {
            EXPECT_EQ(s.istat(), 2) << s.log.str();
            EXPECT_EQ(inv.HBASE(3), 300.0f);
        } else {
            EXPECT_EQ(s.istat(), 10);
            EXPECT_NE(s.log.str().find(" : F1 LAYER SOLUTION TOO THICK!"), std::string::npos);
            EXPECT_EQ(inv.HBASE(3), ZME_TRUE + vw);
        }
    }
}

// foF2/sqrt(2) below foE: HHALF is a height of the E region.
TEST(FProf, HalfDensityHeightInTheERegion) {
    Scenario s(FOE);
    s.f2(4.02f, 250.0f);
    s.trace(3.05f);
    Inversion& inv = s.inv();
    FPROF(*s.z, inv.ER(3));
    ASSERT_EQ(s.istat(), 2) << s.log.str();
    const float f = inv.FC(4) / 1.4142135f;
    ASSERT_LT(f, FOE);
    EXPECT_LT(inv.HHALF, ZME_TRUE);
    EXPECT_NEAR(inv.HHALF, height(0.2f, FOE, inv.ZME, inv.A_E.data(), 3, f), 0.01);
}

// F1 and F2 with their own traces, in the order of the region sequencing.
TEST(F1Prof, F1ThenF2) {
    Scenario s(FOE);
    s.f1(4.52f, 200.0f);
    s.f2(FOF2, HMF2);
    s.trace(3.05f);
    Inversion& inv = s.inv();
    F1PROF(*s.z, inv.ER(2));
    ASSERT_EQ(s.istat(), 2) << s.log.str();
    EXPECT_EQ(inv.KF1MODE, 0);
    EXPECT_NEAR(inv.ZMF1, 200.0, 3.0);   // 1.9 km measured
    EXPECT_EQ(inv.HBASE(3), inv.ZMF1);
    EXPECT_GT(inv.ER(2), 0.0f);
    FPROF(*s.z, inv.ER(3));
    ASSERT_EQ(s.istat(), 2) << s.log.str();
    EXPECT_NEAR(inv.ZMF2, HMF2, 5.0);    // 2.7 km measured
    EXPECT_EQ(inv.IROOTF1, 0);
    EXPECT_EQ(inv.IROOTF2, 0);
}

// A scaled F1 without F1 points: FPROF solves the F1 layer from the F trace with 3
// coefficients, then the F2 layer above it.
TEST(FProf, MergedF1FromTheFTrace) {
    Scenario s(FOE);
    s.f1(4.52f, 200.0f);
    s.f2(FOF2, HMF2);
    s.trace(3.05f, false);
    Inversion& inv = s.inv();
    F1PROF(*s.z, inv.ER(2));
    ASSERT_EQ(inv.KF1MODE, 2);
    FPROF(*s.z, inv.ER(3));
    ASSERT_EQ(s.istat(), 2) << s.log.str();
    EXPECT_EQ(inv.KF1MODEP, 2);
    EXPECT_EQ(inv.KF1MODE, 0);
    EXPECT_EQ(inv.A_F1(4), 0.0f);
    EXPECT_EQ(inv.A_F1(5), 0.0f);
    EXPECT_NE(inv.A_F1(3), 0.0f);
    EXPECT_GE(inv.FC(3), 4.52f);
    EXPECT_LE(inv.FC(3), 4.565f);
    EXPECT_NEAR(inv.ZMF1, 200.0, 10.0);  // 6.9 km measured: three terms only
    EXPECT_EQ(inv.HBASE(3), inv.ZMF1);
    EXPECT_GT(inv.ER(2), 0.0f);
    EXPECT_NEAR(inv.ZMF2, HMF2, 5.0);    // 2.3 km measured
}

// foF1 = 49 MHz without F1 points: the whole F trace becomes the F1 layer, whose peak then
// lies far too high. The 3-coefficient solution fails here and FEWTERM's 4-coefficient one
// stands: all four coefficients are kept (not only the 3 of the order asked for).
TEST(FProf, MergedF1At49MHz) {
    Scenario s(FOE);
    s.f2(FOF2, HMF2);
    s.trace(3.05f);
    Inversion& inv = s.inv();
    inv.FOF1 = 49.0f;
    inv.LF1() = 1;
    F1PROF(*s.z, inv.ER(2));
    ASSERT_EQ(inv.KF1MODE, 2);
    EXPECT_EQ(inv.FC(3), FOE);
    FPROF(*s.z, inv.ER(3));
    EXPECT_EQ(s.istat(), 10);
    EXPECT_GE(inv.FC(3), 49.0f);
    EXPECT_NE(inv.A_F1(4), 0.0f);
    EXPECT_EQ(inv.A_F1(5), 0.0f);
    EXPECT_EQ(inv.ZMF1, inv.HBASE(2) - (inv.A_F1(1) + inv.A_F1(2) + inv.A_F1(3) + inv.A_F1(4)));
    EXPECT_GT(inv.ZMF1, 300.0f);
}

// foF1 of exactly 50 MHz counts as scaled but has no F1 points: the F1 stage refuses to
// run the solver on no data (it used to fit an empty data set).
TEST(F1Prof, NoUsableF1PointIsRefused) {
    Scenario s(FOE);
    s.f2(FOF2, HMF2);
    s.trace(3.05f);
    Inversion& inv = s.inv();
    inv.FOF1 = 50.0f;
    inv.LF1() = 1;
    F1PROF(*s.z, inv.ER(2));
    EXPECT_EQ(s.istat(), 9);
    EXPECT_EQ(inv.FC(3), FOE);
}

// A foF2 below the F2 start frequency: range error, reported whatever the debug level.
TEST(FProf, FrequencyRangeErrorIsAlwaysReported) {
    Scenario s(FOE);
    s.f2(FOF2, HMF2);
    s.trace(3.05f);
    Inversion& inv = s.inv();
    s.z->log.IDEBUG = 0;
    inv.FOF2 = 2.9f;
    FPROF(*s.z, inv.ER(3));
    EXPECT_EQ(s.istat(), 5);
    EXPECT_NE(s.log.str().find(" DATA ERROR: F2-REGION FREQUENCY RANGE ERROR!"), std::string::npos);
}
// An F2 trace beginning well above foF1 is solved in gap mode with the F1 layer's group
// path removed, as in the normal solution (it used to be left in, and the F2 solution
// failed as oscillating).
TEST(FProf, GapModeAboveAnF1Layer) {
    Scenario s(FOE);
    s.f1(4.52f, 200.0f);
    s.f2(FOF2, HMF2);
    s.trace(4.55f + 6 * STEP);
    Inversion& inv = s.inv();
    F1PROF(*s.z, inv.ER(2));
    ASSERT_EQ(s.istat(), 2) << s.log.str();
    FPROF(*s.z, inv.ER(3));
    ASSERT_EQ(s.istat(), 2) << s.log.str();
    EXPECT_EQ(inv.KF1MODE, 1);
    EXPECT_NEAR(inv.ZMF2, HMF2, 5.0);    // 3.0 km measured
}

}  // namespace
