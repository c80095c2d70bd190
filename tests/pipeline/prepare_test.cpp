// Record preparation: time-stamp layouts, sounder settings, characteristics, trace tables.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "pipeline/zelk.hpp"
#include "zelk_calls.hpp"
#include "driver/run.hpp"
#include "pipeline/prepare.hpp"

namespace {

using zelk::Zelk;
using namespace zelk::iondata;
using namespace zelk::pipeline;

// Puts a stamp into TSTAMP (positions 1..n) and its length into index element 3.
void set_stamp(Zelk& z, const std::string& s) {
    z.rec.TSTAMP.fill(' ');
    for (size_t i = 0; i < s.size(); ++i) z.rec.TSTAMP(static_cast<int>(i + 1)) = s[i];
    z.rec.IDX(3) = static_cast<int32_t>(s.size());
}

void set_line(zelk::F1<char, 120>& line, const std::string& s) {
    line.fill(' ');
    for (size_t i = 0; i < s.size() && i < 120; ++i) line(static_cast<int>(i + 1)) = s[i];
}

// Overwrites characters of a stamp at 1-based position p.
std::string put(std::string s, int p, const std::string& what) {
    if (s.size() < static_cast<size_t>(p - 1) + what.size()) s.resize(static_cast<size_t>(p - 1) + what.size(), '0');
    s.replace(static_cast<size_t>(p - 1), what.size(), what);
    return s;
}

// A layout-1 stamp: year 04, day 167, 19:05:30, station 101; step code '1' (0.1 MHz) at 35,
// range-bin code '1' (5 km) at 54, range-start code '2' at 55.
std::string layout1() {
    std::string s(60, '0');
    s = put(s, 1, "04167190530");
    s = put(s, 35, "1");
    s = put(s, 41, "101");
    s = put(s, 54, "12");
    return s;
}

// A fresh run context holding a version-5 record with the given stamp, as the run loop
// hands it to prepare (trace tables cleared).
std::unique_ptr<Zelk> record(const std::string& stamp) {
    auto z = std::make_unique<Zelk>();
    z->rec.IDX(1) = 5;
    z->rec.IDX(80) = 5;
    z->rec.IDX(4) = 31;
    z->rec.SCALED.fill(9999.0f);
    set_stamp(*z, stamp);
    zelk::driver::clear_record_tables(*z);
    return z;
}

TEST(Prepare, Layout1DecodesStationTimeAndSounder) {
    auto z = record(layout1());
    ASSERT_EQ(prepare(*z), PREP_OK);
    EXPECT_EQ(z->inv.LAYOUT, 1);
    EXPECT_EQ(z->inv.IOFF, 0);
    EXPECT_EQ(z->inv.ISTNCODE, 101);
    EXPECT_EQ(z->inv.IYR, 4);
    EXPECT_EQ(z->inv.IDAY, 167);
    EXPECT_EQ(z->inv.IHR, 19);
    EXPECT_EQ(z->inv.MINU, 5);
    EXPECT_EQ(z->inv.ISEC, 30);
    EXPECT_FLOAT_EQ(z->inv.FQINCR, 0.1f);
    EXPECT_FLOAT_EQ(z->inv.HGRID, 5.0f);
    EXPECT_FLOAT_EQ(z->inv.BASEHT, 55.0f);
    EXPECT_EQ(iso_time(z->inv.IYR, z->inv.IDAY, z->inv.IHR, z->inv.MINU, z->inv.ISEC),
              "2004-06-15T19:05:30Z");

    // Range-bin code '0' and range-start code '2': 2.5 km bins starting at 60 km.
    z = record(put(layout1(), 54, "02"));
    ASSERT_EQ(prepare(*z), PREP_OK);
    EXPECT_FLOAT_EQ(z->inv.HGRID, 2.5f);
    EXPECT_FLOAT_EQ(z->inv.BASEHT, 57.5f);

    // Every frequency-step code, and range start '0' (no bin subtracted).
    const char codes[] = {'0', '1', '2', '3', '4', '7'};
    const float steps[] = {0.2f, 0.1f, 0.05f, 0.025f, 0.01f, 0.005f};
    for (int i = 0; i < 6; ++i) {
        z = record(put(put(layout1(), 35, std::string(1, codes[i])), 55, "0"));
        ASSERT_EQ(prepare(*z), PREP_OK);
        EXPECT_FLOAT_EQ(z->inv.FQINCR, steps[i]) << codes[i];
        EXPECT_FLOAT_EQ(z->inv.BASEHT, 0.0f);
    }
}

TEST(Prepare, PrefixedLayouts) {
    // "FE" and "AA": a layout-1 stamp behind a 19-character prefix.
    for (const char* pre : {"FE", "AA"}) {
        const std::string s = std::string(pre) + "20041670615190530" + layout1().substr(0, 58);
        auto z = record(s);
        ASSERT_EQ(z->rec.IDX(3), 77);
        ASSERT_EQ(prepare(*z), PREP_OK) << pre;
        EXPECT_EQ(z->inv.LAYOUT, 3);
        EXPECT_EQ(z->inv.IOFF, 19);
        EXPECT_EQ(z->inv.ISTNCODE, 101);
        EXPECT_EQ(iso_time(z->inv.IYR, z->inv.IDAY, z->inv.IHR, z->inv.MINU, z->inv.ISEC),
                  "2004-06-15T19:05:30Z");
        EXPECT_FLOAT_EQ(z->inv.FQINCR, 0.1f);
        EXPECT_FLOAT_EQ(z->inv.BASEHT, 55.0f);
    }
    // The decoding alone, as the record listing uses it: a bad time is reported with the
    // fields decoded.
    auto z3 = record(put(layout1(), 6, "24"));
    StampInfo st;
    EXPECT_EQ(decode_stamp(z3->rec, st), PREP_TIME);
    EXPECT_EQ(st.IHR, 24);
    EXPECT_EQ(st.IDAY, 167);
    EXPECT_FLOAT_EQ(st.FQINCR, 0.1f);
    // Any other 77-character stamp is not recognised and ends the file.
    auto z = record("XY" + std::string(75, '0'));
    EXPECT_EQ(prepare(*z), PREP_LAYOUT);
    EXPECT_EQ(z->inv.LAYOUT, 0);
}

// A layout-2 ("FF") stamp: year 09 at 5, day 032 at 7, 23:59:58 at 14, station 215 at 20,
// frequency step digits at 33..36, second step at 42..45, step count at 47, range start at
// 56..59 and range-bin code at 60.
std::string layout2(const std::string& step, const std::string& second, char m) {
    std::string s(77, '0');
    s = put(s, 1, "FF");
    s = put(s, 5, "09032");
    s = put(s, 14, "235958");
    s = put(s, 20, "215");
    s = put(s, 33, step);
    s = put(s, 42, second);
    s = put(s, 47, std::string(1, m));
    s = put(s, 56, "00805");
    return s;
}

TEST(Prepare, Layout2FrequencyStep) {
    auto z = record(layout2("0100", "0000", '0'));
    ASSERT_EQ(prepare(*z), PREP_OK);
    EXPECT_EQ(z->inv.LAYOUT, 2);
    EXPECT_EQ(z->inv.ISTNCODE, 215);
    EXPECT_EQ(iso_time(z->inv.IYR, z->inv.IDAY, z->inv.IHR, z->inv.MINU, z->inv.ISEC),
              "2009-02-01T23:59:58Z");
    EXPECT_FLOAT_EQ(z->inv.FQINCR, 0.1f);
    EXPECT_FLOAT_EQ(z->inv.HGRID, 5.0f);
    EXPECT_FLOAT_EQ(z->inv.BASEHT, 75.0f);

    // Two steps of 0.005 MHz: the fine mode, ignored.
    z = record(layout2("0100", "0005", '2'));
    ASSERT_EQ(prepare(*z), PREP_OK);
    EXPECT_FLOAT_EQ(z->inv.FQINCR, 0.1f);
    // Two steps of 0.05 MHz: the second step is the step.
    z = record(layout2("0100", "0050", '2'));
    ASSERT_EQ(prepare(*z), PREP_OK);
    EXPECT_FLOAT_EQ(z->inv.FQINCR, 0.05f);
    // Three steps of 0.005 MHz are not the fine mode.
    z = record(layout2("0100", "0005", '3'));
    ASSERT_EQ(prepare(*z), PREP_OK);
    EXPECT_FLOAT_EQ(z->inv.FQINCR, 0.005f);
    // No second step: the step is divided by the count, then rounded to 0.001 MHz.
    z = record(layout2("0100", "0000", '3'));
    ASSERT_EQ(prepare(*z), PREP_OK);
    EXPECT_FLOAT_EQ(z->inv.FQINCR, 0.033f);

    // Range-bin codes '2' and 'A'; any other leaves no bin size and ends the file.
    z = record(put(layout2("0100", "0000", '0'), 60, "2"));
    ASSERT_EQ(prepare(*z), PREP_OK);
    EXPECT_FLOAT_EQ(z->inv.HGRID, 2.5f);
    EXPECT_FLOAT_EQ(z->inv.BASEHT, 77.5f);
    z = record(put(layout2("0100", "0000", '0'), 60, "A"));
    ASSERT_EQ(prepare(*z), PREP_OK);
    EXPECT_FLOAT_EQ(z->inv.HGRID, 10.0f);
    z = record(put(layout2("0100", "0000", '0'), 60, "7"));
    EXPECT_EQ(prepare(*z), PREP_SOUNDER);
    // A zero frequency step ends the file.
    z = record(layout2("0000", "0000", '0'));
    EXPECT_EQ(prepare(*z), PREP_SOUNDER);
}

TEST(Prepare, TimeChecksEndTheFile) {
    EXPECT_EQ(prepare(*record(put(layout1(), 3, "000"))), PREP_TIME);   // IDAY = 0
    EXPECT_EQ(prepare(*record(put(layout1(), 3, "367"))), PREP_TIME);
    EXPECT_EQ(prepare(*record(put(layout1(), 6, "24"))), PREP_TIME);    // IHR = 24
    EXPECT_EQ(prepare(*record(put(layout1(), 8, "60"))), PREP_TIME);
    EXPECT_EQ(prepare(*record(put(layout1(), 10, "60"))), PREP_TIME);
    EXPECT_EQ(prepare(*record(put(layout1(), 3, "366"))), PREP_OK);
    // A blank in a digit field is not a digit.
    EXPECT_EQ(prepare(*record(put(layout1(), 6, " 1"))), PREP_TIME);
    // Range-start code outside 0..3: no range start.
    EXPECT_EQ(prepare(*record(put(layout1(), 55, "4"))), PREP_SOUNDER);
}

TEST(Prepare, IsoTime) {
    EXPECT_EQ(iso_time(0, 60, 0, 0, 0), "2000-02-29T00:00:00Z");    // 2000 is a leap year
    EXPECT_EQ(iso_time(0, 366, 23, 59, 59), "2000-12-31T23:59:59Z");
    EXPECT_EQ(iso_time(99, 60, 0, 0, 0), "1999-03-01T00:00:00Z");
    EXPECT_EQ(iso_time(69, 32, 12, 0, 0), "2069-02-01T12:00:00Z");
    EXPECT_EQ(iso_time(70, 1, 0, 0, 0), "1970-01-01T00:00:00Z");
    EXPECT_EQ(iso_time(2004, 1, 0, 0, 0), "2004-01-01T00:00:00Z");
    EXPECT_EQ(iso_time(3, 366, 0, 0, 0), "");                        // no 31 Dec + 1
    EXPECT_EQ(iso_time(3, 0, 0, 0, 0), "");
}

TEST(Prepare, StationName) {
    auto name = [](const std::string& line) {
        zelk::F1<char, 120> s;
        set_line(s, line);
        char n[21];
        station_name(s, n);
        return std::string(n);
    };
    EXPECT_EQ(name("STATION NAME ABC,XYZ"), "ABC                 ");
    EXPECT_EQ(name("IONOSYNTH SYNTHETIC IONOGRAM, NAME SYNTH"), "SYNTH               ");
    EXPECT_EQ(name("NAME ,ABC"), "NO NAME             ");
    EXPECT_EQ(name("NO STATION HERE"), "NO NAME             ");
    EXPECT_EQ(name("NAME ABCDEFGHIJKLMNOPQRSTUVWXYZ"), "ABCDEFGHIJKLMNOPQRST");
    // The name ends at position 114 of the line.
    EXPECT_EQ(name(std::string(105, '.') + "NAME QWERTYUIOP"), "QWER                ");
    // "NAME " must start at 114 or before.
    EXPECT_EQ(name(std::string(114, '.') + "NAME X"), "NO NAME             ");
}

TEST(Prepare, CharacteristicsAndConstants) {
    auto z = record(layout1());
    z->rec.GCONST(1) = 1.35f;
    z->rec.GCONST(2) = 65.0f;
    z->rec.GCONST(3) = 40.0f;
    z->rec.GCONST(4) = 255.0f;
    z->rec.GCONST(5) = 57.9f;
    auto& S = z->rec.SCALED;
    S(1) = 9.02f; S(2) = 1000.0f; S(3) = 1.5f; S(7) = 3.15f; S(8) = 1.5f; S(9) = 3.12f;
    S(11) = 185.0f; S(13) = 95.0f; S(15) = 110.0f; S(16) = 20.0f; S(28) = 3.0f; S(31) = 4.5f;
    S(32) = 280.0f; S(35) = 8.8f; S(36) = 7.0f; S(41) = 100.0f;
    ASSERT_EQ(prepare(*z), PREP_OK);
    const auto& inv = z->inv;
    EXPECT_FLOAT_EQ(inv.FOF2, 9.02f);
    EXPECT_FLOAT_EQ(inv.FOF1, 9999.0f);   // above 999: not scaled
    EXPECT_FLOAT_EQ(inv.FMINF, 3.15f);
    EXPECT_FLOAT_EQ(inv.FMINE, 1.5f);
    EXPECT_FLOAT_EQ(inv.FOE, 3.12f);
    EXPECT_FLOAT_EQ(inv.HPF, 185.0f);
    EXPECT_FLOAT_EQ(inv.HPE, 95.0f);
    EXPECT_FLOAT_EQ(inv.ZME, 110.0f);
    EXPECT_FLOAT_EQ(inv.YE, 20.0f);
    EXPECT_FLOAT_EQ(inv.CHARIN(3), 1.5f);
    EXPECT_FLOAT_EQ(inv.REALIN(43), 3.0f);
    EXPECT_FLOAT_EQ(inv.REALIN(44), 4.5f);
    EXPECT_FLOAT_EQ(z->mod.FOEPRE, 3.0f);
    EXPECT_FLOAT_EQ(z->mod.FOF1PRE, 4.5f);
    EXPECT_FLOAT_EQ(inv.FH2, 0.675f);
    EXPECT_NEAR(inv.DIP, 1.1344640f, 1e-6f);
    EXPECT_FLOAT_EQ(inv.REALIN(1), 40.0f);
    EXPECT_FLOAT_EQ(inv.LOCATION(2), 255.0f);
    EXPECT_EQ(z->mod.ISSN, 57);              // truncated, not rounded
    EXPECT_FLOAT_EQ(inv.HMISS, 9999.0f);
    EXPECT_EQ(inv.IQUALE(4), 0);          // no F1 layer scaled
    EXPECT_EQ(inv.IQUALE(1), 2);          // no E trace
    // Line indices: int((v + 0.0005) / 0.1); foF1 not scaled.
    EXPECT_EQ(inv.IFOM, 90);
    EXPECT_EQ(inv.IFOE, 31);
    EXPECT_EQ(inv.MINFE, 15);
    EXPECT_EQ(inv.MINFF, 31);
    EXPECT_EQ(inv.IFOF1, 9999);
    // Index element 4 = 31: the results of an earlier analysis are not taken.
    EXPECT_FLOAT_EQ(inv.ZMF2, 0.0f);
    EXPECT_FLOAT_EQ(z->bot.B0, 9999.0f);

    // With 43 characteristics they are.
    z->rec.IDX(4) = 43;
    ASSERT_EQ(prepare(*z), PREP_OK);
    EXPECT_FLOAT_EQ(z->inv.ZMF2, 280.0f);
    EXPECT_FLOAT_EQ(z->inv.CHARIN(36), 7.0f);
    EXPECT_FLOAT_EQ(z->mod.FOF2PRE, 8.8f);
    EXPECT_FLOAT_EQ(z->bot.B0, 100.0f);

    // Limits of the line indices: foE of 10 and foF2 of 0 are not scaled.
    z = record(layout1());
    z->rec.SCALED(9) = 10.0f;
    z->rec.SCALED(1) = 0.0f;
    z->rec.SCALED(2) = 4.5f;
    ASSERT_EQ(prepare(*z), PREP_OK);
    EXPECT_EQ(z->inv.IFOE, 9999);
    EXPECT_EQ(z->inv.IFOM, 9999);
    EXPECT_EQ(z->inv.IFOF1, 45);
    EXPECT_EQ(z->inv.IQUALE(4), 1);
    // A layout before version 4 marks missing heights with 999.
    z->rec.IDX(80) = 3;
    ASSERT_EQ(prepare(*z), PREP_OK);
    EXPECT_FLOAT_EQ(z->inv.HMISS, 999.0f);
}

TEST(Prepare, TracesOnFrequencyLines) {
    auto z = record(layout1());   // 0.1 MHz step, 5 km bins from 60 km (BASEHT 55)
    auto& r = z->rec;
    r.SCALED(1) = 5.0f;
    r.IDX(7) = 5;
    const float h[6] = {0, 250.0f, 240.0f, 245.0f, 9999.0f, 300.0f};
    for (int i = 1; i <= 5; ++i) r.VHOF2(i) = h[i];
    r.SCALED(9) = 2.0f;
    r.IDX(17) = 2;
    r.VHOE(1) = 100.0f;
    r.VHOE(2) = 120.0f;
    ASSERT_EQ(prepare(*z), PREP_OK);
    const auto& inv = z->inv;
    // The five F2 points sit on lines 46 to 50, the last on the line of foF2.
    for (int i = 1; i <= 5; ++i) {
        EXPECT_FLOAT_EQ(inv.TRACEL(45 + i, 2), h[i]) << i;
        EXPECT_EQ(inv.ITRCF(45 + i, 2), static_cast<int16_t>((h[i] - 55.0f + 0.0005f) / 5.0f)) << i;
    }
    EXPECT_FLOAT_EQ(inv.TRACEL(45, 2), 9999.0f);
    EXPECT_FLOAT_EQ(inv.TRACEL(51, 2), 9999.0f);
    EXPECT_EQ(inv.ITRCF(47, 2), 37);
    // Lowest F2 height (240 km on line 47) with no F1 layer: MINHF(1).
    EXPECT_EQ(inv.MINHF(1), 47);
    EXPECT_FLOAT_EQ(inv.VHMIN(1), 240.0f);
    // The E trace ends on the line of foE = 2.0.
    EXPECT_FLOAT_EQ(inv.TRACEL(19, 3), 100.0f);
    EXPECT_FLOAT_EQ(inv.TRACEL(20, 3), 120.0f);
    EXPECT_EQ(inv.IQUALE(1), 1);
    EXPECT_EQ(inv.NF, 5);
    EXPECT_EQ(inv.NE, 2);

    // An F2 trace with foF2 above 99 ends the file.
    z = record(layout1());
    z->rec.IDX(7) = 3;
    z->rec.SCALED(1) = 99.5f;
    EXPECT_EQ(prepare(*z), PREP_FOF2);
}

TEST(Prepare, OldLayoutHeightsAndMinima) {
    auto z = record(layout1());
    auto& r = z->rec;
    r.IDX(80) = 1;
    r.SCALED(1) = 6.0f;
    r.SCALED(2) = 4.0f;
    r.IDX(7) = 3;
    r.IVHOF2(1) = 260; r.IVHOF2(2) = 999; r.IVHOF2(3) = 300;
    r.IDX(12) = 2;
    r.IVHOF1(1) = 210; r.IVHOF1(2) = 230;
    ASSERT_EQ(prepare(*z), PREP_OK);
    // 999 means no echo: replaced by 9999 in the record and in the table.
    EXPECT_EQ(r.IVHOF2(2), 9999);
    EXPECT_FLOAT_EQ(z->inv.TRACEL(59, 2), 9999.0f);
    EXPECT_FLOAT_EQ(z->inv.TRACEL(58, 2), 260.0f);
    EXPECT_FLOAT_EQ(z->inv.TRACEL(40, 2), 230.0f);
    EXPECT_FLOAT_EQ(z->inv.TRACEL(39, 2), 210.0f);
    // With an F1 layer scaled, the F2 minimum goes to MINHF(2), the F1 one to MINHF(1).
    EXPECT_EQ(z->inv.MINHF(2), 58);
    EXPECT_EQ(z->inv.MINHF(1), 39);
}

TEST(Prepare, UnplaceableTracesAndAuroralGroups) {
    auto z = record(put(layout1(), 35, "7"));   // 0.005 MHz step
    auto& r = z->rec;
    // An F1 trace without a scaled foF1, and an F2 trace beyond the last line (14 MHz at
    // 0.005 MHz is line 2800): nothing can be placed, and nothing is written out of range.
    r.SCALED(1) = 14.0f;
    r.IDX(7) = 4;
    for (int i = 1; i <= 4; ++i) r.VHOF2(i) = 300.0f;
    r.IDX(12) = 3;
    for (int i = 1; i <= 3; ++i) r.VHOF1(i) = 200.0f;
    r.IDX(47) = 2;
    r.IDX(50) = 2;
    r.VHOEA(1) = 105.0f; r.VHOEA(2) = 110.0f;
    r.FQOEA(1) = 1.5f; r.FQOEA(2) = 1.8f;
    r.AUXHT(3) = 55.0f;
    ASSERT_EQ(prepare(*z), PREP_OK);
    EXPECT_EQ(z->inv.IFOM, 2800);
    for (int k = 1; k <= zelk::inversion::MAXLIN; ++k) ASSERT_FLOAT_EQ(z->inv.TRACEL(k, 2), 9999.0f) << k;
    EXPECT_FLOAT_EQ(r.AUXHT(1), 105.0f);
    EXPECT_FLOAT_EQ(r.AUXFN(2), 1.8f);
    EXPECT_FLOAT_EQ(r.AUXHT(3), 0.0f);

    // Counts of groups 47 and 50 that differ leave the groups cleared.
    r.IDX(50) = 1;
    ASSERT_EQ(prepare(*z), PREP_OK);
    EXPECT_FLOAT_EQ(r.AUXHT(1), 0.0f);
}

}  // namespace

namespace {

// Records of random content (any stamp characters, counts up to and beyond the group
// capacities, characteristics including NaN, infinities and huge values) must be prepared
// or refused without a write outside any table; the bounds-checked arrays abort otherwise.
TEST(Prepare, ArbitraryRecordsStayInBounds) {
    uint64_t state = 0x9E3779B97F4A7C15ull;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    const float specials[] = {0.0f, -1.0f, 1e30f, -1e30f, 9999.0f, 999.0f, 99.99f, 50.0f,
                              std::numeric_limits<float>::quiet_NaN(),
                              std::numeric_limits<float>::infinity(), 0.0005f, 5.0f};
    auto any_float = [&] {
        const uint64_t r = next();
        if (r % 3 == 0) return specials[(r >> 8) % (sizeof specials / sizeof specials[0])];
        return static_cast<float>(static_cast<int64_t>(r >> 20) % 200000) / 1000.0f;
    };
    const std::string good = layout1();
    int prepared = 0;
    for (int n = 0; n < 3000; ++n) {
        std::string stamp = good;
        if (n % 4 == 1) stamp = layout2("0100", "0050", '2');
        if (n % 4 == 2) stamp = "FE" + std::string(17, '1') + good.substr(0, 58);
        // Change a few characters of the stamp to anything.
        for (int k = 0; k < static_cast<int>(next() % 6); ++k) {
            stamp[next() % stamp.size()] = static_cast<char>(next() % 256);
        }
        auto z = record(stamp);
        auto& r = z->rec;
        r.IDX(80) = static_cast<int32_t>(next() % 7);
        r.IDX(4) = static_cast<int32_t>(next() % 60);
        for (int g : {7, 12, 17, 47, 50}) r.IDX(g) = static_cast<int32_t>(next() % 450) - 20;
        for (int k = 1; k <= 45; ++k) r.SCALED(k) = any_float();
        // Half the records with arbitrary station constants, which must be refused when
        // impossible; the others with possible ones, to reach the trace placement.
        for (int k = 1; k <= 5; ++k) r.GCONST(k) = n % 2 == 0 ? any_float() : static_cast<float>(k);
        for (int i = 1; i <= 400; ++i) {
            r.VHOF2(i) = any_float();
            r.IVHOF2(i) = static_cast<int32_t>(next() % 2000) - 500;
        }
        for (int i = 1; i <= 150; ++i) {
            r.VHOF1(i) = r.VHOE(i) = r.VHOEA(i) = any_float();
            r.IVHOF1(i) = r.IVHOE(i) = static_cast<int32_t>(next() % 2000);
        }
        const std::string fault = station_fault(r);
        const int16_t status = prepare(*z);
        if (!fault.empty()) {
            EXPECT_NE(status, PREP_OK) << fault;
        }
        if (status == PREP_OK) {
            ++prepared;
            EXPECT_GT(z->inv.FQINCR, -100.0f);
            for (int16_t line : {z->inv.IFOE, z->inv.MINFE, z->inv.IFOM, z->inv.IFOF1, z->inv.MINFF}) {
                EXPECT_LE(line, 9999);
            }
        }
    }
    // The mix reaches the trace placement often enough to mean something.
    EXPECT_GT(prepared, 300);
}

// Station constants no station can have are refused before the models see them (a longitude
// of 3.4E+38 gave NaN in the model foF2); the limits themselves are possible.
TEST(Prepare, ImpossibleStationConstantsAreRefused) {
    auto z = record(layout1());
    auto& g = z->rec.GCONST;
    g(1) = 1.35f; g(2) = 65.0f; g(3) = 40.0f; g(4) = 255.0f; g(5) = 100.0f;
    EXPECT_EQ(station_fault(z->rec), "");
    g(1) = 0.0f; g(2) = -90.0f; g(3) = 90.0f; g(4) = -360.0f; g(5) = 1000.0f;
    EXPECT_EQ(station_fault(z->rec), "");
    const struct {
        int k;
        float v;
        const char* text;
    } cases[] = {
        {4, 3.4e38f, "longitude 3.4e+38 outside -360 to 360"},
        {3, -90.5f, "latitude -90.5 outside -90 to 90"},
        {2, std::numeric_limits<float>::quiet_NaN(), "dip nan outside -90 to 90"},
        {1, -0.1f, "gyrofrequency -0.1 outside 0 to 5"},
        {5, std::numeric_limits<float>::infinity(), "sunspot number inf outside 0 to 1000"},
    };
    for (const auto& c : cases) {
        auto y = record(layout1());
        y->rec.GCONST = z->rec.GCONST;
        y->rec.GCONST(c.k) = c.v;
        EXPECT_EQ(station_fault(y->rec), c.text);
        EXPECT_EQ(prepare(*y), PREP_STATION) << c.text;
    }
}

}  // namespace
