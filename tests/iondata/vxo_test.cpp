// READVXO and WRITVXO: round trips against files written by the compiler, the layout rules
// that change the flow, and a corpus of bad inputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "iondata/vxo.hpp"

using namespace zelk::iondata;

namespace {

std::string data_path(const std::string& name) { return std::string(ZELK_TEST_DATA) + "/" + name; }

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// One call of the reader with the statuses it leaves.
struct Read {
    int32_t IEOF = 0;
    int16_t LREAD = 0;
    int16_t LBAD = 0;
};

Read read_next(LineReader& in, IonogramRecord& rec) {
    Read r;
    READVXO(r.IEOF, in, rec, r.LREAD, r.LBAD);
    return r;
}

// Reads every record of a text and writes the whole ones back; counts the calls by outcome.
struct Pass {
    std::string written;
    int whole = 0, bad = 0, calls = 0;
    Read last;
};

Pass read_and_write(const std::string& text) {
    auto rec = std::make_unique<IonogramRecord>();
    LineReader in(text);
    LineWriter out;
    Pass p;
    for (p.calls = 1; p.calls <= 100000; ++p.calls) {
        p.last = read_next(in, *rec);
        if (p.last.IEOF == -1) break;
        if (p.last.LBAD == 1) {
            ++p.bad;
            continue;
        }
        ++p.whole;
        WRITVXO(out, *rec);
    }
    p.written = out.text();
    return p;
}

// A layout-5 record with the given index elements (element -> value) and group lines.
std::string record5(const std::vector<std::pair<int, int>>& elements, const std::string& groups) {
    std::vector<int32_t> idx(80, 0);
    idx[79] = 5;
    for (auto [e, v] : elements) idx[static_cast<size_t>(e - 1)] = v;
    std::string out;
    write_group(out, vxo_formats(5).index, idx.data(), 80);
    return out + groups;
}

}  // namespace

// Every group of layout 5, three records (all groups near capacity; partial counts with two
// text lines, empty 52/53 and a group 60 longer than 59; group 1 alone with 52/53 counts
// but no 51, and index elements 61-79 set). The output equals the compiler's reference
// byte for byte; it differs from the input only in the recomputed densities.
TEST(VxoRoundTrip, Layout5IsWrittenBackByteForByte) {
    const std::string input = slurp(data_path("full5.VXO"));
    const std::string expected = slurp(data_path("full5_out.VXO"));
    ASSERT_FALSE(input.empty());
    const Pass p = read_and_write(input);
    EXPECT_EQ(p.whole, 3);
    EXPECT_EQ(p.bad, 0);
    EXPECT_EQ(p.written, expected);
    EXPECT_EQ(p.written.size(), input.size());
    EXPECT_NE(p.written, input);
}

TEST(VxoRoundTrip, SynthesisedIonogramsAreWrittenBackUnchanged) {
    for (const char* name : {"io-synth-x.VXO", "io-synth-night.VXO"}) {
        const std::string input = slurp(data_path(name));
        const Pass p = read_and_write(input);
        EXPECT_GT(p.whole, 1) << name;
        EXPECT_EQ(p.written, input) << name;
    }
}

// A layout-1 and a layout-0 record (integer heights with 999, 17 heights on one partly
// blank line, true heights, layout-0 coefficients and group 40) come out in layout 5 with
// every value kept.
TEST(VxoRoundTrip, OldLayoutsComeOutInLayout5) {
    const Pass p = read_and_write(slurp(data_path("old01.VXO")));
    EXPECT_EQ(p.whole, 2);
    EXPECT_EQ(p.written, slurp(data_path("old01_out.VXO")));
}

TEST(VxoReader, OldLayoutHeightsKeepBothForms) {
    auto rec = std::make_unique<IonogramRecord>();
    const std::string text = slurp(data_path("old01.VXO"));
    LineReader in(text);
    const Read r = read_next(in, *rec);
    ASSERT_EQ(r.LBAD, 0);
    EXPECT_EQ(r.LREAD, 1);
    EXPECT_EQ(r.IEOF, 0);
    ASSERT_EQ(rec->IDX(80), 1);
    ASSERT_EQ(rec->IDX(7), 17);
    int no_echo = 0;
    for (int i = 1; i <= 17; ++i) {
        if (rec->IVHOF2(i) == 999) {
            ++no_echo;
            EXPECT_EQ(rec->VHOF2(i), 9999.0f);
        } else {
            EXPECT_EQ(rec->VHOF2(i), static_cast<float>(rec->IVHOF2(i)));
        }
    }
    EXPECT_EQ(no_echo, 3);   // every fifth height of the reference record
    // True heights: integer form only in the old layouts.
    EXPECT_EQ(rec->IDX(8), 17);
    EXPECT_GE(rec->ITHOF2(1), 80);
    EXPECT_EQ(rec->THOF2(1), 0.0f);
    EXPECT_EQ(std::string(rec->SYSDSC1.data() + 1, 30), "OLD LAYOUT STATION, NAME OLD1 ");
}

TEST(VxoReader, NewLayoutHeightsTruncateToTheIntegerForm) {
    const std::string text = record5({{1, 1}, {7, 3}},
                                     "  1.350\n"
                                     " 254.750 254.999-100.5009999.000\n");
    auto rec = std::make_unique<IonogramRecord>();
    LineReader in(text);
    const Read r = read_next(in, *rec);
    ASSERT_EQ(r.LBAD, 0);
    EXPECT_EQ(rec->VHOF2(1), 254.75f);
    EXPECT_EQ(rec->IVHOF2(1), 254);
    EXPECT_EQ(rec->IVHOF2(2), 254);
    EXPECT_EQ(rec->IVHOF2(3), -100);
}

// Before group 4 the whole array is marked not scaled when an entry left from the previous
// record is 0 or negative or 999.0; entries beyond the new count keep what they hold.
TEST(VxoReader, ScaledCharacteristicsAreResetAfterAnUnusableEntry) {
    const std::string first = record5({{1, 1}, {4, 3}}, "  1.350\n   5.000 -12.000   3.000\n");
    const std::string second = record5({{1, 1}, {4, 2}}, "  1.350\n   6.000   7.000\n");
    const std::string third = record5({{1, 1}, {4, 1}}, "  1.350\n   8.000\n");
    auto rec = std::make_unique<IonogramRecord>();
    rec->SCALED.fill(4.0f);
    const std::string text = first + second + third;
    LineReader in(text);
    ASSERT_EQ(read_next(in, *rec).LBAD, 0);
    // The 4.0 left everywhere by the driver is usable: read over, nothing reset.
    EXPECT_EQ(rec->SCALED(2), -12.0f);
    EXPECT_EQ(rec->SCALED(4), 4.0f);
    ASSERT_EQ(read_next(in, *rec).LBAD, 0);
    EXPECT_EQ(rec->SCALED(1), 6.0f);
    EXPECT_EQ(rec->SCALED(2), 7.0f);
    EXPECT_EQ(rec->SCALED(3), 9999.0f);
    EXPECT_EQ(rec->SCALED(120), 9999.0f);
    ASSERT_EQ(read_next(in, *rec).LBAD, 0);
    EXPECT_EQ(rec->SCALED(1), 8.0f);
    EXPECT_EQ(rec->SCALED(2), 7.0f);   // no reset: every entry was usable
}

TEST(VxoReader, GroupTwoCountsLinesAndProfileNeedsGroup51) {
    auto rec = std::make_unique<IonogramRecord>();
    const std::string text = slurp(data_path("full5.VXO"));
    LineReader in(text);
    ASSERT_EQ(read_next(in, *rec).LBAD, 0);
    ASSERT_EQ(read_next(in, *rec).LBAD, 0);
    EXPECT_EQ(rec->IDX(2), 2);
    EXPECT_EQ(std::string(rec->SYSDSC2.data() + 1, 25), "OPERATOR MESSAGE LINE TWO");
    // Record 3: 52 and 53 non-zero without 51, so no profile lines; it ends the file.
    const Read r = read_next(in, *rec);
    EXPECT_EQ(r.LBAD, 0);
    EXPECT_EQ(r.LREAD, 1);
    EXPECT_EQ(rec->IDX(52), 12);
    EXPECT_EQ(rec->IDX(51), 0);
    const Read end = read_next(in, *rec);
    EXPECT_EQ(end.IEOF, -1);
    EXPECT_EQ(end.LBAD, 1);
}

TEST(VxoWriter, TrueHeightsAreDroppedAndCountsKeptWithinTheArrays) {
    const std::string text = record5({{1, 1}, {7, 2}, {8, 2}, {9, 2}},
                                     "  1.350\n"
                                     " 200.000 210.000\n"
                                     " 150.000 160.000\n"
                                     " 12 13\n");
    auto rec = std::make_unique<IonogramRecord>();
    LineReader in(text);
    ASSERT_EQ(read_next(in, *rec).LBAD, 0);
    EXPECT_EQ(rec->THOF2(2), 160.0f);
    LineWriter out;
    WRITVXO(out, *rec);
    const std::string expected = record5({{1, 1}, {7, 2}, {9, 2}},
                                         "  1.350\n"
                                         " 200.000 210.000\n"
                                         " 12 13\n");
    EXPECT_EQ(out.text(), expected);
    EXPECT_EQ(rec->IDX(8), 0);
    EXPECT_EQ(rec->THOF2(1), 0.0f);
    EXPECT_EQ(rec->ITHOF2(1), 0);

    // A count beyond an array is cut to its capacity, a negative one to 0, in the index too.
    rec->IDX(7) = 100000;
    rec->IDX(9) = -3;
    LineWriter out2;
    WRITVXO(out2, *rec);
    EXPECT_EQ(rec->IDX(7), 400);
    EXPECT_EQ(rec->IDX(9), 0);
    const Pass back = read_and_write(out2.text());
    EXPECT_EQ(back.whole, 1);
    EXPECT_EQ(back.written, out2.text());
}

TEST(VxoWriter, DensitiesAreRecomputedFromThePlasmaFrequencies) {
    auto rec = std::make_unique<IonogramRecord>();
    rec->IDX(1) = 1;
    rec->IDX(51) = rec->IDX(52) = rec->IDX(53) = 2;
    rec->PRFHT(1) = 100.0f;
    rec->PRFHT(2) = 150.0f;
    rec->PRFFN(1) = 1.0f;
    rec->PRFFN(2) = 3.0f;
    LineWriter out;
    WRITVXO(out, *rec);
    const std::string& t = out.text();
    EXPECT_NE(t.find("\n 100.000 150.000\n   1.000   3.000\n0.124E+50.111E+6\n"), std::string::npos) << t;
}

// Inputs that must neither crash nor hang the reader, with the statuses they give.
TEST(VxoBadInput, CorpusGivesTheDocumentedStatuses) {
    struct Case {
        const char* file;
        int whole, bad;     // whole records read, calls refused with LBAD = 1 before the end
        int16_t last_lbad;  // LBAD of the call that ends the file
    };
    const Case cases[] = {
        {"empty.VXO", 0, 0, 1},         // end of file before an index
        {"text-first.VXO", 1, 0, 1},    // the text line is skipped
        {"index17.VXO", 1, 1, 1},       // element 1 = 17 refused, the next record read
        {"overcap.VXO", 1, 1, 1},       // 401 F2 heights: above the capacity of 400
        {"negative.VXO", 1, 1, 1},      // a negative count
        {"letter.VXO", 1, 1, 1},        // a letter in a characteristic
        {"cut.VXO", 0, 0, 0},           // end of file inside a record
        {"overlong.VXO", 1, 0, 1},      // a 200000-character line before the record
        {"binary-index.VXO", 1, 0, 1},  // control bytes in an index: its record is skipped
        {"crlf.VXO", 1, 0, 1},          // CR LF line ends
        {"random.VXO", 0, -1, 1},       // random bytes: any number of refusals, no record
    };
    for (const Case& c : cases) {
        const Pass p = read_and_write(slurp(data_path(std::string("bad/") + c.file)));
        EXPECT_EQ(p.whole, c.whole) << c.file;
        if (c.bad >= 0) {
            EXPECT_EQ(p.bad, c.bad) << c.file;
        }
        EXPECT_EQ(p.last.IEOF, -1) << c.file;
        EXPECT_EQ(p.last.LBAD, c.last_lbad) << c.file;
        EXPECT_LT(p.calls, 100000) << c.file;
    }
}

TEST(VxoBadInput, RefusedRecordsLeaveTheArraysAndStatusesAlone) {
    auto rec = std::make_unique<IonogramRecord>();
    rec->GCONST(1) = -5.0f;
    const std::string text = slurp(data_path("bad/overcap.VXO"));
    LineReader in(text);
    Read r;
    r.IEOF = 0;
    r.LREAD = 0;
    READVXO(r.IEOF, in, *rec, r.LREAD, r.LBAD);
    EXPECT_EQ(r.LBAD, 1);
    EXPECT_EQ(r.LREAD, 0);
    EXPECT_EQ(r.IEOF, 0);
    EXPECT_EQ(rec->IDX(7), 401);        // the index as read
    EXPECT_EQ(rec->GCONST(1), -5.0f);   // nothing of the groups
    // A record cut short: end of file with LBAD = 0, LREAD untouched.
    const std::string cut = slurp(data_path("bad/cut.VXO"));
    LineReader in2(cut);
    int16_t LREAD = 7, LBAD = 9;
    int32_t IEOF = 0;
    READVXO(IEOF, in2, *rec, LREAD, LBAD);
    EXPECT_EQ(IEOF, -1);
    EXPECT_EQ(LBAD, 0);
    EXPECT_EQ(LREAD, 7);
    // The empty file: end of file, LBAD = 1, LREAD unchanged.
    LineReader empty("");
    LREAD = 0;
    READVXO(IEOF, empty, *rec, LREAD, LBAD);
    EXPECT_EQ(IEOF, -1);
    EXPECT_EQ(LBAD, 1);
    EXPECT_EQ(LREAD, 0);
}

// A text line before an index is skipped and left in SYSDSC1 (a record without group 2
// keeps it there).
TEST(VxoBadInput, SkippedLinesGoToTheSystemDescription) {
    const std::string text = "HEADER TEXT\n" + record5({{1, 1}}, "  1.350\n");
    auto rec = std::make_unique<IonogramRecord>();
    LineReader in(text);
    const Read r = read_next(in, *rec);
    EXPECT_EQ(r.LBAD, 0);
    EXPECT_EQ(rec->GCONST(1), 1.35f);
    EXPECT_EQ(std::string(rec->SYSDSC1.data() + 1, 12), "HEADER TEXT ");
}

// Mutated copies of a valid file (bytes changed, lines dropped or repeated, the text cut at
// random places): every read ends, within one call per line, at the end of the file.
TEST(VxoBadInput, MutatedFilesAlwaysEnd) {
    const std::string base = slurp(data_path("full5.VXO"));
    ASSERT_FALSE(base.empty());
    uint64_t state = 0x9E3779B97F4A7C15ull;
    const auto rnd = [&](size_t n) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<size_t>((state >> 33) % n);
    };
    const char alphabet[] = "0123456789 .-+EeX\n\r\t\0\xff";
    int read_back = 0;
    for (int trial = 0; trial < 150; ++trial) {
        std::string t = base;
        const int edits = 1 + static_cast<int>(rnd(40));
        for (int e = 0; e < edits; ++e) {
            const size_t at = rnd(t.size());
            switch (rnd(4)) {
            case 0: t[at] = alphabet[rnd(sizeof alphabet - 1)]; break;
            case 1: t.erase(at, rnd(300)); break;
            case 2: t.insert(at, t.substr(rnd(t.size()), rnd(500))); break;
            default: t.resize(at); break;
            }
            if (t.empty()) break;
        }
        const long lines = static_cast<long>(std::count(t.begin(), t.end(), '\n')) + 1;
        const Pass p = read_and_write(t);
        EXPECT_EQ(p.last.IEOF, -1) << "trial " << trial;
        EXPECT_LE(p.calls, lines + 1) << "trial " << trial;
        // What was written reads back whole, unless a mutated value too wide for its field
        // came out as asterisks (as the compiler writes it), which no reader decodes.
        if (p.written.find('*') != std::string::npos) continue;
        const Pass back = read_and_write(p.written);
        EXPECT_EQ(back.whole, p.whole) << "trial " << trial;
        EXPECT_EQ(back.written, p.written) << "trial " << trial;
        ++read_back;
    }
    EXPECT_GT(read_back, 75);
}
