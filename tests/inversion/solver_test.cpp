// Layer solver: the linear algebra and the root check that decide which solutions are kept.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <sstream>

#include "pipeline/zelk.hpp"
#include "inversion/inversion.hpp"
#include "ztest.hpp"
#include "zelk_calls.hpp"

using namespace zelk;
using namespace zelk::inversion;

namespace {

using ztest::Ctx;

int checkh(Inversion& inv, std::initializer_list<float> a) {
    SETCV(inv);
    inv.NN = static_cast<int16_t>(a.size());
    int i = 1;
    for (float v : a) inv.A(i++) = v;
    int16_t ichk = -99;
    CHECKH(inv, ichk);
    return ichk;
}

}  // namespace

TEST(EQUTN, SolvesAGeneralSystem) {
    Ctx r;
    F2<float, 8, 9> neq;
    // 4x + y - 2z = 1, -3x + 5y + z = 15, 2x - y + 6z = 17  ->  (1, 3, 3)
    const float m[3][4] = {{4, 1, -2, 1}, {-3, 5, 1, 15}, {2, -1, 6, 17}};
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 4; ++j) neq(i, j) = m[i - 1][j - 1];
    F1<float, 8> xs;
    EQUTN(*r.z, neq, 3, xs);
    EXPECT_NEAR(xs(1), 1.0f, 1e-5f);
    EXPECT_NEAR(xs(2), 3.0f, 1e-5f);
    EXPECT_NEAR(xs(3), 3.0f, 1e-5f);
    EXPECT_EQ(r.log.str(), "");
}

// Equal magnitudes in the pivot search: the first one met, rows outer and columns inner,
// is kept. Here |2| stands at (1,2) and (2,1); the pivot must be (1,2).
TEST(EQUTN, TieInThePivotSearchKeepsTheEarlierElement) {
    Ctx r;
    F2<float, 8, 9> neq;
    neq(1, 1) = 1; neq(1, 2) = 2; neq(1, 3) = 5;    // x + 2y = 5
    neq(2, 1) = -2; neq(2, 2) = 1; neq(2, 3) = 0;   // -2x + y = 0
    F1<float, 8> xs;
    EQUTN(*r.z, neq, 2, xs);
    EXPECT_EQ(r.z->inv.IR(1), 1);
    EXPECT_EQ(r.z->inv.IC(1), 2);
    EXPECT_NEAR(xs(1), 1.0f, 1e-6f);
    EXPECT_NEAR(xs(2), 2.0f, 1e-6f);

    // The same tie on one row: (1,1) before (1,2).
    F2<float, 8, 9> row;
    row(1, 1) = 2; row(1, 2) = -2; row(1, 3) = 0;   // 2x - 2y = 0
    row(2, 1) = 1; row(2, 2) = 1; row(2, 3) = 2;    // x + y = 2
    EQUTN(*r.z, row, 2, xs);
    EXPECT_EQ(r.z->inv.IC(1), 1);
    EXPECT_NEAR(xs(1), 1.0f, 1e-6f);
    EXPECT_NEAR(xs(2), 1.0f, 1e-6f);
}

// A singular system sets XS(1) = 0, leaves the rest and notes it unless IDEBUG is 0.
TEST(EQUTN, SingularSystemIsReportedAndLeavesStaleEntries) {
    for (int16_t idebug : {1, 0}) {
        Ctx r;
        r.z->log.IDEBUG = idebug;
        F2<float, 8, 9> neq;
        neq(1, 1) = 1; neq(1, 2) = 2; neq(1, 3) = 3;
        neq(2, 1) = 2; neq(2, 2) = 4; neq(2, 3) = 6;
        F1<float, 8> xs;
        xs(1) = 7.0f;
        xs(2) = 7.0f;
        EQUTN(*r.z, neq, 2, xs);
        EXPECT_EQ(xs(1), 0.0f);
        EXPECT_EQ(xs(2), 7.0f);
        EXPECT_EQ(r.log.str(), idebug > 0 ? "ILL-CONDITIONED\n" : "");
    }
}

// D(u) = sum A(i) DTST_i(u); the count is the number of its roots in (0,1).
TEST(CHECKH, CountsTurningPointsInsideTheRegion) {
    Ctx r;
    Inversion& inv = r.z->inv;
    EXPECT_EQ(checkh(inv, {-50.0f}), 0);                 // constant
    EXPECT_EQ(checkh(inv, {4.0f, 0.0f, 1.0f}), 0);       // 40u^2 - 24u + 5: no real root
    EXPECT_EQ(checkh(inv, {-11.0f, 1.0f}), 0);           // 6u - 12: root at u = 2
    EXPECT_EQ(checkh(inv, {0.0f, 1.0f}), 1);             // 6u - 1: root at 1/6
    EXPECT_EQ(checkh(inv, {0.0f, 0.0f, 1.0f}), 2);       // 40u^2 - 24u + 1: 0.045, 0.555
    // 224u^3 - 240u^2 + 54u - 1: roots near 0.019, 0.29 and 0.76.
    EXPECT_EQ(checkh(inv, {0.0f, 0.0f, 0.0f, 1.0f}), 3);
    // The Sturm sequence is kept: P0 of the last case, constant term first.
    EXPECT_EQ(inv.STURM(1, 1), -1.0f);
    EXPECT_EQ(inv.STURM(4, 1), 224.0f);
}

// A zero sign at an end counts as a change next to a non-zero neighbour: a root at u = 0
// (the peak end of the region) is counted, one at u = 1 (the start) is not.
TEST(CHECKH, ZeroSignAtAnEnd) {
    Ctx r;
    Inversion& inv = r.z->inv;
    const float sixth = 1.0f / 6.0f;
    EXPECT_EQ(checkh(inv, {sixth, sixth}), 1);           // D = u
    EXPECT_EQ(checkh(inv, {-5.0f, 1.0f}), 0);            // D = 6u - 6
    EXPECT_EQ(checkh(inv, {0.0f, 0.0f}), 0);             // D = 0
}

namespace {

// A record with the given trace list: nE E points first, then nF1 F1 and nF2 F2 points.
void trace_list(Inversion& inv, std::initializer_list<std::pair<float, float>> pts, int nE, int nF1,
                int nF2) {
    int J = 0;
    for (auto [f, h] : pts) {
        ++J;
        inv.TRF(J) = f;
        inv.TRH(J) = h;
    }
    inv.NFQE = static_cast<int16_t>(nE);
    inv.NFQF1 = static_cast<int16_t>(nF1);
    inv.NFQF = static_cast<int16_t>(nF2);
}

// Set-up of the E region with the model foE known and the sunspot number unchanged, so
// that no prediction is needed.
void setup_e(Ctx& c, float foe, float foepre, float fminf) {
    Inversion& inv = c.z->inv;
    c.z->mod.FOEPRE = foepre;
    c.z->mod.ISSN = 80;
    inv.SSNIN = 80.0f;
    inv.FQINCR = 0.1f;
    inv.FOE = foe;
    inv.FMINF = fminf;
    inv.IRGN = 1;
    SETUP(*c.z);
}

}  // namespace

// Without E points the E region ends at the scaled (or model) foE, pulled just below the
// lowest F frequency when that lies at or below the model foE.
TEST(SETUP, ERegionWithoutEPoints) {
    Ctx c;
    Inversion& inv = c.z->inv;
    trace_list(inv, {{2.8f, 250.0f}}, 0, 0, 1);
    setup_e(c, 3.1f, 3.0f, 2.8f);
    EXPECT_EQ(inv.FEND, 2.8f - 0.1f + 2.0f * (0.1f * 0.1f));   // 2.72 MHz
    EXPECT_EQ(inv.IEFLAG, 3);
    EXPECT_EQ(inv.FSTART, 0.2f);
    EXPECT_EQ(inv.NN, 3);
    EXPECT_EQ(inv.NFQ, 0);
    EXPECT_EQ(inv.FC(1), 0.2f);
    EXPECT_EQ(inv.FC(2), inv.FEND);

    Ctx m;   // foE not scaled, F trace well above: the model foE
    trace_list(m.z->inv, {{4.0f, 250.0f}}, 0, 0, 1);
    setup_e(m, 9999.0f, 3.0f, 4.0f);
    EXPECT_EQ(m.z->inv.FEND, 3.0f);
    EXPECT_EQ(m.z->inv.IEFLAG, 2);

    Ctx low;  // F trace at 0.3 MHz or below: no E region
    trace_list(low.z->inv, {{0.3f, 250.0f}}, 0, 0, 1);
    setup_e(low, 3.1f, 3.0f, 0.3f);
    EXPECT_EQ(low.z->inv.FEND, 0.0f);
}

// With E points the end frequency is the line of the scaled foE plus 0.2 step.
TEST(SETUP, ERegionWithEPoints) {
    Ctx c;
    Inversion& inv = c.z->inv;
    trace_list(inv, {{2.0f, 105.0f}, {2.5f, 112.0f}, {3.1f, 150.0f}, {3.5f, 250.0f}}, 3, 0, 1);
    setup_e(c, 3.12f, 2.9f, 3.5f);
    EXPECT_FLOAT_EQ(inv.FEND, 3.12f);
    EXPECT_EQ(inv.IEFLAG, 1);
    EXPECT_EQ(inv.NFQ, 3);
    EXPECT_EQ(inv.FQ(3), 3.1f);
    EXPECT_EQ(inv.HV(2), 112.0f);
}

// An F1 trace that ends in a missing height is joined to the F2 trace: the F1 top moves
// midway to the first valid F2 point (heights rising across the junction), the points are
// re-divided at it, and the missing top height takes the first valid F2 height.
TEST(SETUP, F1JunctionRepair) {
    const float M = 9999.0f;
    for (bool rising : {true, false}) {
        Ctx c;
        Inversion& inv = c.z->inv;
        inv.HMISS = M;
        inv.FQINCR = 0.1f;
        inv.FOF1 = 3.9f;
        inv.FC(2) = 3.0f;
        const float h2 = rising ? 250.0f : 215.0f;
        trace_list(inv, {{2.0f, 105.0f}, {3.5f, 200.0f}, {3.6f, 210.0f}, {3.7f, 220.0f}, {3.8f, M},
                         {3.9f, 0.0f}, {4.0f, h2}, {4.1f, 260.0f}},
                   1, 4, 3);
        inv.IRGN = 2;
        SETUP(*c.z);
        EXPECT_EQ(inv.FSTART, 3.0f);
        EXPECT_EQ(inv.NN, 5);
        if (rising) {
            EXPECT_FLOAT_EQ(inv.FEND, 3.8f);
            EXPECT_EQ(inv.NFQF1, 4);
            EXPECT_EQ(inv.NFQF, 3);
            EXPECT_EQ(inv.NFQ, 4);
            EXPECT_EQ(inv.HV(4), 250.0f);
        } else {
            EXPECT_EQ(inv.FEND, 3.7f);
            EXPECT_EQ(inv.NFQF1, 3);
            EXPECT_EQ(inv.NFQF, 4);
            EXPECT_EQ(inv.HV(3), 220.0f);
        }
        EXPECT_EQ(inv.FC(3), inv.FEND);
        EXPECT_EQ(inv.FQ(1), 3.5f);
    }
}

// A clean junction keeps the scaled foF1 line; F2 follows F1 in the trace list, or the E
// points directly when the F1 layer is to be solved from the F trace (KF1MODE = 2).
TEST(SETUP, F1AndF2Regions) {
    Ctx c;
    Inversion& inv = c.z->inv;
    inv.FQINCR = 0.1f;
    inv.FOF1 = 3.75f;
    inv.FOF2 = 5.02f;
    inv.FC(2) = 3.0f;
    inv.LF1() = 1;
    trace_list(inv, {{2.0f, 105.0f}, {3.5f, 200.0f}, {3.6f, 210.0f}, {4.0f, 250.0f}, {4.1f, 260.0f}},
               1, 2, 2);
    inv.IRGN = 2;
    SETUP(*c.z);
    EXPECT_FLOAT_EQ(inv.FEND, 3.7f);
    EXPECT_EQ(inv.NFQF1, 2);
    inv.IRGN = 3;
    SETUP(*c.z);
    EXPECT_EQ(inv.FSTART, inv.FC(3));
    EXPECT_FLOAT_EQ(inv.FEND, 5.0f);
    EXPECT_EQ(inv.FC(4), inv.FEND);
    EXPECT_EQ(inv.FQ(1), 4.0f);

    inv.KF1MODE = 2;
    inv.NFQF1 = 0;
    inv.NFQF = 4;
    inv.LF1() = 0;
    SETUP(*c.z);
    EXPECT_EQ(inv.FC(3), 3.0f);
    EXPECT_EQ(inv.FQ(1), 3.5f);
    EXPECT_EQ(inv.NFQ, 4);
}

TEST(SETUP, IllegalRegion) {
    Ctx c;
    c.z->inv.ISTAT() = 2;
    c.z->inv.IRGN = 4;
    SETUP(*c.z);
    EXPECT_EQ(c.z->inv.ISTAT(), 0);
    EXPECT_EQ(c.log.str(), " ILLEGAL VALUE OF IRGN=4\n DATA ERROR: NO PROFILE INVERTED!\n");
}

namespace {

// An F region from FSTART = 3.0 MHz with 20 data from f0 (default 3.05 MHz) at steps of
// step (default 0.1 MHz), whose virtual heights are those of the profile with end
// frequency fend and coefficients a above a constant group path of 200 km through the
// lower regions. The bracket cell FC(IRGN+1) = fc.
void f_region(Ctx& c, int irgn, float fc, float fend, std::initializer_list<float> a,
              float step = 0.1f, float f0 = 3.05f) {
    Inversion& inv = c.z->inv;
    SETCV(inv);
    inv.FH = 1.2f;
    float dip = 1.0f;
    GOGXCOM(inv, dip);
    inv.NGAUSS = 16;
    inv.IRGN = static_cast<int16_t>(irgn);
    inv.FQINCR = 0.1f;
    inv.FC(irgn) = 3.0f;
    inv.FC(irgn + 1) = fc;
    inv.FSTART = 3.0f;
    inv.FEND = fend;
    inv.NN = static_cast<int16_t>(a.size());
    inv.A.fill(0.0f);
    int i = 1;
    for (float v : a) inv.A(i++) = v;
    inv.NFQ = 20;
    for (int K = 1; K <= 20; ++K) {
        inv.FQ(K) = f0 + step * static_cast<float>(K - 1);
        inv.DHE(K) = 200.0f;
    }
    CDO(inv);
    SIK(inv);
    for (int K = 1; K <= 20; ++K) inv.HV(K) = VIRTUAL(inv, K);
    inv.A.fill(0.0f);
    inv.FEND = 0.0f;
}

}  // namespace

// Data made with the bracket midpoint as end frequency: the first trial fits them exactly
// and becomes the best; the next, lower trial has a larger error and ends the search.
TEST(DENSTY, AcceptsTheBestMonotonicTrial) {
    Ctx c;
    Inversion& inv = c.z->inv;
    const float mid = std::round(0.5f * (5.0f + 5.1f) * 1000.0f) / 1000.0f;
    f_region(c, 3, 5.0f, mid, {-80.0f, -10.0f, 5.0f});
    float err = -1.0f;
    DENSTY(*c.z, err);
    EXPECT_EQ(inv.IROOT, 0);
    EXPECT_EQ(inv.FEND, mid);
    EXPECT_EQ(inv.FC(4), mid);
    EXPECT_EQ(inv.FSTART, 3.0f);
    EXPECT_EQ(inv.FLO, 5.0f);
    EXPECT_EQ(inv.FHI, mid);
    EXPECT_LT(err, 0.01f);
    EXPECT_NEAR(inv.A(1), -80.0f, 0.01f);
    EXPECT_NEAR(inv.A(2), -10.0f, 0.01f);
    EXPECT_NEAR(inv.A(3), 5.0f, 0.01f);
    for (int i = 1; i <= 3; ++i) EXPECT_EQ(inv.A(i), std::round(inv.A(i) * 1000.0f) / 1000.0f);
}

// A profile with one turning point: every trial raises FLO until the bracket closes at
// its upper end; the end frequency falls back to the rounded midpoint and IROOT = 1.
TEST(DENSTY, OneTurningPointRaisesTheLowerEnd) {
    Ctx c;
    Inversion& inv = c.z->inv;
    f_region(c, 3, 5.0f, 5.05f, {-40.0f, 10.0f});   // D(u) = 60u - 50: root at 5/6
    float err = -1.0f;
    DENSTY(*c.z, err);
    EXPECT_EQ(inv.IROOT, 1);
    EXPECT_EQ(inv.FHI, 5.1f);
    EXPECT_GT(inv.FLO, 5.098f);
    EXPECT_NEAR(inv.FEND, 5.05f, 1e-6f);
    EXPECT_EQ(inv.FC(4), 5.0f);
    EXPECT_EQ(err, -1.0f);
}

// Two turning points: every trial lowers FHI until the bracket closes at its lower end.
TEST(DENSTY, TwoTurningPointsLowerTheUpperEnd) {
    Ctx c;
    Inversion& inv = c.z->inv;
    // D(u) = -300 (u - 0.3)(u - 0.7)
    f_region(c, 3, 5.0f, 5.05f, {-35.5f, 20.0f, -7.5f});
    float err = -1.0f;
    DENSTY(*c.z, err);
    EXPECT_EQ(inv.IROOT, 2);
    EXPECT_EQ(inv.FLO, 5.0f);
    EXPECT_LT(inv.FHI, 5.002f);
    EXPECT_NEAR(inv.FEND, 5.05f, 1e-6f);
}

// With a step of 0.1 MHz the F1 bracket is [foF1, foF1 + 0.095].
TEST(DENSTY, F1Bracket) {
    Ctx c;
    Inversion& inv = c.z->inv;
    f_region(c, 2, 4.0f, 4.05f, {-40.0f, 10.0f}, 0.05f);
    float err = 0.0f;
    DENSTY(*c.z, err);
    EXPECT_EQ(inv.IROOT, 1);
    EXPECT_EQ(inv.FHI, 4.0f + 0.1f - 0.005f);
    EXPECT_GT(inv.FLO, 4.093f);
    EXPECT_NEAR(inv.FEND, 4.048f, 0.0011f);   // midpoint 4.0475 on the 0.001 MHz grid

    Ctx ok;
    Inversion& inv2 = ok.z->inv;
    const float mid = std::round(0.5f * (4.0f + 4.095f) * 1000.0f) / 1000.0f;
    f_region(ok, 2, 4.0f, mid, {-30.0f, -5.0f}, 0.05f);
    DENSTY(*ok.z, err);
    EXPECT_EQ(inv2.IROOT, 0);
    EXPECT_EQ(inv2.FC(3), inv2.FEND);
    EXPECT_GE(inv2.FEND, 4.0f);
    EXPECT_LE(inv2.FEND, 4.095f);
}

// Data that begin well above the region start: the fit variable starts one step below the
// data, and the returned coefficients still describe the profile from FSTART.
TEST(DENSTY, DataAboveTheRegionStart) {
    Ctx c;
    Inversion& inv = c.z->inv;
    const float mid = std::round(0.5f * (5.0f + 5.1f) * 1000.0f) / 1000.0f;
    f_region(c, 3, 5.0f, mid, {-80.0f, -10.0f, 5.0f}, 0.07f, 3.55f);
    float err = -1.0f;
    DENSTY(*c.z, err);
    EXPECT_EQ(inv.IROOT, 0);
    EXPECT_EQ(inv.FSTART, 3.0f);
    EXPECT_LT(err, 0.01f);
    EXPECT_NEAR(inv.A(1), -80.0f, 0.05f);
    EXPECT_NEAR(inv.A(2), -10.0f, 0.05f);
    EXPECT_NEAR(inv.A(3), 5.0f, 0.05f);
}

// A frequency step below the search limit gives a bracket narrower than 0.0015 MHz: one
// trial still runs, so IROOT describes this region and not a value left from another one.
TEST(DENSTY, NarrowBracketStillTriesOnce) {
    Ctx c;
    Inversion& inv = c.z->inv;
    const float mid = std::round(0.5f * (5.0f + 5.001f) * 1000.0f) / 1000.0f;
    f_region(c, 3, 5.0f, mid, {-80.0f, -10.0f, 5.0f});
    inv.FQINCR = 0.001f;
    inv.ICHK = 7;
    float err = -1.0f;
    DENSTY(*c.z, err);
    EXPECT_EQ(inv.IROOT, 0);
    EXPECT_EQ(inv.FEND, mid);
    EXPECT_EQ(inv.FC(4), mid);
    EXPECT_LT(err, 0.05f);
}

// A turning point (5.004 MHz) after an accepted trial (5.007) ends the search short of 5.005.
TEST(DENSTY, TurningPointAfterAnAcceptedTrialEndsTheSearch) {
    Ctx c;
    Inversion& inv = c.z->inv;
    f_region(c, 3, 5.0f, 5.005f, {-100.0f, -10.0f, 5.0f, 0.0f, 1.0f});
    float err = -1.0f;
    DENSTY(*c.z, err);
    EXPECT_EQ(inv.IROOT, 0);
    EXPECT_FLOAT_EQ(inv.FEND, 5.007f);
    EXPECT_EQ(inv.FC(4), inv.FEND);
    EXPECT_EQ(inv.FHI, inv.FEND);
    EXPECT_EQ(inv.FLO, 5.0f);   // the trial with the turning point did not move the bracket
    EXPECT_NEAR(err, 0.056126f, 2e-5f);
    const float accepted[5] = {-100.706f, -9.609f, 4.831f, 0.073f, 0.978f};
    for (int i = 1; i <= 5; ++i) EXPECT_NEAR(inv.A(i), accepted[i - 1], 1.5e-3f);
    EXPECT_EQ(checkh(inv, {-100.0f, -10.0f, 5.0f, 0.0f, 1.0f}), 0);   // the exact fit is monotonic
}

// The refined gap mode's held slope: with foot_held set, the fit obeys the slope dh/dfN at
// the region's start, whether the fit variable starts there (data from the first line above
// it) or one step below data that begin higher up (the change of start frequency carries the
// condition over). Held at half the slope of the profile that made the data, the fit cannot
// be exact; without the hold it is.
TEST(DENSTY, HeldSlopeAtTheRegionStart) {
    for (const float f0 : {3.05f, 3.55f}) {
        SCOPED_TRACE(f0);
        const float mid = std::round(0.5f * (5.0f + 5.1f) * 1000.0f) / 1000.0f;
        const float a[] = {0.0f, -80.0f, -10.0f, 5.0f};
        Ctx free;
        f_region(free, 3, 5.0f, mid, {-80.0f, -10.0f, 5.0f}, 0.07f, f0);
        const float truth = slope_at_start(free.inv(), a, 3, 3.0f, mid);
        ASSERT_GT(truth, 0.0f);
        float err_free = -1.0f;
        DENSTY(*free.z, err_free);
        ASSERT_EQ(free.inv().IROOT, 0);
        EXPECT_LT(err_free, 0.05f);
        EXPECT_NEAR(slope_at_start(free.inv(), free.inv().A.data(), 3, 3.0f, free.inv().FEND), truth,
                    0.02f * truth);

        Ctx held;
        Inversion& inv = held.inv();
        f_region(held, 3, 5.0f, mid, {-80.0f, -10.0f, 5.0f}, 0.07f, f0);
        inv.foot_held = true;
        inv.foot_slope = 0.5f * truth;
        float err = -1.0f;
        DENSTY(*held.z, err);
        ASSERT_EQ(inv.IROOT, 0);
        EXPECT_EQ(inv.FSTART, 3.0f);
        // The coefficients are rounded to 0.001 km, which moves the slope a little.
        EXPECT_NEAR(slope_at_start(inv, inv.A.data(), 3, 3.0f, inv.FEND), 0.5f * truth, 0.01f * truth);
        EXPECT_GT(err, 10.0f * err_free);
    }
}
