// The record update that puts the inversion results into the Ionogram record.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "pipeline/zelk.hpp"
#include "zelk_calls.hpp"
#include "pipeline/update.hpp"

namespace {

using zelk::Zelk;
using zelk::pipeline::update_record;

void put_text(zelk::F1<char, 120>& line, const std::string& s, int pos = 1) {
    for (std::size_t i = 0; i < s.size(); ++i) line(pos + static_cast<int>(i)) = s[i];
}

std::string text(const zelk::F1<char, 120>& line, int from, int to) {
    std::string s;
    for (int p = from; p <= to; ++p) s += line(p);
    return s;
}

std::string trimmed(const zelk::F1<char, 120>& line) {
    std::string s = text(line, 1, 120);
    return s.substr(0, s.find_last_not_of(' ') + 1);
}

// A record from a layout-1 input with a 60-character stamp, after an inversion that solved
// E, F1 and F2 (ISTAT 2) and arranged the results for output: FC(2) holds foF1, FC(4) foE.
std::unique_ptr<Zelk> inverted_record() {
    auto z = std::make_unique<Zelk>();
    auto& rec = z->rec;
    auto& inv = z->inv;
    auto& prod = z->prod;
    rec.IDX(1) = 16;
    rec.IDX(2) = 1;
    rec.IDX(3) = 60;
    rec.IDX(4) = 16;
    rec.IDX(5) = 60;
    rec.IDX(80) = 1;
    put_text(rec.TSTAMP, "041231020300123456789012345678901234567890123456789012345ZZY");
    put_text(rec.SYSDSC1, "STATION XYZ");

    z->mod.IYEAR = 2004; inv.IDAY = 123; z->mod.IMON = 5; z->mod.IDOM = 2;
    inv.IHR = 10; inv.MINU = 20; inv.ISEC = 30;
    inv.FQINCR = 0.05f;
    inv.FOF2 = 7.234f; inv.FOF1 = 4.45f; inv.FOE = 3.1f;
    inv.FMINF = 2.0f; inv.FMINE = 1.5f;
    inv.HPF = 210.0f; inv.HPF2 = 250.0f; inv.HPE = 100.0f; inv.HPES = 9999.0f;
    inv.ZME = 108.5f; inv.YE = 21.0f;
    inv.ZMF1 = 190.25f; inv.ZMF2 = 285.75f; inv.HHALF = 240.5f;
    inv.YF1 = 45.0f; inv.YF2 = 80.0f;
    z->mod.ISSN = 57;
    for (int k = 1; k <= 43; ++k) inv.CHARIN(k) = 100.0f + static_cast<float>(k);
    // The values the record brought in; the model values of the inversion differ.
    inv.REALIN(43) = 9999.0f; inv.REALIN(44) = 9999.0f;
    z->mod.FOEPRE = 3.05f; z->mod.FOF1PRE = 4.4f;
    inv.IQUALE(1) = 1; inv.IQUALE(2) = 2; inv.IQUALE(4) = 1; inv.IQUALE(10) = 3;
    inv.FC(1) = 0.2f; inv.FC(2) = 4.45f; inv.FC(3) = 4.45f; inv.FC(4) = 3.1f;
    inv.ER(1) = 1.5f; inv.ER(2) = 2.5f; inv.ER(3) = 3.5f;
    for (int j = 1; j <= 3; ++j) inv.A_E(j) = -10.0f * static_cast<float>(j);
    for (int j = 1; j <= 5; ++j) inv.A_F1(j) = -20.0f * static_cast<float>(j);
    for (int j = 1; j <= 5; ++j) inv.A_F2(j) = -30.0f * static_cast<float>(j);
    inv.VWOUT = 12.5f; inv.VDOUT = 0.75f;
    inv.EAFIT(7) = 0.0f;
    z->mod.FOF2PRE = 6.875f;
    prod.ITEC = 12.3f; prod.H = 45.6f;
    z->bot.B0 = 100.25f; z->bot.B1 = 2.5f; z->bot.D1 = 0.5f;
    prod.NPROW = 10;
    for (int i = 1; i <= 10; ++i) {
        prod.PRFHT(i) = 100.0f + 10.0f * static_cast<float>(i);
        prod.PRFFN(i) = 0.5f * static_cast<float>(i);
    }
    rec.SCALED(36) = 36.5f;
    rec.EDITCH(50) = 1; rec.EDITCH(51) = 2; rec.EDITCH(52) = 3;
    rec.EDITCH(53) = 4; rec.EDITCH(54) = 5; rec.EDITCH(55) = 6;
    return z;
}

TEST(UpdateRecord, InvertedRecordCarriesItsResults) {
    auto z = inverted_record();
    update_record(*z);
    const auto& rec = z->rec;
    const auto& S = rec.SCALED;

    EXPECT_EQ(S(1), 7.234f);
    EXPECT_EQ(S(2), 4.45f);
    EXPECT_EQ(S(3), 103.0f);
    EXPECT_EQ(S(9), 3.1f);
    EXPECT_EQ(S(11), 210.0f);
    EXPECT_EQ(S(14), 9999.0f);
    EXPECT_EQ(S(15), 108.5f);
    EXPECT_EQ(S(25), 125.0f);
    // foF2 7.234 MHz lies 0.034 MHz above its 0.05 MHz frequency line (line 144 at 7.2).
    EXPECT_NEAR(S(27), 0.034f, 2e-6);
    // The model foE and foF1, as the model foF2 in 35 (they carried the input values).
    EXPECT_EQ(S(28), 3.05f);
    EXPECT_EQ(S(31), 4.4f);
    EXPECT_EQ(S(32), 285.75f);
    EXPECT_EQ(S(33), 190.25f);
    EXPECT_EQ(S(34), 240.5f);
    EXPECT_EQ(S(35), 6.875f);
    EXPECT_EQ(S(36), 36.5f);   // carried through as read
    EXPECT_EQ(S(37), 80.0f);
    EXPECT_EQ(S(38), 45.0f);
    EXPECT_EQ(S(39), 12.3f);
    EXPECT_EQ(S(43), 0.5f);
    EXPECT_EQ(rec.GCONST(5), 57.0f);
    EXPECT_EQ(rec.IDX(4), 43);

    // F2 description: start (foF1), foF2, peak, residual, five coefficients, HHALF.
    ASSERT_EQ(rec.IDX(37), 10);
    EXPECT_EQ(rec.PCOEF2(1), 4.45f);
    EXPECT_EQ(rec.PCOEF2(2), 7.234f);
    EXPECT_EQ(rec.PCOEF2(3), 285.75f);
    EXPECT_EQ(rec.PCOEF2(4), 3.5f);
    EXPECT_EQ(rec.PCOEF2(5), -30.0f);
    EXPECT_EQ(rec.PCOEF2(9), -150.0f);
    EXPECT_EQ(rec.PCOEF2(10), 240.5f);
    // F1 description: foE, foF1, peak, residual, five coefficients.
    ASSERT_EQ(rec.IDX(38), 9);
    EXPECT_EQ(rec.PCOEF1(1), 3.1f);
    EXPECT_EQ(rec.PCOEF1(2), 4.45f);
    EXPECT_EQ(rec.PCOEF1(3), 190.25f);
    EXPECT_EQ(rec.PCOEF1(9), -100.0f);
    // E description: start, foE, peak, residual, three coefficients.
    ASSERT_EQ(rec.IDX(39), 7);
    EXPECT_EQ(rec.PCOEFE(2), 3.1f);
    EXPECT_EQ(rec.PCOEFE(7), -30.0f);
    ASSERT_EQ(rec.IDX(42), 2);
    EXPECT_EQ(rec.VALLEY(1), 12.5f);
    EXPECT_EQ(rec.VALLEY(2), 0.75f);
    EXPECT_EQ(rec.IDX(57), 0);
    EXPECT_EQ(rec.IDX(40), 0);

    // Ten N(h) rows give the counts of groups 51 to 53 and the rows themselves.
    EXPECT_EQ(rec.IDX(51), 10);
    EXPECT_EQ(rec.IDX(53), 10);
    EXPECT_EQ(rec.PRFHT(10), 200.0f);
    EXPECT_EQ(rec.PRFFN(3), 1.5f);

    // Layout-1 input: the profile edit flags move out of the characteristics' edit flags.
    EXPECT_EQ(rec.EDITFL(1), 1);
    EXPECT_EQ(rec.EDITFL(4), 4 + 1);
    EXPECT_EQ(rec.EDITFL(5), 5);
    EXPECT_EQ(rec.EDITCH(50), 0);
    EXPECT_EQ(rec.EDITCH(54), 0);
    EXPECT_EQ(rec.EDITCH(55), 6);
    EXPECT_EQ(rec.IDX(56), 120);

    EXPECT_EQ(rec.AFLAGS(1), 1);
    EXPECT_EQ(rec.AFLAGS(2), 2);
    EXPECT_EQ(rec.AFLAGS(10), 3);
    EXPECT_EQ(rec.AFLAGS(20), 0);
    EXPECT_EQ(rec.IDX(80), 5);
}

// The edit count counts the updates of one record: an input without profile edit flags
// starts from 0 (the array still holds the previous record's flags, which used to grow to
// 10 after ten records and be written as an asterisk that no reader accepts), and the
// single digit stops at 9.
TEST(UpdateRecord, EditCountDoesNotGrowFromRecordToRecord) {
    auto z = inverted_record();
    z->rec.IDX(80) = 5;
    for (int record = 1; record <= 12; ++record) {
        z->rec.IDX(56) = 0;   // read over by the next record, which has no group 56
        z->rec.IDX(80) = 5;
        update_record(*z);
        EXPECT_EQ(z->rec.EDITFL(4), 1) << "record " << record;
    }
    auto e = inverted_record();   // an input edited nine times already
    e->rec.IDX(80) = 5;
    e->rec.IDX(56) = 120;
    e->rec.EDITFL(4) = 9;
    e->rec.EDITFL(7) = 3;
    update_record(*e);
    EXPECT_EQ(e->rec.EDITFL(4), 9);
    EXPECT_EQ(e->rec.EDITFL(7), 3);

    auto p = inverted_record();   // five flags read; the rest are left from earlier records
    p->rec.IDX(80) = 5;
    p->rec.IDX(56) = 5;
    p->rec.EDITFL(5) = 2;
    p->rec.EDITFL(6) = 7;
    update_record(*p);
    EXPECT_EQ(p->rec.EDITFL(5), 2);
    EXPECT_EQ(p->rec.EDITFL(6), 0);
    EXPECT_EQ(p->rec.IDX(56), 120);
}

TEST(UpdateRecord, FailedInversionLeavesOutTheProfileGroups) {
    auto z = inverted_record();
    z->inv.IQUALE(2) = 12;   // too few F2 points
    z->rec.IDX(37) = 10;     // descriptions of an earlier analysis in the input
    z->rec.IDX(38) = 9;
    z->rec.IDX(42) = 2;
    update_record(*z);
    const auto& rec = z->rec;
    EXPECT_EQ(rec.IDX(37), 0);
    EXPECT_EQ(rec.IDX(38), 0);
    EXPECT_EQ(rec.IDX(42), 0);
    for (int k : {32, 33, 34, 37, 38, 39, 40, 41, 42, 43}) {
        EXPECT_EQ(rec.SCALED(k), 9999.0f) << "characteristic " << k;
    }
    // The E trace was solved: its description stays; so do the other characteristics.
    EXPECT_EQ(rec.IDX(39), 7);
    EXPECT_EQ(rec.SCALED(1), 7.234f);
    EXPECT_EQ(rec.AFLAGS(2), 12);
}

TEST(UpdateRecord, DescriptionsFollowTheStatusAndTheRootChecks) {
    {   // F1 solution with roots: neither the F2 nor the F1 description.
        auto z = inverted_record();
        z->inv.IROOTF1 = 1;
        update_record(*z);
        EXPECT_EQ(z->rec.IDX(37), 0);
        EXPECT_EQ(z->rec.IDX(38), 0);
        EXPECT_EQ(z->rec.IDX(42), 2);
    }
    {   // No F1 layer: F2 description only; FOF1 equal to FOF2 clears 33 and 38.
        auto z = inverted_record();
        z->inv.IQUALE(4) = 0;
        z->inv.FOF1 = z->inv.FOF2;
        update_record(*z);
        EXPECT_EQ(z->rec.IDX(37), 10);
        EXPECT_EQ(z->rec.IDX(38), 0);
        EXPECT_EQ(z->rec.SCALED(33), 9999.0f);
        EXPECT_EQ(z->rec.SCALED(38), 9999.0f);
        EXPECT_EQ(z->rec.SCALED(32), 285.75f);
    }
    {   // An unreasonable E trace is not described.
        auto z = inverted_record();
        z->inv.IQUALE(2) = 7;
        update_record(*z);
        EXPECT_EQ(z->rec.IDX(39), 0);
    }
    {   // Model foE without E trace: described only for an inverted profile, and with FC(2)
        // as its top when the arrangement left FC(4) at 0; foE itself is 9999.0.
        auto z = inverted_record();
        z->inv.IQUALE(1) = 2;
        z->inv.FC(4) = 0.0f;
        update_record(*z);
        EXPECT_EQ(z->rec.IDX(39), 7);
        EXPECT_EQ(z->rec.PCOEFE(2), 4.45f);
        EXPECT_EQ(z->rec.SCALED(9), 9999.0f);
        auto f = inverted_record();
        f->inv.IQUALE(1) = 2;
        f->inv.IQUALE(2) = 18;
        update_record(*f);
        EXPECT_EQ(f->rec.IDX(39), 0);
    }
}

TEST(UpdateRecord, AuroralEDescriptionAndItsTable) {
    auto z = inverted_record();
    auto& inv = z->inv;
    for (int j = 1; j <= 9; ++j) inv.EAFIT(j) = static_cast<float>(j);
    inv.NEAROW = 6;
    update_record(*z);
    const auto& rec = z->rec;
    ASSERT_EQ(rec.IDX(57), 7);
    EXPECT_EQ(rec.VALDSC(1), 0.2f);
    EXPECT_EQ(rec.VALDSC(2), 7.0f);   // critical frequency
    EXPECT_EQ(rec.VALDSC(3), 5.0f);   // peak height
    EXPECT_EQ(rec.VALDSC(4), 6.0f);   // residual
    EXPECT_EQ(rec.VALDSC(5), 1.0f);
    EXPECT_EQ(rec.VALDSC(7), 3.0f);
    EXPECT_EQ(rec.IDX(58), 6);
    EXPECT_EQ(rec.IDX(59), 6);
    EXPECT_EQ(rec.IDX(60), 6);

    auto n = inverted_record();
    n->rec.IDX(57) = 7;
    n->rec.IDX(58) = n->rec.IDX(59) = n->rec.IDX(60) = 4;
    n->inv.NEAROW = 4;   // left from an earlier record: no layer in this one
    update_record(*n);
    for (int g = 57; g <= 60; ++g) EXPECT_EQ(n->rec.IDX(g), 0) << "group " << g;
}

// Two segments: 13 values, each segment from the top of the one below (R0 for the first),
// then the Earth radius.
TEST(UpdateRecord, QuasiParabolicSegments) {
    auto z = inverted_record();
    auto& prod = z->prod;
    prod.NSEG = 2;
    prod.R0 = 6460.0;
    prod.RTOP(1) = 6480.5;
    prod.RTOP(2) = 6670.25;
    for (int i = 1; i <= 2; ++i) {
        prod.QA(i) = -1.0e6 * i;
        prod.QB(i) = 2.0e3 * i;
        prod.QC(i) = -3.0 * i;
        prod.QERR(i) = 0.0125f * static_cast<float>(i);
    }
    update_record(*z);
    const auto& q = z->rec.QPSEGS;
    ASSERT_EQ(z->rec.IDX(40), 13);
    EXPECT_EQ(q(1), 6460.0);
    EXPECT_EQ(q(2), 6480.5);
    EXPECT_EQ(q(3), -1.0e6);
    EXPECT_EQ(q(6), static_cast<double>(0.0125f));
    EXPECT_EQ(q(7), 6480.5);
    EXPECT_EQ(q(8), 6670.25);
    EXPECT_EQ(q(11), -6.0);
    EXPECT_EQ(q(13), 6370.0);

    auto n = inverted_record();   // no fit in this record
    n->rec.IDX(40) = 13;
    update_record(*n);
    EXPECT_EQ(n->rec.IDX(40), 0);
}

TEST(UpdateRecord, SixtyCharacterStampGetsThePrefix) {
    auto z = inverted_record();
    const std::string old = text(z->rec.TSTAMP, 1, 58);
    update_record(*z);
    EXPECT_EQ(z->rec.IDX(3), 77);
    EXPECT_EQ(text(z->rec.TSTAMP, 1, 19), "FE2004123050210" "2030");
    EXPECT_EQ(text(z->rec.TSTAMP, 20, 77), old);
    EXPECT_EQ(text(z->rec.TSTAMP, 78, 78), " ");

    auto c = inverted_record();   // converted input
    c->run.FMTVXO = 'N';
    update_record(*c);
    EXPECT_EQ(text(c->rec.TSTAMP, 1, 2), "AA");
    EXPECT_EQ(text(c->rec.TSTAMP, 20, 77), old);
}

TEST(UpdateRecord, PrefixedStampsAreKept) {
    for (const char* head : {"FF", "FE", "AA"}) {
        auto z = inverted_record();
        z->rec.IDX(3) = 77;
        put_text(z->rec.TSTAMP, std::string(head) + "2004123050210203012345");
        const std::string before = text(z->rec.TSTAMP, 1, 120);
        update_record(*z);
        EXPECT_EQ(text(z->rec.TSTAMP, 1, 120), before) << head;
        EXPECT_EQ(z->rec.IDX(3), 77) << head;
    }
}

TEST(UpdateRecord, PrefixWritesOutOfRangeNumbersAsAsterisks) {
    zelk::F1<char, 120> t;
    t.fill(' ');
    zelk::pipeline::PREF4KMW('Y', t, 12345, 7, 1, 9, 0, 5, -1);
    EXPECT_EQ(text(t, 1, 19), "FE****007010900" "05**");
}

TEST(UpdateRecord, VersionMarkInTheSystemDescription) {
    auto z = inverted_record();
    update_record(*z);
    EXPECT_EQ(trimmed(z->rec.SYSDSC1), "STATION XYZ, ZK 4.31");

    auto r = inverted_record();
    r->rec.SYSDSC1.fill(' ');
    put_text(r->rec.SYSDSC1, "STATION XYZ, ZK 4.30 EDITED");
    update_record(*r);
    EXPECT_EQ(trimmed(r->rec.SYSDSC1), "STATION XYZ, ZK 4.31 EDITED");

    auto b = inverted_record();   // no system description at all
    b->rec.SYSDSC1.fill(' ');
    b->rec.IDX(2) = 0;
    update_record(*b);
    EXPECT_EQ(trimmed(b->rec.SYSDSC1), "ZK 4.31");
    EXPECT_EQ(b->rec.IDX(2), 1);

    auto f = inverted_record();   // a full line: the mark is cut at position 120
    f->rec.SYSDSC1.fill('X');
    f->rec.SYSDSC1(120) = ' ';
    f->rec.SYSDSC1(119) = ' ';
    f->rec.SYSDSC1(118) = ' ';
    update_record(*f);
    EXPECT_EQ(text(f->rec.SYSDSC1, 116, 120), "XX, Z");
}

}  // namespace
