#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "pipeline/zelk.hpp"
#include "zelk_calls.hpp"
#include "inversion/inversion.hpp"

using namespace zelk;
using namespace zelk::inversion;

namespace {

using RecordingPlotter = ztest::StageRecorder;

struct Date {
    int16_t year, mon, dom;
};
Date monthday(int iyr, int iday) {
    Date d{0, 0, 0};
    month_day(static_cast<int16_t>(iyr), static_cast<int16_t>(iday), d.year, d.mon, d.dom);
    return d;
}

// A record with frequency lines 0.0625 MHz apart (exact in binary): line K is at
// FQINCR * K MHz.
struct Entry : ::testing::Test {
    std::unique_ptr<Zelk> zp = std::make_unique<Zelk>();
    Zelk& z = *zp;
    Inversion& inv = z.inv;
    std::ostringstream log;
    RecordingPlotter plotter;

    void SetUp() override {
        z.log.out = &log;
        z.log.IDEBUG = 1;
        z.plot = &plotter;
        z.mod.data_dirs = {ZELK_SOURCE_DATA};
        inv.FQINCR = 0.0625f;
    }
    static float line(int k) { return 0.0625f * static_cast<float>(k); }

    // E trace on lines k1..k2 with heights 100 + (k mod 100).
    void eTrace(int k1, int k2) {
        inv.MINFE = static_cast<int16_t>(k1);
        inv.FMINE = line(k1);
        inv.IFOE = static_cast<int16_t>(k2);
        inv.FOE = line(k2);
        for (int k = k1; k <= k2; ++k) inv.TRACEL(k, 3) = 100.0f + static_cast<float>(k % 100);
    }
    // F trace on lines k1..k2 with heights 200 + k and amplitude numbers 100.
    void fTrace(int k1, int k2) {
        inv.MINFF = static_cast<int16_t>(k1);
        inv.FMINF = line(k1);
        for (int k = k1; k <= k2; ++k) {
            inv.TRACEL(k, 2) = 200.0f + static_cast<float>(k);
            inv.ITRCF(k, 2) = 100;
        }
    }
    void f2Top(int k) {
        inv.IFOM = static_cast<int16_t>(k);
        inv.FOF2 = line(k);
    }
    void f1Top(int k) {
        inv.IFOF1 = static_cast<int16_t>(k);
        inv.FOF1 = line(k);
        inv.LF1() = 1;
    }
    int16_t setrce() {
        int16_t IOK = 1;
        SETRCE(z, IOK);
        return IOK;
    }
};

}  // namespace

TEST(MonthDay, YearsLeapDaysAndTheYearsEnd) {
    EXPECT_EQ(monthday(69, 100).year, 2069);
    EXPECT_EQ(monthday(70, 100).year, 1970);
    EXPECT_EQ(monthday(999, 100).year, 2899);
    EXPECT_EQ(monthday(2004, 100).year, 2004);
    // 2000 is a leap year, 1900 is not.
    EXPECT_EQ(monthday(2000, 60).mon, 2);
    EXPECT_EQ(monthday(2000, 60).dom, 29);
    EXPECT_EQ(monthday(0, 61).mon, 3);
    EXPECT_EQ(monthday(0, 61).dom, 1);
    EXPECT_EQ(monthday(1900, 60).mon, 3);
    EXPECT_EQ(monthday(1900, 60).dom, 1);
    for (int y : {1900, 2000, 2003, 2004}) {
        EXPECT_EQ(monthday(y, 32).mon, 2) << y;
        EXPECT_EQ(monthday(y, 32).dom, 1) << y;
        EXPECT_EQ(monthday(y, 31).mon, 1) << y;
    }
    EXPECT_EQ(monthday(2004, 366).mon, 12);
    EXPECT_EQ(monthday(2004, 366).dom, 31);
    EXPECT_EQ(monthday(2003, 365).dom, 31);
    // Beyond the year's end: 31 December; before its start: 1 January.
    EXPECT_EQ(monthday(2003, 366).mon, 12);
    EXPECT_EQ(monthday(2003, 366).dom, 31);
    EXPECT_EQ(monthday(2004, 400).dom, 31);
    EXPECT_EQ(monthday(2004, 0).mon, 1);
    EXPECT_EQ(monthday(2004, 0).dom, 1);
}

TEST_F(Entry, SetrceBuildsETheF1AndF2Points) {
    eTrace(40, 50);
    inv.TRACEL(42, 3) = 999.0f;  // no echo
    inv.TRACEL(43, 3) = 0.0f;    // no echo
    fTrace(60, 90);
    inv.ITRCF(61, 2) = 512;      // not an echo
    inv.ITRCF(62, 2) = 0;
    f1Top(70);
    f2Top(90);
    ASSERT_EQ(setrce(), 1);
    EXPECT_EQ(inv.NFQE, 9);
    EXPECT_EQ(inv.NFQF1, 9);
    EXPECT_EQ(inv.NFQF, 20);
    EXPECT_EQ(inv.TRF(1), line(40));
    EXPECT_EQ(inv.TRH(2), 141.0f);
    EXPECT_EQ(inv.TRF(3), line(44));
    EXPECT_EQ(inv.TRF(10), line(60));
    EXPECT_EQ(inv.TRF(11), line(63));
    EXPECT_EQ(inv.TRF(19), line(71));
    EXPECT_EQ(inv.TRH(19), 271.0f);
    EXPECT_EQ(inv.TRF(38), line(90));
    EXPECT_EQ(inv.TRF(39), 0.0f);
    EXPECT_EQ(plotter.codes, std::vector<int>{0});
}

// Without an E trace the F1 points come first, and the F2 frequencies continue from the last
// F1 frequency plus one step even when the F1 line indices do not match its frequencies.
TEST_F(Entry, SetrceF2ContinuesFromTheLastF1Frequency) {
    fTrace(60, 90);
    inv.FMINF = line(58);  // the F1 frequencies run two steps below their lines
    f1Top(70);
    inv.FOF1 = line(68);
    f2Top(90);
    inv.FOF2 = line(88);
    z.mod.FOEPRE = 2.0f;
    ASSERT_EQ(setrce(), 1);
    EXPECT_EQ(inv.NFQE, 0);
    EXPECT_EQ(inv.NFQF1, 11);
    EXPECT_EQ(inv.NFQF, 20);
    EXPECT_EQ(inv.TRF(1), line(58));
    EXPECT_EQ(inv.TRF(11), line(68));
    EXPECT_EQ(inv.TRF(12), line(69));  // line 71
    EXPECT_EQ(inv.TRH(12), 271.0f);
    EXPECT_EQ(inv.TRF(31), line(88));
}

// F frequencies are checked against FLOW with a tolerance of 0.0001 MHz: after an F1 trace
// FLOW is foF1, and an F2 start exactly 0.0001 MHz below it is inconsistent.
TEST_F(Entry, SetrceFlowTolerance) {
    fTrace(60, 90);
    f1Top(70);
    f2Top(90);
    // The F2 trace starts at line(71); foF1 one step and 0.0001 MHz above it.
    inv.FOF1 = line(71) + 0.0001f;
    ASSERT_LE(line(71), inv.FOF1 - 0.0001f);  // the first F2 frequency is at the limit
    EXPECT_EQ(setrce(), 0);
    EXPECT_EQ(inv.ISTAT(), 0);
    // Equal to FLOW passes.
    inv.FOF1 = line(71);
    EXPECT_EQ(setrce(), 1);
    // A point a little more than 0.0001 MHz above foF1 in the F1 trace fails.
    inv.FOF1 = line(70) - 0.0002f;
    EXPECT_EQ(setrce(), 0);
    // An E frequency above foE.
    eTrace(40, 50);
    inv.FOF1 = line(70);
    inv.FOE = line(49);
    EXPECT_EQ(setrce(), 0);
    EXPECT_TRUE(plotter.codes.size() == 1u);  // drawn for the one good list only
}

TEST_F(Entry, SetrceWithoutUsablePoints) {
    eTrace(40, 50);
    for (int k = 40; k <= 50; ++k) inv.TRACEL(k, 3) = 999.0f;
    inv.ISTAT() = 2;
    EXPECT_EQ(setrce(), 0);
    EXPECT_EQ(inv.ISTAT(), 0);
    EXPECT_TRUE(plotter.codes.empty());
    // An F2 trace whose top line is not scaled (999 and above) is not used.
    fTrace(60, 90);
    inv.IFOM = 999;
    inv.FOF2 = line(90);
    EXPECT_EQ(setrce(), 0);
}

// More than 1024 accepted points (the E and F traces are separate columns of the line
// tables, so 900 E lines and 998 F lines fit in the record): the list is cut at 1024 points,
// the lowest frequencies kept, and the later lines are still checked.
TEST_F(Entry, SetrceCutsTheListAt1024Points) {
    eTrace(1, 900);
    fTrace(1, 998);
    f2Top(998);
    z.log.IDEBUG = 2;
    ASSERT_EQ(setrce(), 1);
    EXPECT_EQ(inv.NFQE, 900);
    EXPECT_EQ(inv.NFQF, 124);
    EXPECT_EQ(inv.TRF(900), line(900));
    EXPECT_EQ(inv.TRF(1024), line(124));
    EXPECT_EQ(inv.TRH(1024), 324.0f);
    EXPECT_NE(log.str().find(" TRACE LIST CUT AT 1024 POINTS"), std::string::npos);
    // An inconsistent line beyond the cut still refuses the record.
    inv.FOF2 = line(997);
    EXPECT_EQ(setrce(), 0);
}

TEST_F(Entry, SetrceListsTheTraceAtLevelFive) {
    eTrace(40, 42);
    fTrace(60, 62);
    f2Top(62);
    z.log.IDEBUG = 5;
    ASSERT_EQ(setrce(), 1);
    const std::string out = log.str();
    EXPECT_NE(out.find(" ZELK INPUT DATA (IN 71X: SETRCE) :"), std::string::npos);
    EXPECT_NE(out.find(" E LAYER : NFQE=    3"), std::string::npos);
    EXPECT_NE(out.find(" NO F1 LAYER"), std::string::npos);
    EXPECT_NE(out.find(" F2 TRACE : NFQF=    3"), std::string::npos);
    EXPECT_NE(out.find("  262.000"), std::string::npos);
}

// A record whose gyrofrequency is not positive stops after the date and sunspot step: the
// data-error lines, no inversion (DECIDE would abort here) and no output arrangement.
TEST_F(Entry, Profil1DataErrorStopsAfterTheSunspotLookup) {
    inv.FH2 = 0.0f;
    inv.IYR = 70;
    inv.IDAY = 10;
    z.mod.ISSN = 42;          // the record's own sunspot number
    inv.ER(2) = 5.0f;         // results of an earlier record
    inv.FC(4) = 9.0f;
    inv.YE = 12.0f;
    z.prod.NPROW = 30;
    z.bot.B0 = 100.0f;
    inv.IROOTF1 = 3;
    inv.ISTAT() = 2;
    std::memset(inv.VERSION, ' ', 8);
    PROFIL1(z);
    const std::string out = log.str();
    EXPECT_NE(out.find("     DIP ANGLE(RADIANS), GYROFREQUENCY (MHZ)="), std::string::npos);
    EXPECT_NE(out.find("     FQINCR (MHZ)="), std::string::npos);
    EXPECT_NE(out.find("      DATA ERROR: INVERSION IS IMPOSSIBLE!"), std::string::npos);
    EXPECT_EQ(std::string(inv.VERSION), "VS.04.31");
    EXPECT_EQ(inv.ISTAT(), 0);
    EXPECT_EQ(inv.ER(2), 0.0f);
    EXPECT_EQ(inv.FC(4), 0.0f);
    EXPECT_EQ(inv.YE, 9999.0f);
    EXPECT_EQ(z.prod.NPROW, 0);
    EXPECT_EQ(z.bot.B0, 9999.0f);
    EXPECT_EQ(inv.IROOTF1, 0);
    // January 1970: 157.9 in the sunspot file, returned rounded to 158.
    EXPECT_EQ(z.mod.IYEAR, 1970);
    EXPECT_EQ(z.mod.IMON, 1);
    EXPECT_EQ(z.mod.IDOM, 10);
    EXPECT_EQ(z.mod.LASTMON, 1);
    EXPECT_EQ(z.mod.ISSN, 158);
    EXPECT_EQ(inv.SSNIN, 42.0f);

    // The next record of the same month keeps its own sunspot number: no lookup.
    z.mod.ISSN = 40;
    inv.IDAY = 31;
    PROFIL1(z);
    EXPECT_EQ(z.mod.ISSN, 40);
    EXPECT_EQ(inv.SSNIN, 40.0f);
    // A new month looks up again (February 1970: 180.8).
    inv.IDAY = 32;
    PROFIL1(z);
    EXPECT_EQ(z.mod.ISSN, 181);
    EXPECT_EQ(z.mod.LASTMON, 2);

    // A month without a sunspot number (2069) keeps the record's value.
    inv.IYR = 69;
    inv.IDAY = 100;
    z.mod.ISSN = 37;
    PROFIL1(z);
    EXPECT_EQ(z.mod.IYEAR, 2069);
    EXPECT_EQ(z.mod.LASTMON, 4);
    EXPECT_EQ(z.mod.ISSN, 37);

    // A frequency step that is not positive is the same data error.
    inv.FH2 = 0.6f;
    inv.FQINCR = 0.0f;
    log.str("");
    PROFIL1(z);
    EXPECT_NE(log.str().find("      DATA ERROR: INVERSION IS IMPOSSIBLE!"), std::string::npos);
    EXPECT_EQ(inv.FH, 1.2f);
}

TEST_F(Entry, Profil1EntryAndExitLines) {
    inv.FH2 = 0.0f;
    inv.IYR = 2004;
    inv.IDAY = 60;
    z.log.IDEBUG = 6;
    PROFIL1(z);
    const std::string out = log.str();
    for (const char* label : {" ZELK STARTS HERE. IDEBUG=", "  ZELK VERSION # = VS.04.31",
                              " FOR ZELK, IN ADITION TO THE TRACE DATA", " TIME: IYR,IDAY,IHR,MINU=",
                              " BASEHT(=RANGESTART-HGRID)=", "    FMINF, MINFF=", " ZELK ENDS HERE."})
        EXPECT_NE(out.find(label), std::string::npos) << label;
    EXPECT_EQ(z.mod.IMON, 2);
    EXPECT_EQ(z.mod.IDOM, 29);
    log.str("");
    z.log.IDEBUG = 4;
    PROFIL1(z);
    EXPECT_EQ(log.str().find(" ZELK STARTS HERE."), std::string::npos);
}

namespace {

// Ends the run at the drawing of the trace list, so that the state with which PROFIL1 hands
// a record to the region sequencing can be inspected.
struct StopAtTraceList : ztest::StageRecorder {
    struct Reached {};
    void on(int code, const Inversion&) override {
        if (code == 0) throw Reached{};
    }
};

}  // namespace

// The steps before the region sequencing: a scaled foF2 beyond line 1024 sets ISTAT 8 but is
// inverted at IDEBUG 0; FOF2P is raised above foF2; LF1 and the work arrays are set up.
TEST_F(Entry, Profil1PreparesTheInversion) {
    StopAtTraceList stop;
    z.plot = &stop;
    inv.FH2 = 0.6f;
    inv.DIP = 1.0f;
    inv.IYR = 2004;
    inv.IDAY = 100;
    eTrace(40, 50);
    fTrace(60, 90);
    f2Top(90);
    inv.FOF2 = 99.99f;  // scaled, on a line beyond 1024
    inv.IFOM = 1025;
    inv.FOF1 = 50.0f;   // scaled F1 (but no F1 lines: MINFF above IFOF1)
    inv.IFOF1 = 10;
    inv.FOF2P = 99.99f;
    inv.FQ(7) = 3.0f;
    inv.A_F2(2) = 8.0f;
    inv.ZMF2 = 300.0f;
    inv.NGAUSS = 3;
    z.log.IDEBUG = 0;
    EXPECT_THROW(PROFIL1(z), StopAtTraceList::Reached);
    EXPECT_EQ(inv.ISTAT(), 8);
    EXPECT_EQ(inv.LF1(), 1);
    EXPECT_FLOAT_EQ(inv.FOF2P, 99.99f + 0.00625f);
    EXPECT_EQ(inv.FH, 1.2f);
    EXPECT_EQ(inv.DIPK, 1.0f);
    EXPECT_EQ(inv.NGAUSS, 16);
    EXPECT_EQ(inv.FQ(7), 0.0f);
    EXPECT_EQ(inv.A_F2(2), 0.0f);
    EXPECT_EQ(inv.ZMF2, 0.0f);
    EXPECT_EQ(inv.CV(3, 2), -24.0f);
    EXPECT_EQ(inv.NFQE, 11);
    EXPECT_EQ(inv.NFQF, 0);  // IFOM of 999 and more: no F2 trace
    EXPECT_EQ(log.str().find("SCALED FOF2"), std::string::npos);

    // A larger FOF2P left by an earlier record stays; unscaled foF2 (100) passes on with
    // any line and without status 8; F1 above 50 MHz is not scaled.
    inv.FOF2P = 120.0f;
    inv.FOF2 = 100.0f;
    inv.IFOM = 5000;
    inv.FOF1 = 50.5f;
    z.log.IDEBUG = 2;
    EXPECT_THROW(PROFIL1(z), StopAtTraceList::Reached);
    EXPECT_EQ(inv.FOF2P, 120.0f);
    EXPECT_EQ(inv.ISTAT(), 0);
    EXPECT_EQ(inv.LF1(), 0);
}

// At IDEBUG 2 the same record is not inverted: the warning, status 8, and the results are
// still arranged for output.
TEST_F(Entry, Profil1ScaledFoF2BeyondTheLastLineAtLevelTwo) {
    StopAtTraceList stop;
    z.plot = &stop;
    inv.FH2 = 0.6f;
    inv.IYR = 2004;
    inv.IDAY = 100;
    eTrace(40, 50);
    inv.FOF2 = 99.99f;
    inv.IFOM = 1025;
    inv.FOF2P = 3.0f;
    inv.NN = 3;
    z.log.IDEBUG = 2;
    PROFIL1(z);  // no trace list is drawn: StopAtTraceList would throw
    EXPECT_EQ(inv.ISTAT(), 8);
    EXPECT_NE(log.str().find("   SCALED FOF2 > MAXIMUM FREQUENCY LINE!"), std::string::npos);
    EXPECT_EQ(inv.FOF2P, 3.0f);  // step 7 did not run
    EXPECT_EQ(inv.NN, 5);        // the output arrangement did
}
