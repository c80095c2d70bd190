// Model predictions of a record: date handling, sunspot lookup on a new month, the
// coefficient cache and its files, the stops and the listings.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>

#include "core/diag.hpp"
#include "core/stop.hpp"
#include "ztest.hpp"
#include "models/models.hpp"

namespace zm = zelk::models;
using ztest::ScratchDir;

namespace {

struct Pred {
    float foe = 0, fof1 = 0, fof2 = 0;
    int32_t status = -1;
};

Pred calpredf(zm::Models& mod, float lat, float lon, int month, int day, int hr, float ssn) {
    Pred p;
    std::ostringstream out;
    zm::CALPREDF(mod, out, lat, lon, static_cast<int16_t>(month), static_cast<int16_t>(day),
                 static_cast<int16_t>(hr), 0, 0, ssn, 0, p.foe, p.fof1, p.fof2, p.status);
    return p;
}

struct Station {
    zm::Models mod;
    std::ostringstream out;
    zelk::Log log;
    Station() {
        mod.data_dirs = {ZELK_SOURCE_DATA};
        log.out = &out;
        log.IDEBUG = 1;
    }
    void predict(int iyr, int iday, int hr = 12) {
        zm::PREDICT(mod, log, 40.0f, -105.0f, static_cast<int16_t>(iyr), static_cast<int16_t>(iday),
                    static_cast<int16_t>(hr), 0, 0);
    }
};

}  // namespace

TEST(Predict, YearFromTwoOrFourDigits) {
    struct Case {
        int iyr, year0, want;
    };
    const Case cases[] = {{70, 0, 2070}, {71, 0, 1971}, {1985, 0, 1985}, {5, 0, 2005},
                          // A 4-digit year set by the trace set-up is kept.
                          {70, 1970, 1970},
                          // Equal to IYR: taken again from IYR.
                          {1999, 1999, 1999}};
    for (const Case& c : cases) {
        Station r;
        r.mod.IYEAR = static_cast<int16_t>(c.year0);
        r.predict(c.iyr, 100);
        EXPECT_EQ(r.mod.IYEAR, c.want) << "IYR " << c.iyr << " IYEAR " << c.year0;
    }
}

TEST(Predict, MonthAndDayOfMonth) {
    struct Case {
        int iyr, iday, mon, dom;
    };
    const Case cases[] = {
        {2000, 31, 1, 31},  {2000, 32, 2, 1},   {2000, 60, 2, 29},  {2000, 61, 3, 1},
        {2001, 59, 2, 28},  {2001, 60, 3, 1},   {1900, 60, 3, 1},   {2000, 366, 12, 31},
        {2001, 365, 12, 31}, {2001, 335, 12, 1}, {2001, 334, 11, 30},
        {2001, 400, 12, 66},  // past the year's end: December
    };
    for (const Case& c : cases) {
        Station r;
        r.predict(c.iyr, c.iday);
        EXPECT_EQ(r.mod.IMON, c.mon) << c.iyr << " day " << c.iday;
        EXPECT_EQ(r.mod.IDOM, c.dom) << c.iyr << " day " << c.iday;
    }
}

// The lookup runs when the month changes, not for every record: a sunspot number set in
// between (by the record) is used as it stands for the rest of the month.
TEST(Predict, SunspotLookupOnANewMonthOnly) {
    Station r;
    r.predict(2000, 15);  // January 2000: 133.1 in the file
    EXPECT_EQ(r.mod.ISSN, 133);
    EXPECT_EQ(r.mod.LASTMON, 1);
    EXPECT_EQ(r.mod.SSNDEVOUT, 0.0f);

    r.mod.ISSN = 42;
    r.predict(2000, 20);
    EXPECT_EQ(r.mod.ISSN, 42);
    const Pred p42 = calpredf(r.mod, 40.0f, -105.0f, 1, 20, 12, 42.0f);
    EXPECT_EQ(r.mod.FOEPRE, p42.foe);
    EXPECT_EQ(r.mod.FOF2PRE, p42.fof2);

    r.predict(2000, 40);  // February: 165.7
    EXPECT_EQ(r.mod.ISSN, 166);
    EXPECT_EQ(r.mod.LASTMON, 2);

    // The year of a new record is the trace set-up's to set (a 4-digit IYEAR that differs
    // from IYR is kept). A predicted month: truncated sunspot number, deviation kept.
    r.mod.IYEAR = 2027;
    r.predict(2027, 1);
    EXPECT_EQ(r.mod.ISSN, 61);
    EXPECT_GT(r.mod.SSNDEVOUT, 0.0f);

    // A month the table can give no value for keeps the record's sunspot number.
    r.mod.IYEAR = 2040;
    r.mod.ISSN = 77;
    r.predict(2040, 1);
    EXPECT_EQ(r.mod.ISSN, 77);
}

// The sunspot number enters the activity index and the maps limited to 150, foF1 as given.
TEST(Predict, SunspotNumberAbove150) {
    zm::Models mod;
    mod.data_dirs = {ZELK_SOURCE_DATA};
    const Pred p150 = calpredf(mod, 35.0f, 139.7f, 4, 100, 3, 150.0f);
    const Pred p200 = calpredf(mod, 35.0f, 139.7f, 4, 100, 3, 200.0f);
    EXPECT_EQ(p200.foe, p150.foe);
    EXPECT_EQ(p200.fof2, p150.fof2);
    EXPECT_EQ(mod.COEFSSN, 150.0f);
    EXPECT_NEAR(p200.fof1, 6.352, 0.0005);
    EXPECT_NEAR(p150.fof1, 5.848, 0.0005);
    EXPECT_NE(p200.fof1, p150.fof1);
}

// foF1 only by day and only above foE: polar night and polar day decide by the flags.
TEST(Predict, NightAndPolarCases) {
    zm::Models mod;
    mod.data_dirs = {ZELK_SOURCE_DATA};
    // Polar night (sun never rises), noon.
    EXPECT_EQ(calpredf(mod, 78.2f, 15.6f, 12, 355, 11, 100.0f).fof1, 9999.0f);
    // Polar day (sun never sets): day for the F1 test even at local midnight, where the
    // zenith angle (76.6 deg) is still inside the F1 limit.
    EXPECT_NEAR(calpredf(mod, 80.0f, -45.0f, 6, 172, 3, 150.0f).fof1, 4.043, 0.0005);
    EXPECT_NEAR(calpredf(mod, 80.0f, -45.0f, 6, 172, 12, 150.0f).fof1, 4.588, 0.0005);
    // Midday at mid-latitude has an F1 layer; the same place at night none.
    EXPECT_LT(calpredf(mod, 40.0f, -105.0f, 6, 172, 19, 50.0f).fof1, 9999.0f);
    EXPECT_EQ(calpredf(mod, 40.0f, -105.0f, 6, 172, 7, 50.0f).fof1, 9999.0f);
}

// The coefficient files are read on a change of month or of the limited sunspot number
// only; a missing binary file is replaced by the text file.
TEST(Predict, CoefficientCacheAndFiles) {
    ScratchDir dir;
    dir.copydata("URSI13.BIN");
    dir.copydata("URSI14.ASC");
    zm::Models mod;
    mod.data_dirs = {dir.str()};
    const Pred a = calpredf(mod, 45.0f, 10.0f, 3, 80, 11, 120.0f);
    ASSERT_EQ(a.status, 0);
    EXPECT_NEAR(a.fof2, 11.013, 0.0005);

    std::filesystem::remove(dir.file("URSI13.BIN"));
    // Same month, same number: no file needed. Limited number unchanged (200 -> 150 twice).
    EXPECT_EQ(calpredf(mod, 45.0f, 10.0f, 3, 80, 11, 120.0f).status, 0);
    EXPECT_EQ(calpredf(mod, 45.0f, 10.0f, 3, 80, 11, 120.0f).fof2, a.fof2);
    // A new sunspot number rereads the month's file: now missing.
    const Pred b = calpredf(mod, 45.0f, 10.0f, 3, 80, 11, 121.0f);
    EXPECT_NE(b.status, 0);
    EXPECT_EQ(b.fof2, 9999.0f);
    EXPECT_EQ(mod.COEFMON, 3);
    EXPECT_EQ(mod.COEFSSN, 120.0f);

    // A new month with the same number reads that month's file: the text form here.
    const Pred c = calpredf(mod, 45.0f, 10.0f, 4, 100, 11, 120.0f);
    ASSERT_EQ(c.status, 0);
    EXPECT_EQ(mod.COEFMON, 4);
    zm::Models ref;
    ref.data_dirs = {ZELK_SOURCE_DATA};
    const Pred cbin = calpredf(ref, 45.0f, 10.0f, 4, 100, 11, 120.0f);
    EXPECT_EQ(c.fof2, cbin.fof2);
    for (int i = 1; i <= zm::NF2SET; ++i)
        ASSERT_NEAR(mod.F2COEF(i), ref.F2COEF(i), 1e-6f * (1.0f + std::fabs(ref.F2COEF(i)))) << i;
}

TEST(Predict, StopsWithoutCoefficientFiles) {
    ScratchDir dir;
    dir.copydata("SUNSPT.ASC");
    Station r;
    r.mod.data_dirs = {dir.str()};
    try {
        r.predict(2000, 100);
        FAIL() << "no stop";
    } catch (const zelk::Stop& e) {
        EXPECT_STREQ(e.what(), " CAN NOT FIND THE URSI COEFFICIENT FILES!");
    }
    EXPECT_EQ(r.out.str(), " CAN NOT FIND THE URSI COEFFICIENT FILES!\n");
}

// A binary file that opens but is short must not give model values from a partial set.
TEST(Predict, ShortCoefficientFileStops) {
    ScratchDir dir;
    dir.write("URSI15.BIN", std::string(7900, '\0'));
    zm::Models mod;
    mod.data_dirs = {dir.str()};
    EXPECT_THROW(calpredf(mod, 0.0f, 0.0f, 5, 130, 12, 50.0f), zelk::Stop);
    dir.write("URSI15.ASC", "  0.10000000E+01\n");
    std::filesystem::remove(dir.file("URSI15.BIN"));
    EXPECT_THROW(calpredf(mod, 0.0f, 0.0f, 5, 130, 12, 50.0f), zelk::Stop);
}

TEST(Predict, Listings) {
    Station r;
    r.log.IDEBUG = 1;
    r.predict(2000, 355, 12);
    EXPECT_TRUE(r.out.str().empty());

    // Polar night at noon: foF1 9999.000 does not fit F7.3; XNOON shows as 89.999.
    Station p;
    p.log.IDEBUG = -11;
    zm::PREDICT(p.mod, p.log, 78.2f, 15.6f, 2000, 355, 12, 0, 0);
    char pred[80];
    std::snprintf(pred, sizeof pred, " IRI FOE, FOF1, FOF2 PREDICTIONS:%7.3f*******%7.3f\n",
                  static_cast<double>(p.mod.FOEPRE), static_cast<double>(p.mod.FOF2PRE));
    EXPECT_EQ(p.out.str(),
              " 12:00 LT,XHI,XNOON,SRISE,SSET=  13.040 102.084  89.999 -99.000 -99.000\n" +
                  std::string(pred));

    // -6 gives the predictions only.
    Station q;
    q.log.IDEBUG = -6;
    q.predict(2000, 100, 18);
    EXPECT_EQ(q.out.str().find("LT,XHI"), std::string::npos);
    EXPECT_NE(q.out.str().find("PREDICTIONS:"), std::string::npos);
}
