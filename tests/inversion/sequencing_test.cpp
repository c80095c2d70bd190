// Region sequencing: what DECIDE does before and around the region stages, and the dip
// constants that it sets once per run.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <sstream>

#include "core/zelk.hpp"
#include "inversion/inversion.hpp"

using namespace zelk;
using namespace zelk::inversion;

namespace {

struct Ctx {
    std::unique_ptr<Zelk> z = std::make_unique<Zelk>();
    std::ostringstream log;
    Ctx() { z->log.out = &log; }
};

// Ordinary-ray constant GC1 = cos^2 I expected for a dip I (radians), in double.
double gc1(double dip) { return std::cos(dip) * std::cos(dip); }

}  // namespace

// Without accepted trace points no region is attempted: ISTAT keeps the 0 of the trace
// set-up, only the auroral-E fit runs (here on an empty profile, clearing its results).
TEST(DECIDE, NoTracePointsRunsOnlyTheAuroralEFit) {
    Ctx c;
    Inversion& inv = c.z->inv;
    c.z->log.IDEBUG = 6;
    inv.FH = 1.2f;
    inv.DIPK = 1.0f;
    inv.ISTAT() = 0;
    inv.DHE(3) = 5.0f;
    inv.DHV(1024) = 5.0f;
    inv.EAFIT(7) = 3.3f;
    inv.NEAROW = 12;
    inv.NGAUSS = 3;
    int16_t IOK = 0;
    DECIDE(*c.z, IOK);
    EXPECT_EQ(inv.ISTAT(), 0);
    EXPECT_EQ(inv.DHE(3), 0.0f);
    EXPECT_EQ(inv.DHV(1024), 0.0f);
    EXPECT_EQ(inv.NGAUSS, 16);
    EXPECT_EQ(inv.EAFIT(7), 0.0f);
    EXPECT_EQ(inv.NEAROW, 0);
    EXPECT_TRUE(inv.GOGXDONE);
    EXPECT_EQ(c.log.str(), "");   // no region summary lines
}

// A dip beyond 1.569051 rad in magnitude becomes +1.569051 before the constants are formed;
// a vanishing gyrofrequency is raised to 1e-7 MHz.
TEST(DECIDE, LimitsDipAndGyrofrequency) {
    Ctx c;
    Inversion& inv = c.z->inv;
    inv.FH = 0.0f;
    inv.DIPK = -1.5700f;
    int16_t IOK = 0;
    DECIDE(*c.z, IOK);
    EXPECT_EQ(inv.DIPK, 1.569051f);
    EXPECT_EQ(inv.FH, 1.0e-7f);
    EXPECT_NEAR(inv.GC1, gc1(1.569051), 1e-9);
    const double t2 = std::tan(1.569051) * std::tan(1.569051);
    EXPECT_NEAR(inv.GC4, t2, 1e-3 * t2);
    EXPECT_NEAR(inv.GC2, 4.0 * t2, 4e-3 * t2);
}

// The constants come from the first record of the run; a second record with another dip
// keeps them. Another run (another Zelk) forms its own.
TEST(DECIDE, DipConstantsAreSetOncePerRun) {
    Ctx run1;
    run1.z->inv.FH = 1.2f;
    run1.z->inv.DIPK = 1.0f;
    int16_t IOK = 0;
    DECIDE(*run1.z, IOK);
    const float first = run1.z->inv.GC1;
    EXPECT_NEAR(first, gc1(1.0), 1e-6);
    run1.z->inv.DIPK = 0.3f;
    DECIDE(*run1.z, IOK);
    EXPECT_EQ(run1.z->inv.GC1, first);

    Ctx run2;
    run2.z->inv.FH = 1.2f;
    run2.z->inv.DIPK = 0.3f;
    DECIDE(*run2.z, IOK);
    EXPECT_NEAR(run2.z->inv.GC1, gc1(0.3), 1e-6);
}

TEST(GOGXCOM, OrdinaryAndExtraordinaryConstants) {
    auto z = std::make_unique<Zelk>();
    Inversion& inv = z->inv;
    float dip = 1.0471976f;  // 60 degrees
    GOGXCOM(inv, dip);
    EXPECT_NEAR(inv.GC1, 0.25, 1e-6);
    EXPECT_NEAR(inv.GC4, 3.0, 1e-5);
    EXPECT_NEAR(inv.GC3, 6.0, 2e-5);
    EXPECT_NEAR(inv.GC2, 12.0, 4e-5);
    EXPECT_NEAR(inv.GX1, 4.0 * 0.75 / (1.75 * 1.75), 1e-6);
    EXPECT_NEAR(inv.GX2, 2.0 * 0.75 / 1.75, 1e-6);
    // A dip that has no sine is taken as 0.
    dip = NAN;
    GOGXCOM(inv, dip);
    EXPECT_EQ(inv.GC1, 1.0f);
    EXPECT_EQ(inv.GC2, 0.0f);
    EXPECT_EQ(inv.GX1, 0.0f);
}

namespace {

// Real height of the solved region at the fit frequency FQ(K).
float height(const Inversion& inv, int K) {
    RegionProfile r;
    r.FS = inv.FSTART;
    r.FE = inv.FEND;
    r.ZM = inv.IRGN == 2 ? inv.ZMF1 : inv.ZMF2;
    r.NN = inv.NN;
    for (int i = 1; i <= inv.NN; ++i) r.A(i) = inv.A(i);
    return PROFILE_HEIGHT(r, inv.FQ(K));
}

// Makes points K1..K2 bad: virtual height equal to the true height.
void bad(Inversion& inv, int K1, int K2) {
    for (int K = K1; K <= K2; ++K) inv.HV(K) = height(inv, K);
}

// An F2 solution h(f) = 250 - 50 sqrt(u) between 3 and 5 MHz, with 95 fit points from
// 3.02 MHz at 0.02 MHz steps whose virtual heights lie 10 km above it.
void solved_f2(Inversion& inv) {
    inv.IRGN = 3;
    inv.FSTART = 3.0f;
    inv.FEND = 5.0f;
    inv.NN = 1;
    inv.A(1) = -50.0f;
    inv.ZMF2 = 250.0f;
    inv.ZMF1 = 150.0f;
    inv.NFQ = 95;
    for (int K = 1; K <= 95; ++K) {
        inv.FQ(K) = 3.02f + 0.02f * static_cast<float>(K - 1);
        inv.HV(K) = height(inv, K) + 10.0f;
    }
    inv.ISTAT() = 2;
}

}  // namespace

// A bad run counts from the last good frequency before it to the good point after it;
// the limit is 5 % of FEND - FQ(1) = 1.98 MHz. A true height equal to the virtual height
// is bad.
TEST(HEIGHTCHK, BadExtentAgainstFivePerCent) {
    Ctx c;
    Inversion& inv = c.z->inv;
    c.z->log.IDEBUG = 2;
    solved_f2(inv);
    HEIGHTCHK(*c.z);
    EXPECT_EQ(inv.ISTAT(), 2);

    bad(inv, 10, 10);   // FQ(11) - FQ(9) = 0.04 MHz: 2 %
    bad(inv, 30, 30);   // 0.04 MHz more: 4 %
    HEIGHTCHK(*c.z);
    EXPECT_EQ(inv.ISTAT(), 2);
    EXPECT_EQ(c.log.str(), "");

    bad(inv, 50, 50);   // 0.12 MHz: 6 %
    HEIGHTCHK(*c.z);
    EXPECT_EQ(inv.ISTAT(), 8);
    EXPECT_EQ(c.log.str(), "   PHYSICALLY UNREASONABLE F2 TRACE!\n");

    Ctx f1;
    Inversion& r = f1.z->inv;
    solved_f2(r);
    r.IRGN = 2;
    r.ZMF1 = 250.0f;
    bad(r, 10, 13);     // 0.1 MHz: 5.05 %
    HEIGHTCHK(*f1.z);
    EXPECT_EQ(r.ISTAT(), 9);
    EXPECT_EQ(f1.log.str(), "");   // message only at IDEBUG >= 2
}

// A bad run that starts at the first point counts from FQ(1); one still open at the last
// point adds nothing; the walk stops at the first frequency that does not increase.
TEST(HEIGHTCHK, RunsAtTheEndsAndTheWalkLimit) {
    Ctx c;
    Inversion& inv = c.z->inv;
    solved_f2(inv);
    bad(inv, 1, 3);      // FQ(4) - FQ(1) = 0.06 MHz
    HEIGHTCHK(*c.z);
    EXPECT_EQ(inv.ISTAT(), 2);
    bad(inv, 1, 5);      // 0.1 MHz
    HEIGHTCHK(*c.z);
    EXPECT_EQ(inv.ISTAT(), 8);

    Ctx open;
    solved_f2(open.z->inv);
    bad(open.z->inv, 60, 95);
    HEIGHTCHK(*open.z);
    EXPECT_EQ(open.z->inv.ISTAT(), 2);

    Ctx walk;
    Inversion& w = walk.z->inv;
    solved_f2(w);
    w.FQ(40) = w.FQ(39);
    bad(w, 50, 70);
    HEIGHTCHK(*walk.z);
    EXPECT_EQ(w.ISTAT(), 2);
}
