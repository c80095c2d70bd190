// E region: the unit-parabola shape table and its interpolation.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <sstream>
#include <vector>

#include "pipeline/zelk.hpp"
#include "zelk_calls.hpp"
#include "inversion/inversion.hpp"

using namespace zelk;
using namespace zelk::inversion;

namespace {

// Rows 12, 13, 17 and 18 of the unit-parabola table (ratio, five coefficients).
const double ROW12[6] = {0.100, -1.45351, 0.555909, -0.114399, 0.0193251, -0.00254949};
const double ROW13[6] = {0.120, -1.42444, 0.517471, -0.0996703, 0.0155959, -0.00189095};
const double ROW17[6] = {0.200, -1.32527, 0.399777, -0.0610217, 0.00734085, -0.00066996};
const double ROW18[6] = {0.250, -1.27034, 0.343629, -0.0459653, 0.00478053, -0.00037402};

void zeroprof(Inversion& inv, float fstart, float fend, int nn = 5) {
    inv.A.fill(-7.0f);
    inv.FSTART = fstart;
    inv.FEND = fend;
    inv.NN = static_cast<int16_t>(nn);
    ZEROPROF(inv, 0);
}

}  // namespace

TEST(ZEROPROF, RatioOnARowTakesTheRow) {
    auto z = std::make_unique<Zelk>();
    zeroprof(z->inv, 0.2f, 2.0f);  // ratio 0.1 exactly
    for (int j = 1; j <= 5; ++j) EXPECT_EQ(z->inv.A(j), static_cast<float>(ROW12[j])) << j;
}

TEST(ZEROPROF, InterpolatesLinearlyAboveTwoTenths) {
    auto z = std::make_unique<Zelk>();
    zeroprof(z->inv, 0.21f, 1.0f);
    const double x = 0.21f;
    for (int j = 1; j <= 5; ++j) {
        const double c = (ROW17[j] * (ROW18[0] - x) + ROW18[j] * (x - ROW17[0])) / (ROW18[0] - ROW17[0]);
        EXPECT_NEAR(z->inv.A(j), c, 2e-6 * std::fabs(c) + 1e-9) << j;
    }
    // 0.21 lies a fifth of the way from row 17 to row 18.
    EXPECT_NEAR(z->inv.A(1), 0.8 * ROW17[1] + 0.2 * ROW18[1], 1e-5);
}

TEST(ZEROPROF, InterpolatesInTheLogarithmBelowTwoTenths) {
    auto z = std::make_unique<Zelk>();
    zeroprof(z->inv, 0.11f, 1.0f);
    const double x = 0.11f;
    const double w = (std::log(x) - std::log(ROW12[0])) / (std::log(ROW13[0]) - std::log(ROW12[0]));
    for (int j = 1; j <= 5; ++j) {
        const double c = ROW12[j] * (1.0 - w) + ROW13[j] * w;
        EXPECT_NEAR(z->inv.A(j), c, 2e-6 * std::fabs(c) + 1e-9) << j;
    }
    // Linear interpolation would give a visibly different first coefficient.
    EXPECT_GT(std::fabs(z->inv.A(1) - 0.5 * (ROW12[1] + ROW13[1])), 1e-4);
}

TEST(ZEROPROF, LimitsRowSelectionAndTermCount) {
    auto z = std::make_unique<Zelk>();
    Inversion& inv = z->inv;
    zeroprof(inv, 0.001f, 1.0f);                 // below the table: row 1
    EXPECT_EQ(inv.A(1), -1.7351f);
    zeroprof(inv, 3.0f, 3.0f);                   // ratio 1: row 33
    EXPECT_EQ(inv.A(1), -0.1f);
    zeroprof(inv, 0.2f, 2.0f, 3);                // three terms only
    EXPECT_EQ(inv.A(3), static_cast<float>(ROW12[3]));
    EXPECT_EQ(inv.A(4), -7.0f);
    inv.NN = 5;
    ZEROPROF(inv, 5);                            // explicit row
    EXPECT_EQ(inv.A(2), 0.770172f);
    ZEROPROF(inv, 34);                           // beyond the table: A unchanged
    EXPECT_EQ(inv.A(2), 0.770172f);
}

// Three E points or fewer: the model layer (peak 110 km, semi-thickness 20 km) with the
// shape of the unit parabola for FSTART/FEND, and no residual.
TEST(ECHAPMAN, ModelLayerBelowFourPoints) {
    auto z = std::make_unique<Zelk>();
    Inversion& inv = z->inv;
    inv.NFQ = 3;
    zeroprof(inv, 0.2f, 2.0f, 3);   // ratio 0.1: row 12
    float er = -1.0f;
    ECHAPMAN(*z, er);
    EXPECT_EQ(er, 0.0f);
    EXPECT_EQ(inv.YE, 20.0f);
    EXPECT_EQ(inv.ZME, 110.0f);
    EXPECT_EQ(inv.A_E(1), -29.070f);   // round3(20 x -1.45351)
    EXPECT_EQ(inv.A_E(2), 11.118f);    // round3(20 x 0.555909)
    EXPECT_EQ(inv.A_E(3), -2.288f);    // round3(20 x -0.114399)
    EXPECT_FLOAT_EQ(inv.HBASE(1), 110.0f - 29.070f + 11.118f - 2.288f);
}

namespace {

// Kernel set-up shared by the fits: gyrofrequency 1.2 MHz, dip 1 rad, 16 nodes.
void kernels(Inversion& inv) {
    SETCV(inv);
    inv.FH = 1.2f;
    float dip = 1.0f;
    GOGXCOM(inv, dip);
    inv.NGAUSS = 16;
}

// Four E points at 1.5, 2.0, 2.5, 2.9 MHz (FEND 3.0 MHz) whose virtual heights are those of
// the parabolic layer with base height c0 and semi-thickness c1: HV = c0 + c1 P with P the
// virtual heights of the unit layer. Returns P.
std::vector<double> e_points(Inversion& inv, float c0, float c1) {
    kernels(inv);
    inv.IRGN = 1;
    inv.FSTART = 0.2f;
    inv.FEND = 3.0f;
    inv.NN = 3;
    inv.NFQ = 4;
    const float f[4] = {1.5f, 2.0f, 2.5f, 2.9f};
    for (int K = 1; K <= 4; ++K) inv.FQ(K) = f[K - 1];
    ZEROPROF(inv, 0);
    CDO(inv);
    SIK(inv);
    std::vector<double> P(5, 0.0);
    for (int K = 1; K <= 4; ++K) {
        float s = 0.0f;
        for (int j = 1; j <= 3; ++j) s += inv.G(j, K) * inv.A(j);
        P[K] = s;
        inv.HV(K) = c0 + c1 * s;
    }
    return P;
}

// Slope of the line HV = c0 + c1 P refitted with the intercept held at c0.
double slope_with_intercept(const Inversion& inv, const std::vector<double>& P, double c0) {
    double sxy = 0, sx = 0, sxx = 0;
    for (int K = 1; K <= 4; ++K) {
        sxy += inv.HV(K) * P[K];
        sx += P[K];
        sxx += P[K] * P[K];
    }
    return (sxy - c0 * sx) / sxx;
}

}  // namespace

// Exactly four points take the least-squares path: a layer with base 85 km and
// semi-thickness 20 km comes back.
TEST(ECHAPMAN, FitsFourPoints) {
    auto z = std::make_unique<Zelk>();
    Inversion& inv = z->inv;
    e_points(inv, 85.0f, 20.0f);
    float er = -1.0f;
    ECHAPMAN(*z, er);
    EXPECT_NEAR(inv.HBASE(1), 85.0f, 0.002f);
    EXPECT_NEAR(inv.YE, 20.0f, 0.002f);
    EXPECT_LT(er, 0.01f);
    EXPECT_FLOAT_EQ(inv.ZME, inv.HBASE(1) - (inv.A_E(1) + inv.A_E(2) + inv.A_E(3)));
    EXPECT_EQ(inv.A(2), inv.A_E(2));
}

// A base height of 74.9 km is held at 75 km and 90.1 km at 90 km, with the slope refitted.
TEST(ECHAPMAN, BaseHeightLimits) {
    for (float c0 : {74.9f, 90.1f}) {
        auto z = std::make_unique<Zelk>();
        Inversion& inv = z->inv;
        const auto P = e_points(inv, c0, 20.0f);
        const double held = c0 < 80.0f ? 75.0 : 90.0;
        float er = -1.0f;
        ECHAPMAN(*z, er);
        EXPECT_EQ(inv.HBASE(1), static_cast<float>(held)) << c0;
        EXPECT_NEAR(inv.YE, slope_with_intercept(inv, P, held), 1e-4) << c0;
        EXPECT_GT(er, 0.01f) << c0;   // the held base no longer fits exactly
    }
}

// FEWTERM: fewer terms after a failed full solution; F2 goes down to 2 terms, F1 to 3;
// NN is 5 again afterwards and the unused coefficients are 0.
TEST(FEWTERM, TriesFewerTerms) {
    for (int irgn : {3, 2}) {
        auto z = std::make_unique<Zelk>();
        Inversion& inv = z->inv;
        kernels(inv);
        inv.IRGN = static_cast<int16_t>(irgn);
        inv.FQINCR = 0.1f;
        inv.FC(irgn) = 3.0f;
        inv.FC(irgn + 1) = 5.0f;
        inv.FSTART = 3.0f;
        inv.FEND = 5.05f;
        inv.NN = 3;
        inv.A(1) = -35.5f;  // two turning points: D(u) = -300 (u - 0.3)(u - 0.7)
        inv.A(2) = 20.0f;
        inv.A(3) = -7.5f;
        inv.NFQ = 20;
        for (int K = 1; K <= 20; ++K) {
            inv.FQ(K) = 3.05f + 0.1f * static_cast<float>(K - 1);
            inv.DHE(K) = 200.0f;
        }
        CDO(inv);
        SIK(inv);
        for (int K = 1; K <= 20; ++K) inv.HV(K) = VIRTUAL(inv, K);
        inv.NN = 5;
        float er = 0.0f;
        FEWTERM(*z, er);
        EXPECT_EQ(inv.NN, 5);
        EXPECT_GE(inv.IROOT, 1) << irgn;
        EXPECT_NE(inv.A(2), 0.0f) << irgn;
        EXPECT_EQ(inv.A(4), 0.0f) << irgn;
        if (irgn == 3)
            EXPECT_EQ(inv.A(3), 0.0f);   // last attempt with 2 terms
        else
            EXPECT_NE(inv.A(3), 0.0f);   // F1 stops at 3 terms
    }
}

// The auroral-E fit has no base-height limits: a layer with base 70 km comes back, its base
// on the 0.1 km grid. Without a table step nothing is tabulated and the valley stays 0.
TEST(EAPROF, FitsTheAuroralEProfileWithoutLimits) {
    auto z = std::make_unique<Zelk>();
    Inversion& inv = z->inv;
    e_points(inv, 70.0f, 20.0f);
    F1<float, MAXNN> q;
    for (int j = 1; j <= 3; ++j) q(j) = inv.A(j);
    for (int K = 1; K <= 4; ++K) {
        z->rec.AUXFN(K) = inv.FQ(K);
        z->rec.AUXHT(K) = inv.HV(K);
    }
    z->rec.AUXFN(6) = 4.0f;   // beyond the first zero frequency: not read
    z->rec.AUXHT(6) = 300.0f;
    inv.FQINCR = 0.5f;        // fcEA = 2.9 + 0.1 = 3.0 MHz, the FEND of the data
    z->run.HSTEP = 0.0f;
    inv.EAFIT(8) = 5.0f;
    EAPROF(*z, inv.EAFIT(6));
    EXPECT_EQ(inv.NFQ, 4);
    EXPECT_FLOAT_EQ(inv.EAFIT(7), 3.0f);
    EXPECT_FLOAT_EQ(inv.EAFIT(4), 70.0f);
    float sum = 0.0f;
    for (int j = 1; j <= 3; ++j) {
        EXPECT_NEAR(inv.EAFIT(j), 20.0f * q(j), 0.002f) << j;
        sum += inv.EAFIT(j);
    }
    EXPECT_FLOAT_EQ(inv.EAFIT(5), inv.EAFIT(4) - sum);
    EXPECT_LT(inv.EAFIT(6), 0.01f);
    EXPECT_EQ(inv.EAFIT(8), 0.0f);
    EXPECT_EQ(inv.NEAROW, 0);
    EXPECT_EQ(z->rec.AUXFN(1), inv.FQ(1));   // the input pairs stay
}

// EPROF refuses an E region without extent (always reported) and an E layer whose peak
// lies outside 50..180 km (reported at IDEBUG >= 2).
TEST(EPROF, RangeErrorAndUnreasonableLayer) {
    auto z = std::make_unique<Zelk>();
    std::ostringstream log;
    z->log.out = &log;
    z->log.IDEBUG = 0;
    Inversion& inv = z->inv;
    inv.ISTAT() = 2;
    inv.FQINCR = 0.1f;
    inv.FOE = 3.1f;
    inv.FMINF = 0.25f;     // F trace from 0.25 MHz: no room for an E region
    z->mod.FOEPRE = 3.0f;
    float er = -1.0f;
    EPROF(*z, er);
    EXPECT_EQ(inv.ISTAT(), 4);
    EXPECT_EQ(log.str(), " E LAYER: FSTART,FEND=     0.200     0.000\n"
                         " DATA ERROR: E-REGION FREQUENCY RANGE ERROR!\n");

    auto h = std::make_unique<Zelk>();
    std::ostringstream hlog;
    h->log.out = &hlog;
    h->log.IDEBUG = 2;
    Inversion& hi = h->inv;
    kernels(hi);
    hi.ISTAT() = 2;
    hi.FQINCR = 0.1f;
    hi.FOE = 3.0f;
    hi.HMISS = 9999.0f;
    hi.BASEHT = 45.0f;
    hi.HGRID = 5.0f;
    h->mod.FOEPRE = 3.0f;
    const float f[4] = {1.5f, 2.0f, 2.5f, 2.9f};
    for (int K = 1; K <= 4; ++K) {
        hi.TRF(K) = f[K - 1];
        hi.TRH(K) = 300.0f + 20.0f * static_cast<float>(K);
    }
    hi.NFQE = 4;
    EPROF(*h, er);
    EXPECT_EQ(hi.ISTAT(), 7);
    EXPECT_GT(hi.ZME, 180.0f);
    EXPECT_EQ(hlog.str().rfind(" ZME=", 0), 0u);
    EXPECT_NE(hlog.str().find(" : E TRACE PHYSICALLY UNREASONABLE!\n"), std::string::npos);
}
