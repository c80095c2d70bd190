// Sunspot file reading, the lookup and its prediction of the months the file lacks.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <tuple>
#include <sstream>
#include <string>
#include <vector>

#include "core/stop.hpp"
#include "ztest.hpp"
#include "models/models.hpp"

namespace zm = zelk::models;
using ztest::ScratchDir;

namespace {

// One data line: year, cycle start month (0: blank), the values given (the rest blank),
// cycle number (0: blank).
std::string ssnline(int year, int sm, const std::vector<float>& vals, int cyc) {
    char buf[128];
    std::string s;
    std::snprintf(buf, sizeof buf, "%4d ", year);
    s += buf;
    if (sm > 0) {
        std::snprintf(buf, sizeof buf, "%2d", sm);
        s += buf;
    } else {
        s += "  ";
    }
    for (int m = 0; m < 12; ++m) {
        if (m < static_cast<int>(vals.size())) {
            std::snprintf(buf, sizeof buf, "%6.1f", static_cast<double>(vals[static_cast<size_t>(m)]));
            s += buf;
        } else {
            s += "      ";
        }
    }
    if (cyc > 0) {
        std::snprintf(buf, sizeof buf, "%4d", cyc);
        s += buf;
    } else {
        s += "    ";
    }
    return s + "\n";
}

// A sunspot file whose values are exactly linear in the phase of each cycle: 1749 holds
// 50 in every month (no cycle number); cycle c starts in January of 1750 + 10 (c - 1) and
// its month p (0 = the start month) holds 5 c + p. The file runs to NCYC cycles and ends
// with LASTMONTHS values in year 3 of the last cycle (phase 36 .. 35 + LASTMONTHS).
// Regressing phase p + n on phase p over earlier cycles then gives slope 1 exactly: the
// prediction n months after the last measured month is that value + n, deviation 0.
std::string linearfile(int ncyc, int lastmonths) {
    std::string s = "MONTHLY MEAN SUNSPOT NUMBERS (TEST)\n";
    s += "YEAR SC   JAN   FEB   MAR   APR   MAY   JUN   JUL   AUG   SEP   OCT   NOV   DEC CYC\n";
    s += ssnline(1749, 0, std::vector<float>(12, 50.0f), 0);
    for (int c = 1; c <= ncyc; ++c) {
        const int nyr = c == ncyc ? 4 : 10;
        for (int k = 0; k < nyr; ++k) {
            std::vector<float> v;
            const int nmon = (c == ncyc && k == 3) ? lastmonths : 12;
            for (int m = 0; m < nmon; ++m) v.push_back(static_cast<float>(5 * c + 12 * k + m));
            s += ssnline(1750 + 10 * (c - 1) + k, k == 0 ? 1 : 0, v, c);
        }
        if (c == 5) s += "PREDICTED SUNSPOT NUMBERS\n  (a note between the data lines)\n";
    }
    return s;
}

struct Lookup {
    float ssn = 0.0f, dev = 0.0f;
};

Lookup lookup(zm::Models& mod, int year, int month) {
    Lookup r;
    std::ostringstream out;
    zm::SSN_NOAA(mod, out, static_cast<int16_t>(year), static_cast<int16_t>(month), r.ssn, r.dev);
    return r;
}

// READSSN on a text into a table of -1 (no value); STOP holds the message of a stop.
struct SsnRead {
    std::ostringstream out;
    int16_t ncyc = 0, iyear0 = 0, nyears = 0;
    zelk::F1<int16_t, zm::NSSNCYC> cb;
    std::unique_ptr<zelk::F2<float, zm::NSSNYR, 12>> tab =
        std::make_unique<zelk::F2<float, zm::NSSNYR, 12>>();
    std::string stop = "no stop";
    explicit SsnRead(const std::string& text) {
        std::istringstream in(text);
        tab->fill(-1.0f);
        try {
            zm::READSSN(in, out, ncyc, cb, iyear0, nyears, *tab);
        } catch (const zelk::Stop& e) {
            stop = e.what();
        }
    }
};

// READSSN on a text, expecting a stop; returns its message and the diagnostics.
std::pair<std::string, std::string> readstop(const std::string& text) {
    const SsnRead r(text);
    return {r.stop, r.out.str()};
}

const std::string DATAMISSING = "FILE \"SUNSPT.ASC\" CONSTRUCTED WRONG. DATA MISSING.";

}  // namespace

// Textbook example: X = 1..4, Y = 2, 4, 5, 8 over cycles 8..11, predicted at x0 = 5.
// Expected values from the usual formulas (b = 1.9, prediction 9.5, interval half-widths
// t se sqrt(1 + 1/n + dx^2/Sxx) and t se / sqrt(Sxx), t = 1.812).
TEST(SunspotRegression, TextbookLeastSquares) {
    zelk::F1<float, zm::NSSNCYC> x, y;
    x(1) = 1000.0f;  // cycles before 8 must not enter
    y(1) = -1000.0f;
    const float xs[4] = {1, 2, 3, 4}, ys[4] = {2, 4, 5, 8};
    for (int i = 0; i < 4; ++i) {
        x(8 + i) = xs[i];
        y(8 + i) = ys[i];
    }
    zelk::F1<float, 5> c;
    c(3) = 5.0f;
    zm::PERD(x, y, 0, 11, c);
    EXPECT_NEAR(c(1), 4.75f, 1e-6);
    EXPECT_NEAR(c(2), 1.9f, 1e-6);
    EXPECT_NEAR(c(3), 9.5f, 1e-5);
    EXPECT_NEAR(c(4), 1.6949708f, 2e-5);
    EXPECT_NEAR(c(5), 0.47941014f, 1e-5);

    // NSKIP = 8 names the same first cycle; NSKIP = 1 takes cycle 1 in as well.
    zelk::F1<float, 5> c8;
    c8(3) = 5.0f;
    zm::PERD(x, y, 8, 11, c8);
    EXPECT_EQ(c8(3), c(3));
    zelk::F1<float, 5> c1;
    c1(3) = 5.0f;
    zm::PERD(x, y, 1, 11, c1);
    EXPECT_GT(std::fabs(c1(2) - c(2)), 0.1f);
}

TEST(SunspotFile, ReadsCyclesHeadingsAndImpliedDecimals) {
    std::string text = linearfile(3, 12);
    // A value written without a point carries one implied decimal.
    std::string extra = ssnline(1774, 0, std::vector<float>(12, 1.0f), 3);
    extra.replace(7, 6, "  1234");
    text += extra;
    const SsnRead r(text);
    ASSERT_EQ(r.stop, "no stop");
    EXPECT_EQ(r.ncyc, 3);
    EXPECT_EQ(r.iyear0, 1749);
    EXPECT_EQ(r.nyears, 1774 - 1749 + 1);
    EXPECT_EQ(r.cb(1), 13);   // January 1750
    EXPECT_EQ(r.cb(3), 253);  // January 1770
    EXPECT_EQ((*r.tab)(1, 7), 50.0f);
    EXPECT_EQ((*r.tab)(2, 3), 7.0f);  // cycle 1, phase 2
    EXPECT_EQ((*r.tab)(26, 1), 123.4f);
    EXPECT_EQ((*r.tab)(26, 2), 1.0f);
    EXPECT_EQ((*r.tab)(27, 1), -1.0f);
    EXPECT_TRUE(r.out.str().empty());
}

// A line with a blank month ends the table unless it also starts a cycle.
TEST(SunspotFile, ShortLineEndsTheTableUnlessACycleStarts) {
    std::string text = ssnline(1749, 0, std::vector<float>(12, 3.0f), 0);
    text += ssnline(1750, 6, {1.0f, 2.0f}, 1);  // cycle start: reading goes on
    text += ssnline(1751, 0, std::vector<float>(12, 4.0f), 1);
    text += ssnline(1752, 0, {5.0f, 6.0f, 7.0f}, 1);  // ends the data
    text += ssnline(1753, 0, std::vector<float>(12, 8.0f), 1);
    const SsnRead r(text);
    ASSERT_EQ(r.stop, "no stop");
    EXPECT_EQ(r.ncyc, 1);
    EXPECT_EQ(r.cb(1), 18);  // June 1750
    EXPECT_EQ(r.nyears, 4);
    EXPECT_EQ((*r.tab)(2, 3), -1.0f);
    EXPECT_EQ((*r.tab)(3, 12), 4.0f);
    EXPECT_EQ((*r.tab)(4, 3), 7.0f);
    EXPECT_EQ((*r.tab)(4, 4), -1.0f);
    EXPECT_EQ((*r.tab)(5, 1), -1.0f);
}

TEST(SunspotFile, MalformedFilesStopWithTheirMessages) {
    const std::string y49 = ssnline(1749, 0, std::vector<float>(12, 3.0f), 0);

    auto [msg, diag] = readstop(y49 + ssnline(1751, 0, std::vector<float>(12, 3.0f), 0));
    EXPECT_EQ(msg, DATAMISSING);
    EXPECT_EQ(diag, " IYEARPRE,IYEAR= 1749 1751\n");

    std::tie(msg, diag) = readstop(ssnline(1748, 0, std::vector<float>(12, 3.0f), 0));
    EXPECT_EQ(msg, DATAMISSING);
    EXPECT_EQ(diag, " IYEARPRE,IYEAR= 1747 1748\n");

    // Cycle 3 starting where cycle 2 is due.
    std::tie(msg, diag) = readstop(ssnline(1749, 3, std::vector<float>(12, 3.0f), 1) +
                                   ssnline(1750, 4, std::vector<float>(12, 3.0f), 3));
    EXPECT_EQ(msg, "FILE \"SUNSPT.ASC\" CONSTRUCTED WRONG. CYCLES DO NOT MATCH.");
    EXPECT_EQ(diag, " ICYCLE,NCYCLES=    3    2\n");

    std::string bad = y49;
    bad.replace(13, 6, "  1x.5");
    EXPECT_EQ(readstop(bad).first, "FILE \"SUNSPT.ASC\" CONSTRUCTED WRONG. BAD VALUE.");

    // More years than the table holds.
    std::string big;
    for (int y = 1749; y <= 1749 + zm::NSSNYR; ++y) big += ssnline(y, 0, std::vector<float>(12, 1.0f), 0);
    EXPECT_EQ(readstop(big).first, "FILE \"SUNSPT.ASC\" CONSTRUCTED WRONG. TABLE FULL.");

    // More cycles than the table holds.
    std::string many;
    for (int c = 1; c <= zm::NSSNCYC + 1; ++c)
        many += ssnline(1748 + c, 1, std::vector<float>(12, 1.0f), c);
    EXPECT_EQ(readstop(many).first, "FILE \"SUNSPT.ASC\" CONSTRUCTED WRONG. TABLE FULL.");
}

TEST(SunspotLookup, MissingFileStops) {
    ScratchDir dir;
    zm::Models mod;
    mod.data_dirs = {dir.str()};
    try {
        lookup(mod, 2000, 1);
        FAIL() << "no stop";
    } catch (const zelk::Stop& e) {
        EXPECT_STREQ(e.what(), "FILE \"SUNSPT.ASC\" IS REQUIRED IN 60Z BUT IT DOES NOT EXIST!");
    }
}

// The measured months, the predicted ones after the last measured month and the months
// outside the table or the window.
TEST(SunspotLookup, FileValuesPredictionsAndTheirLimits) {
    ScratchDir dir;
    dir.write("SUNSPT.ASC", linearfile(12, 5));
    zm::Models mod;
    mod.data_dirs = {dir.str()};
    // Last cycle 12 starts January 1860; measured to May 1863 (phase 40 = 60 + 40).
    Lookup r = lookup(mod, 1863, 5);
    EXPECT_EQ(r.ssn, 100.0f);
    EXPECT_EQ(r.dev, 0.0f);
    EXPECT_EQ(mod.NCYCLE, 12);
    for (int npred = 1; npred <= 20; ++npred) {
        const int k = 4 + npred;  // month index from January 1863, 0-based
        r = lookup(mod, 1863 + k / 12, k % 12 + 1);
        EXPECT_EQ(r.ssn, 100.0f + static_cast<float>(npred)) << "NPRED " << npred;
        EXPECT_EQ(r.dev, 0.0f) << "NPRED " << npred;
    }
    EXPECT_EQ(mod.LASTV, 100.0f);
    EXPECT_EQ(mod.LASTY, 1863);
    EXPECT_EQ(mod.LASTM, 5);
    // A lookup of a measured month after predictions: the file value, deviation 0.
    r = lookup(mod, 1755, 3);
    EXPECT_EQ(r.ssn, 5.0f + 62.0f);
    EXPECT_EQ(r.dev, 0.0f);

    // The window ends 12 years after the cycle start; the table before 1749 and 300 years
    // after; months outside 1..12.
    EXPECT_GE(lookup(mod, 1871, 12).ssn, 0.0f);
    EXPECT_EQ(lookup(mod, 1872, 1).ssn, -1.0f);
    EXPECT_EQ(lookup(mod, 1872, 1).dev, 0.0f);
    EXPECT_EQ(lookup(mod, 1748, 12).ssn, -1.0f);
    EXPECT_EQ(lookup(mod, 1749 + zm::NSSNYR, 1).ssn, -1.0f);
    EXPECT_EQ(lookup(mod, 1863, 0).ssn, -1.0f);
    EXPECT_EQ(lookup(mod, 1863, 13).ssn, -1.0f);
}

// The regression needs 3 cycles from cycle 8 on: with 11 cycles it predicts, with 10 the
// months stay without a value.
TEST(SunspotLookup, TooFewCyclesGiveNoPrediction) {
    for (int ncyc : {10, 11}) {
        ScratchDir dir;
        dir.write("SUNSPT.ASC", linearfile(ncyc, 5));
        zm::Models mod;
        mod.data_dirs = {dir.str()};
        const int ys = 1750 + 10 * (ncyc - 1);
        const Lookup r = lookup(mod, ys + 3, 6);
        SCOPED_TRACE(ncyc);
        if (ncyc == 10) {
            EXPECT_EQ(r.ssn, -1.0f);
            EXPECT_EQ(r.dev, 0.0f);
        } else {
            EXPECT_EQ(r.ssn, static_cast<float>(5 * ncyc + 41));
        }
        EXPECT_GE(lookup(mod, ys + 3, 5).ssn, 0.0f);
    }
}

// A last cycle that starts on a line without values has no measured month to predict
// from; stale LASTY / LASTM must not be used as a phase.
TEST(SunspotLookup, CycleWithoutMeasuredMonthGivesNoValue) {
    std::string text = linearfile(12, 12);
    text += ssnline(1864, 3, {}, 13);
    ScratchDir dir;
    dir.write("SUNSPT.ASC", text);
    zm::Models mod;
    mod.data_dirs = {dir.str()};
    mod.LASTV = 80.0f;
    mod.LASTY = 30000;
    mod.LASTM = 99;
    EXPECT_EQ(mod.NCYCLE, 0);
    EXPECT_EQ(lookup(mod, 1864, 3).ssn, -1.0f);
    EXPECT_EQ(mod.NCYCLE, 13);
    EXPECT_EQ(lookup(mod, 1870, 1).ssn, -1.0f);
    EXPECT_EQ(lookup(mod, 1863, 12).ssn, 60.0f + 47.0f);
    EXPECT_EQ(lookup(mod, 1864, 2).ssn, -1.0f);  // before the cycle, no value, no window
}

// A file filling all 300 rows whose last cycle window runs past the table: the lookup
// predicts what lies inside and never indexes outside (the test build checks indices).
TEST(SunspotLookup, WindowPastTheTableEnd) {
    std::string text;
    const int last = 1749 + zm::NSSNYR - 1;
    for (int y = 1749; y <= last; ++y) {
        const int c = (y - 1749) / 10;  // cycle c starts in January of 1749 + 10 c
        std::vector<float> v;
        for (int m = 0; m < (y == last ? 6 : 12); ++m)
            v.push_back(static_cast<float>(c + 12 * ((y - 1749) % 10) + m));
        text += ssnline(y, (y - 1749) % 10 == 0 && c > 0 ? 1 : 0, v, c);
    }
    ScratchDir dir;
    dir.write("SUNSPT.ASC", text);
    zm::Models mod;
    mod.data_dirs = {dir.str()};
    const Lookup r = lookup(mod, last, 12);
    EXPECT_EQ(mod.NCYCLE, 29);
    EXPECT_EQ(r.ssn, 29.0f + 108.0f + 11.0f);
    EXPECT_EQ(lookup(mod, last + 1, 1).ssn, -1.0f);
}

// The shipped file: every month from 1749 to the end of the window after the last cycle
// start has a value; the first predicted month matches a regression computed here in
// double precision from the file's own table.
TEST(SunspotLookup, ShippedFileCoversEveryMonthTo2031) {
    zm::Models mod;
    mod.data_dirs = {ZELK_SOURCE_DATA};
    int missing = 0;
    for (int y = 1749; y <= 2031; ++y)
        for (int m = 1; m <= 12; ++m)
            if (lookup(mod, y, m).ssn < 0.0f) ++missing;
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(lookup(mod, 2032, 1).ssn, -1.0f);

    // February 1750 is 126.5 in the file: rounded half away from zero, deviation 0.
    Lookup r = lookup(mod, 1750, 2);
    EXPECT_EQ(r.ssn, 127.0f);
    EXPECT_EQ(r.dev, 0.0f);

    // Last measured month: September 2026 (60.3), cycle 25 from December 2019.
    r = lookup(mod, 2026, 9);
    EXPECT_EQ(r.ssn, 60.0f);
    EXPECT_EQ(r.dev, 0.0f);
    ASSERT_EQ(mod.NCYCLE, 25);
    const int offset = (2026 - 2020) * 12 + 9;  // phase of the last measured month
    for (int npred = 1; npred <= 3; ++npred) {
        double sx = 0, sy = 0, sxy = 0, sxx = 0, syy = 0;
        const int n = 25 - 1 - 7;
        for (int c = 8; c <= 24; ++c) {
            const int kx = mod.CYCBEGIN(c) + offset;
            const double xv = mod.SSNFILE((kx - 1) / 12 + 1, (kx - 1) % 12 + 1);
            const int ky = kx + npred;
            const double yv = mod.SSNFILE((ky - 1) / 12 + 1, (ky - 1) % 12 + 1);
            sx += xv, sy += yv, sxy += xv * yv, sxx += xv * xv, syy += yv * yv;
        }
        const double b = (n * sxy - sx * sy) / (n * sxx - sx * sx);
        const double dx = 60.3 - sx / n;
        const double pred = sy / n + b * dx;
        const double sxc = sxx - sx * sx / n;
        const double res = syy - sy * sy / n - b * b * sxc;
        const double dev = 1.812 * std::sqrt(res / (n - 2) * (1.0 + 1.0 / n + dx * dx / sxc));
        r = lookup(mod, 2026, 9 + npred);
        SCOPED_TRACE(npred);
        EXPECT_NEAR(mod.SSNTAB(278, 9 + npred), pred, 1e-3 * pred);
        EXPECT_NEAR(mod.SSNDEV(278, 9 + npred), dev, 1e-3 * dev);
        EXPECT_EQ(r.ssn, std::round(mod.SSNTAB(278, 9 + npred)));
        EXPECT_GT(r.dev, 0.0f);
    }
}
