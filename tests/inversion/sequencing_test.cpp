// Region sequencing: what DECIDE does before and around the region stages, and the dip
// constants that it forms for the dip of each record.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "pipeline/zelk.hpp"
#include "zelk_calls.hpp"
#include "inversion/inversion.hpp"
#include "ztest.hpp"

using namespace zelk;
using namespace zelk::inversion;

namespace {

using ztest::Ctx;

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
    EXPECT_EQ(inv.GOGXDIP, inv.DIPK);
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

// The constants follow the dip of each record: a second record with another dip (a file of
// another station in the same run) gets its own, a record with the same dip keeps them.
// Another run (another Zelk) forms its own.
TEST(DECIDE, DipConstantsFollowTheRecordsDip) {
    Ctx run1;
    run1.z->inv.FH = 1.2f;
    run1.z->inv.DIPK = 1.0f;
    int16_t IOK = 0;
    DECIDE(*run1.z, IOK);
    EXPECT_NEAR(run1.z->inv.GC1, gc1(1.0), 1e-6);
    run1.z->inv.DIPK = 0.3f;
    DECIDE(*run1.z, IOK);
    EXPECT_NEAR(run1.z->inv.GC1, gc1(0.3), 1e-6);
    run1.z->inv.GC1 = -1.0f;   // not formed again while the dip stays the same
    DECIDE(*run1.z, IOK);
    EXPECT_EQ(run1.z->inv.GC1, -1.0f);

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
    return profile_height(r, inv.FQ(K));
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

namespace {

// Records the display codes the inversion asks for.
using CodeRecorder = ztest::StageRecorder;

// The synthetic day-time ionogram of tests/data/parabolic_e_day.txt (parabolic E layer,
// hmE 110 km, semi-thickness 20 km) as the trace set-up leaves it: the trace list of the
// valid E, F1 and F2 points, the scaled values and the station. nF2 limits the F2 points.
void synthetic_day(Zelk& z, int nF2) {
    Inversion& inv = z.inv;
    std::ifstream in(std::string(ZELK_TEST_DATA) + "/parabolic_e_day.txt");
    ASSERT_TRUE(in.good());
    std::string line;
    int count[4] = {0, 0, 0, 0};
    int J = 0;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream ls(line);
        int layer = 0;
        float f = 0.0f, h = 0.0f;
        ls >> layer >> f >> h;
        if (h >= 999.0f || (layer == 3 && count[3] >= nF2)) continue;
        ++count[layer];
        ++J;
        inv.TRF(J) = f;
        inv.TRH(J) = h;
    }
    inv.NFQE = static_cast<int16_t>(count[1]);
    inv.NFQF1 = static_cast<int16_t>(count[2]);
    inv.NFQF = static_cast<int16_t>(count[3]);
    SETCV(inv);
    inv.FH = 1.35f;
    inv.DIPK = 65.0f * 3.14159265f / 180.0f;
    inv.FQINCR = 0.05f;
    inv.HGRID = 5.0f;
    inv.BASEHT = 45.0f;
    inv.HMISS = 9999.0f;
    inv.FOE = 3.12f;
    inv.FOF1 = 4.81f;
    inv.FOF2 = 9.02f;
    inv.FMINF = 3.15f;
    inv.LF1() = 1;
    inv.HPF = 190.0f;
    inv.LOCATION(1) = 40.0f;
    inv.LOCATION(2) = 255.0f;
    inv.IYR = 2004;
    inv.IDAY = 167;
    inv.IHR = 19;
    inv.MINU = 0;
    inv.ISEC = 0;
    z.mod.FOEPRE = 3.3f;   // model foE as predicted for the record
    z.mod.ISSN = 100;
    inv.SSNIN = 100.0f;
}

}  // namespace

// The E layer of a synthetic day-time ionogram comes back within 3 km of its true peak
// height, the valley follows the width and depth laws, and the region summary lines are
// written at IDEBUG 2. With only two F2 points the F2 stage stops with ISTAT 12.
TEST(DECIDE, SyntheticDayTimeELayer) {
    Ctx c;
    Inversion& inv = c.z->inv;
    synthetic_day(*c.z, 2);
    c.z->log.IDEBUG = 2;
    CodeRecorder rec;
    c.z->plot = &rec;
    int16_t IOK = 1;
    DECIDE(*c.z, IOK);
    // E data, E layer, valley, F1 data, F1 layer, F2 data.
    EXPECT_EQ(rec.codes, (std::vector<int>{10, 1, 5, 2, 10, 3, 5, 10}));
    EXPECT_NEAR(inv.ZME, 110.0f, 3.0f);
    EXPECT_NEAR(inv.YE, 20.0f, 3.0f);
    EXPECT_EQ(inv.IEFLAG, 1);
    EXPECT_FLOAT_EQ(inv.FC(2), 3.11f);   // line of foE (3.10) + 0.2 step

    // Valley: noon sun (chi about 17 deg) below the cap of 0.7 (190 - ZME).
    EXPECT_GT(std::fabs(inv.ZENANG), 10.0f);
    EXPECT_LT(std::fabs(inv.ZENANG), 25.0f);
    const double c1 = std::cos(inv.ZENANG * 3.14159 / 180.0) + 0.05;
    const double w0 = 59.45 - 14.63 * std::log(1.0 + 40.0 * c1);
    EXPECT_NEAR(inv.VW, w0, 0.002);
    const double e = std::exp((59.45 - inv.VW) / 14.63);
    EXPECT_NEAR(inv.VD, 3.11 * (1.0 - std::sqrt(0.49 + 0.46 * (e - 1) / (e + 1))), 0.001);
    EXPECT_FLOAT_EQ(inv.HBASE(2), inv.ZME + inv.VW);

    EXPECT_EQ(inv.ISTAT(), 12);
    const std::string out = c.log.str();
    std::istringstream lines(out);
    std::string eline, vline;
    std::getline(lines, eline);
    std::getline(lines, vline);
    EXPECT_EQ(eline.rfind("  E:FS0.200 FM 3.110 ZM", 0), 0u) << out;
    EXPECT_EQ(eline.size(), 6u + 5 + 3 + 6 + 3 + 7 + 3 + 6 + 3 + 24 + 7 + 7);
    EXPECT_NE(eline.find("    YE="), std::string::npos);
    EXPECT_EQ(vline.rfind("  V:W", 0), 0u) << out;
    EXPECT_EQ(vline.size(), 5u + 7 + 1 + 7 + 1 + 7 + 1 + 7 + 1 + 2 + 9);
    EXPECT_NE(out.find(" F1:FS3.110 FM"), std::string::npos) << out;
    EXPECT_NE(out.find(" : TOO FEW F2 DATA POINTS!"), std::string::npos) << out;
    EXPECT_EQ(out.find(" F2:FS"), std::string::npos);
}

// foF1 = 50.0 MHz still counts as a scaled F1 layer and the F1 stage runs (it sets the F1
// peak to at least the valley top); 50.01 MHz skips it, and F2 starts at foE.
TEST(DECIDE, F1StageRunsUpToFiftyMegahertz) {
    for (float fof1 : {50.0f, 50.01f}) {
        Ctx c;
        Inversion& inv = c.z->inv;
        synthetic_day(*c.z, 2);
        c.z->log.IDEBUG = 0;
        inv.FOF1 = fof1;
        inv.LF1() = fof1 <= 50.0f ? 1 : 0;
        int16_t IOK = 1;
        DECIDE(*c.z, IOK);
        if (fof1 <= 50.0f) {
            EXPECT_GE(inv.ZMF1, inv.ZME + inv.VW);
        } else {
            EXPECT_EQ(inv.ZMF1, 0.0f);
            EXPECT_EQ(inv.FC(3), inv.FC(2));
            EXPECT_EQ(inv.ISTAT(), 12);
        }
    }
}

// The whole synthetic record: every region is solved (ISTAT 2), the F2 summary line is
// written, the F-layer tops get their parabolic thickness, and the final N(h) table runs
// (only on this path).
TEST(DECIDE, SyntheticDayTimeRecordInverted) {
    Ctx c;
    Inversion& inv = c.z->inv;
    synthetic_day(*c.z, 1000);
    c.z->log.IDEBUG = 2;
    c.z->run.HSTEP = 10.0f;
    int16_t IOK = 1;
    DECIDE(*c.z, IOK);
    EXPECT_EQ(inv.ISTAT(), 2) << c.log.str();
    EXPECT_EQ(inv.IROOT, 0);
    EXPECT_NEAR(inv.ZME, 110.0f, 3.0f);
    EXPECT_NEAR(inv.ZMF1, 190.0f, 5.0f);
    EXPECT_NEAR(inv.ZMF2, 280.0f, 5.0f);
    EXPECT_NE(inv.YF2, 9999.0f);
    EXPECT_NE(c.log.str().find(" F2:FS"), std::string::npos) << c.log.str();
    EXPECT_GT(c.z->prod.NPROW, 0);
    EXPECT_GT(c.z->prod.PRFHT(c.z->prod.NPROW), inv.ZMF2);   // topside of the final pass
}

// After an inverted record with a table step, the auroral-E layer (here a parabolic layer
// with base 90 km and semi-thickness 20 km up to 3.91 MHz, between foE and foF2) is
// tabulated into the record's groups 58/59, followed by the valley up to the main profile.
TEST(DECIDE, AuroralELayerTabulatedWithItsValley) {
    Ctx c;
    Inversion& inv = c.z->inv;
    synthetic_day(*c.z, 1000);
    c.z->log.IDEBUG = 0;
    c.z->run.HSTEP = 10.0f;
    // Virtual heights of the auroral-E layer at 2.0 .. 3.9 MHz through the kernels.
    float dip = inv.DIPK;
    GOGXCOM(inv, dip);
    inv.FSTART = 0.2f;
    inv.FEND = 3.91f;
    inv.NN = 3;
    inv.NFQ = 20;
    for (int K = 1; K <= 20; ++K) inv.FQ(K) = 2.0f + 0.1f * static_cast<float>(K - 1);
    ZEROPROF(inv, 0);
    CDO(inv);
    SIK(inv);
    for (int K = 1; K <= 20; ++K) {
        float p = 0.0f;
        for (int j = 1; j <= 3; ++j) p += inv.G(j, K) * inv.A(j);
        c.z->rec.AUXFN(K) = inv.FQ(K);
        c.z->rec.AUXHT(K) = 90.0f + 20.0f * p;
    }
    int16_t IOK = 1;
    DECIDE(*c.z, IOK);
    ASSERT_EQ(inv.ISTAT(), 2);
    EXPECT_FLOAT_EQ(inv.EAFIT(7), 3.91f);
    EXPECT_NEAR(inv.EAFIT(4), 90.0f, 0.051f);
    EXPECT_LT(inv.EAFIT(6), 0.05f);
    const float W = inv.EAFIT(8);
    EXPECT_GT(W, 20.0f);
    const double e = std::exp((59.45 - W) / 14.63);
    EXPECT_NEAR(inv.EAFIT(9), 3.91 * (1.0 - std::sqrt(0.49 + 0.46 * (e - 1) / (e + 1))), 1e-4);
    const int n = inv.NEAROW;
    ASSERT_GT(n, 5);
    EXPECT_EQ(c.z->rec.AUXFN(1), 0.2f);
    EXPECT_FLOAT_EQ(c.z->rec.AUXHT(1), inv.EAFIT(4));
    EXPECT_FLOAT_EQ(c.z->rec.AUXFN(n), 3.91f);
    EXPECT_NEAR(c.z->rec.AUXHT(n), inv.EAFIT(5) + W, 0.002f);
    for (int k = 2; k <= n; ++k) EXPECT_GE(c.z->rec.AUXHT(k), c.z->rec.AUXHT(k - 1)) << k;
}
