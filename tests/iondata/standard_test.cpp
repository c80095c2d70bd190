// Standard-format conversion: the calendar and grid rules, the records as the VXO reader and
// the record preparation get them back, the rules that drop records and points, and bad
// files that must cost only what comes after the fault.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "pipeline/zelk.hpp"
#include "driver/run.hpp"
#include "pipeline/prepare.hpp"
#include "iondata/standard.hpp"
#include "iondata/vxo.hpp"

namespace {

using namespace zelk::iondata;
using zelk::pipeline::prepare;

struct Date {
    int32_t year4 = 0, doy = 0, error = -1;
};
Date date(int32_t y, int32_t m, int32_t d) {
    Date r;
    DATETODAY(y, m, d, r.year4, r.doy, r.error);
    return r;
}

TEST(DateToDay, CenturyOfTwoDigitYearsAndCalendarErrors) {
    EXPECT_EQ(date(49, 1, 1).year4, 2049);
    EXPECT_EQ(date(50, 1, 1).year4, 1950);
    EXPECT_EQ(date(999, 1, 1).year4, 2899);
    EXPECT_EQ(date(1000, 1, 1).year4, 1000);
    EXPECT_EQ(date(2004, 6, 15).year4, 2004);

    const Date feb29 = date(2000, 2, 29);
    EXPECT_EQ(feb29.error, 0);
    EXPECT_EQ(feb29.doy, 60);
    EXPECT_EQ(date(1900, 2, 29).error, 2);   // divisible by 100, not by 400
    EXPECT_EQ(date(2023, 2, 29).error, 2);
    EXPECT_EQ(date(2024, 2, 29).error, 0);
    EXPECT_EQ(date(2004, 4, 31).error, 3);
    EXPECT_EQ(date(2004, 4, 0).error, 3);
    EXPECT_EQ(date(2004, 13, 1).error, 1);
    EXPECT_EQ(date(2004, 0, 1).error, 1);
    EXPECT_EQ(date(2004, 3, 1).doy, 61);     // the leap day counts from March on
    EXPECT_EQ(date(2003, 3, 1).doy, 60);
    EXPECT_EQ(date(2004, 12, 31).doy, 366);
    EXPECT_EQ(date(2003, 12, 31).doy, 365);
}

struct Grid {
    float f, h, fstep, hstep;
};
Grid grid(float f, float h, float fstep = 99.0f, float hstep = 99.0f) {
    Grid g{f, h, fstep, hstep};
    GRIDDATA(g.f, g.h, g.fstep, g.hstep);
    return g;
}

TEST(GridData, NearestLineAndWholeKilometre) {
    const Grid a = grid(5.06f, 254.4f);
    EXPECT_FLOAT_EQ(a.f, 5.05f);
    EXPECT_FLOAT_EQ(a.fstep, 0.05f);
    EXPECT_FLOAT_EQ(a.h, 254.0f);
    EXPECT_FLOAT_EQ(a.hstep, 1.0f);
    // On a 0.1 MHz line the coarsest step wins the tie; a finer step already found stays.
    EXPECT_FLOAT_EQ(grid(5.0f, 200.0f).fstep, 0.1f);
    EXPECT_FLOAT_EQ(grid(5.0f, 200.0f, 0.025f).fstep, 0.025f);
    const Grid c = grid(5.074f, 254.5f);
    EXPECT_FLOAT_EQ(c.f, 5.075f);
    EXPECT_FLOAT_EQ(c.fstep, 0.025f);
    EXPECT_FLOAT_EQ(c.h, 255.0f);           // a half kilometre goes up
    // Values of 0 or less are left alone, and so are the steps.
    const Grid z = grid(0.0f, -3.0f);
    EXPECT_FLOAT_EQ(z.f, 0.0f);
    EXPECT_FLOAT_EQ(z.h, -3.0f);
    EXPECT_FLOAT_EQ(z.fstep, 99.0f);
    EXPECT_FLOAT_EQ(z.hstep, 99.0f);
}

// A conversion of a text held in memory, and the records of its VXO output as READVXO
// reads them back.
struct Converted {
    StandardOutcome res;
    std::string vxo;
    std::vector<std::unique_ptr<IonogramRecord>> recs;
    int bad = 0;
    std::string notices() const {
        std::string s;
        for (const std::string& n : res.notices) s += n + "\n";
        return s;
    }
};

Converted convert(const std::string& text) {
    Converted c;
    LineReader in(text);
    LineWriter out;
    auto rec = std::make_unique<IonogramRecord>();
    c.res = standard_to_vxo(in, out, *rec);
    c.vxo = out.text();
    LineReader back(c.vxo);
    for (int k = 0; k < 100000; ++k) {
        auto r = std::make_unique<IonogramRecord>();
        int32_t IEOF = 0;
        int16_t LREAD = 0, LBAD = 0;
        READVXO(IEOF, back, *r, LREAD, LBAD);
        if (IEOF == -1) break;
        if (LBAD == 1) {
            ++c.bad;
            continue;
        }
        c.recs.push_back(std::move(r));
    }
    return c;
}

std::string stamp(const IonogramRecord& r) { return std::string(r.TSTAMP.data() + 1, static_cast<size_t>(r.IDX(3))); }

const char* const STATION = "ABC\n 40.5 -105.25 1.35 65.0 87\n";

// One record with the given date line and blocks.
std::string rec(const std::string& date, const std::string& e, const std::string& f1, const std::string& f2) {
    return date + "\n" + e + "END\n" + f1 + "END\n" + f2 + "END\n";
}
const std::string E_OK = "3.10\n1.50 100\n2.00 105\n3.10 120\n";
const std::string F1_OK = "4.50\n3.20 200\n4.00 210\n4.45 240\n";
const std::string F2_OK = "9.05\n4.55 300\n5.00 260\n6.00 250\n9.00 400\n";

TEST(StandardRecord, ReadsBackAsAnOldLayoutRecordThatPreparationAccepts) {
    const Converted c = convert(STATION + rec("2004 6 15 19 5 30", E_OK, F1_OK, F2_OK));
    ASSERT_EQ(c.res.written, 1) << c.notices();
    ASSERT_EQ(c.recs.size(), 1u);
    EXPECT_EQ(c.bad, 0);
    const IonogramRecord& r = *c.recs[0];
    EXPECT_EQ(r.IDX(80), 0);
    EXPECT_EQ(std::string(r.SYSDSC1.data() + 1, 14), " / , NAME ABC ");
    EXPECT_FLOAT_EQ(r.GCONST(3), 40.5f);     // latitude, longitude, gyrofrequency, dip, sunspots
    EXPECT_FLOAT_EQ(r.GCONST(4), 254.75f);  // west longitude as east
    EXPECT_FLOAT_EQ(r.GCONST(1), 1.35f);
    EXPECT_FLOAT_EQ(r.GCONST(2), 65.0f);
    EXPECT_FLOAT_EQ(r.GCONST(5), 87.0f);
    // 2004 day 167, 19:05:30; step code 2 (0.05 MHz, from 4.55 and 9.05); int(foF2)+1 = 10;
    // 5 km bins and range start 60 km.
    EXPECT_EQ(stamp(r), "04167190530" + std::string(22, '0') + "1210" + std::string(16, '0') + "12");
    EXPECT_FLOAT_EQ(r.SCALED(1), 9.05f);
    EXPECT_FLOAT_EQ(r.SCALED(2), 4.5f);
    EXPECT_FLOAT_EQ(r.SCALED(9), 3.1f);
    EXPECT_FLOAT_EQ(r.SCALED(7), 3.2f);
    EXPECT_FLOAT_EQ(r.SCALED(8), 1.5f);
    EXPECT_FLOAT_EQ(r.SCALED(3), 9999.0f);
    // F2 from the line of foF1 (no echo there) to the line of foF2, one line per 0.05 MHz.
    ASSERT_EQ(r.IDX(7), 92);
    EXPECT_EQ(r.IDX(11), 92);
    EXPECT_FLOAT_EQ(r.FQOF2(1), 4.5f);
    EXPECT_EQ(r.IVHOF2(1), 999);
    EXPECT_FLOAT_EQ(r.VHOF2(1), 9999.0f);
    EXPECT_EQ(r.IVHOF2(2), 300);
    EXPECT_EQ(r.IVHOF2(3), 999);
    EXPECT_EQ(r.IVHOF2(11), 260);
    EXPECT_EQ(r.IVHOF2(91), 400);
    EXPECT_FLOAT_EQ(r.FQOF2(92), 9.05f);
    EXPECT_EQ(r.IVHOF2(92), 999);
    // F1 from the line of foE, E from its first point.
    EXPECT_EQ(r.IDX(12), 29);
    EXPECT_FLOAT_EQ(r.FQOF1(1), 3.1f);
    EXPECT_EQ(r.IDX(17), 33);
    EXPECT_EQ(r.IVHOE(1), 100);

    // The record preparation places the points back on the lines of their frequencies.
    auto z = std::make_unique<zelk::Zelk>();
    z->rec = r;
    zelk::driver::clear_record_tables(*z);
    ASSERT_EQ(prepare(*z), PREP_OK);
    EXPECT_FLOAT_EQ(z->inv.FQINCR, 0.05f);
    EXPECT_EQ(z->inv.IFOM, 181);
    EXPECT_FLOAT_EQ(z->inv.TRACEL(91, 2), 300.0f);    // 4.55 MHz
    EXPECT_FLOAT_EQ(z->inv.TRACEL(180, 2), 400.0f);   // 9.00 MHz
    EXPECT_FLOAT_EQ(z->inv.TRACEL(30, 3), 100.0f);    // 1.50 MHz
}

TEST(StandardRecord, StationLineIsOptionalAfterTheFirstRecord) {
    // A first line that is a date line: the record has no station constants and is
    // dropped, and the file goes on. A date line after a station keeps its constants.
    const Converted c = convert(rec("2004 6 15 19 0 0", E_OK, F1_OK, F2_OK) + STATION +
                                rec("2004 6 15 19 15 0", E_OK, F1_OK, F2_OK) +
                                rec("2004 6 15 19 30 0", E_OK, F1_OK, F2_OK));
    EXPECT_EQ(c.res.records, 3);
    EXPECT_EQ(c.res.dropped, 1);
    ASSERT_EQ(c.recs.size(), 2u) << c.notices();
    EXPECT_NE(c.notices().find("record 1 (2004-06-15 19:00:00): dropped, no station line"), std::string::npos);
    EXPECT_EQ(stamp(*c.recs[1]).substr(0, 11), "04167193000");
    EXPECT_FLOAT_EQ(c.recs[1]->GCONST(3), 40.5f);
    EXPECT_EQ(std::string(c.recs[1]->SYSDSC1.data() + 1, 13), " / , NAME ABC");
}

TEST(StandardRecord, RepeatedFrequenciesAndPointsBelowTheLayerBelow) {
    // 5.00, 5.00, 5.05: the repeat is dropped. F2 points at or below foF1 (4.50) go.
    const Converted c = convert(STATION + rec("2004 6 15 19 0 0", E_OK, F1_OK,
                                              "6.00\n4.40 350\n4.50 330\n5.00 250\n5.00 260\n5.05 255\n"));
    ASSERT_EQ(c.recs.size(), 1u) << c.notices();
    const IonogramRecord& r = *c.recs[0];
    ASSERT_EQ(r.IDX(7), 31);                  // 4.50 .. 6.00
    EXPECT_EQ(r.IVHOF2(1), 999);              // 4.50: the F2 point at foF1 was removed
    EXPECT_EQ(r.IVHOF2(11), 250);             // 5.00: the first of the two
    EXPECT_EQ(r.IVHOF2(12), 255);             // 5.05
    EXPECT_FLOAT_EQ(r.SCALED(7), 3.2f);
    // Without F1 the F2 points are cut at foE instead.
    const Converted d = convert(STATION + rec("2004 6 15 19 0 0", E_OK, "99\n3.5 200\n",
                                              "6.00\n3.00 350\n3.10 330\n3.20 300\n"));
    ASSERT_EQ(d.recs.size(), 1u) << d.notices();
    EXPECT_EQ(d.recs[0]->IDX(12), 0);
    EXPECT_FLOAT_EQ(d.recs[0]->SCALED(2), 9999.0f);
    EXPECT_FLOAT_EQ(d.recs[0]->SCALED(7), 3.2f);
    EXPECT_FLOAT_EQ(d.recs[0]->FQOF2(1), 3.2f);
    EXPECT_EQ(d.recs[0]->IVHOF2(1), 300);
}

TEST(StandardRecord, CriticalFrequencyRulesAndDroppedRecords) {
    // foE not below foF1: dropped, and so is foF1 not below foF2; the records around stay.
    const std::string good = rec("2004 6 15 19 0 0", E_OK, F1_OK, F2_OK);
    const Converted c = convert(STATION + good + rec("2004 6 15 19 15 0", "4.60\n1.5 100\n", F1_OK, F2_OK) +
                                rec("2004 6 15 19 30 0", E_OK, "9.05\n3.2 200\n", F2_OK) +
                                rec("2004 6 15 19 45 0", E_OK, F1_OK, F2_OK));
    EXPECT_EQ(c.res.dropped, 2);
    ASSERT_EQ(c.recs.size(), 2u);
    EXPECT_EQ(stamp(*c.recs[1]).substr(0, 11), "04167194500");
    EXPECT_NE(c.notices().find("foE 4.600 is not below foF1 4.500"), std::string::npos) << c.notices();
    EXPECT_NE(c.notices().find("foF1 9.050 is not below foF2 9.050"), std::string::npos) << c.notices();

    // A critical frequency within a quarter step of a line moves onto it (9.04 -> 9.05 at
    // 0.05 MHz); 9.02 is further and stays; a layer's highest point raises it; 99 or more
    // is not scaled and its points are not used.
    const auto foF2 = [](const std::string& fc, const std::string& pts) {
        const Converted k = convert(STATION + rec("2004 6 15 19 0 0", E_OK, F1_OK, fc + "\n" + pts));
        return k.recs.empty() ? -1.0f : k.recs[0]->SCALED(1);
    };
    EXPECT_FLOAT_EQ(foF2("9.04", "5.00 250\n5.05 255\n"), 9.05f);
    EXPECT_FLOAT_EQ(foF2("9.02", "5.00 250\n5.05 255\n"), 9.02f);
    EXPECT_FLOAT_EQ(foF2("5.00", "5.00 250\n5.05 255\n6.1 300\n"), 6.1f);
    EXPECT_FLOAT_EQ(foF2("150", "5.00 250\n"), 9999.0f);
    // At 0.025 MHz every scaled F critical frequency moves onto its line.
    EXPECT_FLOAT_EQ(foF2("9.04", "5.00 250\n5.025 255\n"), 9.05f);
    // 0 takes the last point.
    EXPECT_FLOAT_EQ(foF2("0", "5.00 250\n5.50 255\n"), 5.5f);
}

TEST(StandardRecord, DateOutOfRangeEndsTheConversionKeepingTheRecordsBefore) {
    for (const char* bad : {"2004 13 1 0 0 0", "2004 4 31 0 0 0", "1900 2 29 0 0 0", "2004 6 15 25 0 0",
                            "2004 6 15 12 60 0", "0 6 15 12 0 0"}) {
        const Converted c = convert(STATION + rec("2004 6 15 19 0 0", E_OK, F1_OK, F2_OK) +
                                    rec(bad, E_OK, F1_OK, F2_OK) + rec("2004 6 15 19 30 0", E_OK, F1_OK, F2_OK));
        EXPECT_TRUE(c.res.stopped) << bad;
        EXPECT_EQ(c.recs.size(), 1u) << bad;
        EXPECT_NE(c.notices().find("record 2"), std::string::npos) << bad;
    }
    // Hour 24 is 0 h of the next day (the year too); years the stamp cannot hold are dropped.
    const Converted c = convert(STATION + rec("2004 12 31 24 10 0", E_OK, F1_OK, F2_OK) +
                                rec("1965 6 15 12 0 0", E_OK, F1_OK, F2_OK) +
                                rec("49 6 15 12 0 0", E_OK, F1_OK, F2_OK));
    ASSERT_EQ(c.recs.size(), 2u) << c.notices();
    EXPECT_EQ(stamp(*c.recs[0]).substr(0, 11), "05001001000");
    EXPECT_EQ(stamp(*c.recs[1]).substr(0, 5), "49166");
    EXPECT_NE(c.notices().find("the year 1965"), std::string::npos);
}

TEST(StandardRecord, PointsTheOldLayoutCannotHold) {
    // Heights above 999 km and at 0 km or below are left out with a notice; a trace longer
    // than its group keeps its highest lines, next to the critical frequency.
    std::string f2 = "12.0\n";
    for (int k = 0; k <= 440; ++k) f2 += std::to_string(1.0 + 0.025 * k) + " " + std::to_string(250 + k) + "\n";
    const Converted c = convert(STATION + rec("2004 6 15 19 0 0", "99\n", "99\n", "4.5\n2.0 1200\n2.1 -5\n2.2 300\n") +
                                rec("2004 6 15 19 15 0", "99\n", "99\n", f2));
    ASSERT_EQ(c.recs.size(), 2u) << c.notices();
    EXPECT_EQ(c.recs[0]->IDX(7), 24);         // 2.20 .. 4.50 at 0.1 MHz
    EXPECT_EQ(c.recs[0]->IVHOF2(1), 300);
    EXPECT_NE(c.notices().find("2 point(s) with a height"), std::string::npos) << c.notices();
    ASSERT_EQ(c.recs[1]->IDX(7), 400);
    EXPECT_FLOAT_EQ(c.recs[1]->FQOF2(1), 2.025f);
    EXPECT_FLOAT_EQ(c.recs[1]->FQOF2(400), 12.0f);
    EXPECT_EQ(c.recs[1]->IVHOF2(400), 690);
    EXPECT_NE(c.notices().find("lowest line(s) of a trace longer than its group"), std::string::npos);
}

TEST(StandardFile, FaultsCostOnlyWhatFollowsThem) {
    const std::string two = STATION + rec("2004 6 15 19 0 0", E_OK, F1_OK, F2_OK) +
                            rec("2004 6 15 19 15 0", E_OK, F1_OK, F2_OK);
    struct Case {
        const char* what;
        std::string text;
        size_t kept;
        bool stopped;
    };
    const std::string longline(6000, '7');
    const std::vector<Case> cases = {
        {"letters in a critical frequency", two + "2004 6 15 19 30 0\n3.x0\n", 2, true},
        {"letters in the station constants", "XYZ\n40 1o5 1.3 65 80\n" + two, 0, true},
        {"end of file inside the E block", two + "2004 6 15 19 30 0\n3.1\n1.5 100\n", 2, true},
        {"end of file before the F1 block", two + "2004 6 15 19 30 0\n3.1\n1.5 100\nEND\n", 2, true},
        {"end of file inside the last F2 block", two + "2004 6 15 19 30 0\n" + E_OK + "END\n" + F1_OK + "END\n" + F2_OK, 3, false},
        {"overlong line", two + longline + "\n" + longline + "\n", 2, true},
        {"binary bytes", two + std::string("\x01\xff\x00\x7f\x80 9\n\x00\x00\n", 11), 2, true},
        {"a number where a date is expected", two + "2004 6 15 19 30\n" + E_OK, 2, true},
        {"CR LF line ends", [&] {
             std::string t;
             for (char ch : two) {
                 if (ch == '\n') t += '\r';
                 t += ch;
             }
             return t;
         }(), 2, false},
    };
    for (const Case& k : cases) {
        const Converted c = convert(k.text);
        EXPECT_EQ(c.recs.size(), k.kept) << k.what << "\n" << c.notices();
        EXPECT_EQ(c.bad, 0) << k.what;
        EXPECT_EQ(c.res.stopped, k.stopped) << k.what;
        EXPECT_FALSE(k.stopped && c.res.notices.empty()) << k.what;
    }
}

TEST(StandardFile, RandomDamageNeverBreaksTheOutput) {
    // Random bytes replaced in a good file: whatever the reader makes of it, what it writes
    // reads back whole, and the records before the first damaged byte are all there.
    std::string good = STATION;
    for (int k = 0; k < 6; ++k) good += rec("2004 6 15 19 " + std::to_string(k * 5) + " 0", E_OK, F1_OK, F2_OK);
    std::mt19937 rng(20261207);
    for (int trial = 0; trial < 300; ++trial) {
        std::string t = good;
        const size_t first = rng() % t.size();
        t[first] = static_cast<char>(rng() % 256);
        for (int n = static_cast<int>(rng() % 4); n > 0; --n) t[first + rng() % (t.size() - first)] = static_cast<char>(rng() % 256);
        const Converted c = convert(t);
        EXPECT_EQ(c.bad, 0) << trial;
        // Records that end before the first damaged byte (two station lines, then 17 lines each).
        const size_t lines_before = static_cast<size_t>(std::count(t.begin(), t.begin() + static_cast<long>(first), '\n'));
        const size_t whole_before = lines_before < 2 ? 0 : (lines_before - 2) / 17;
        EXPECT_GE(c.res.written + c.res.dropped, static_cast<int32_t>(whole_before)) << trial;
    }
}

}  // namespace
