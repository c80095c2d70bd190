// Formatted text I/O: output against the compiler's own edit descriptors, input rules,
// groups over lines, format parsing and line reading.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/fortran_io.hpp"

using namespace zelk::fio;

namespace {

std::string data_path(const std::string& name) { return std::string(ZELK_TEST_DATA) + "/" + name; }

std::vector<std::string> read_lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> v;
    for (std::string l; std::getline(in, l);) v.push_back(l);
    return v;
}

// One value under a one-field format, as written.
template <class T>
std::string edit(const char* fmt, T v) {
    return edit_line(FortranFormat(fmt), &v, 1);
}

}  // namespace

// The reference files hold, for each value (bit pattern), what gfortran writes under each
// descriptor: rounding at the last digit, halves, negative zero, too-wide values, NaN and
// infinities, E fields with one- to three-digit exponents (tests/data/gen/edit_*.f90|py).
TEST(FortranOutput, FloatsMatchTheCompilerForEveryDescriptor) {
    const char* fmts[] = {"(F8.3)",  "(F7.3)",    "(F6.3)",   "(F5.2)",   "(F4.3)",  "(F3.0)",  "(F12.0)",
                          "(F20.8)", "(E11.6E1)", "(E9.4E1)", "(E8.3E1)", "(E12.4)", "(E6.1E1)"};
    const auto lines = read_lines(data_path("fortran/fortran_edit_float.txt"));
    ASSERT_EQ(lines.size(), 1948u);
    int mismatches = 0;
    for (const std::string& line : lines) {
        const uint32_t bits = static_cast<uint32_t>(std::stoul(line.substr(0, 8), nullptr, 16));
        float x;
        std::memcpy(&x, &bits, 4);
        std::string got = line.substr(0, 8);
        for (const char* f : fmts) got += "|" + edit(f, x);
        if (got != line && ++mismatches <= 5) ADD_FAILURE() << "expected " << line << "\n     got " << got;
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(FortranOutput, DoublesMatchTheCompilerForEveryDescriptor) {
    const char* fmts[] = {"(E20.12)", "(F12.5)", "(E11.6E1)", "(E30.17)", "(F40.20)"};
    const auto lines = read_lines(data_path("fortran/fortran_edit_double.txt"));
    ASSERT_EQ(lines.size(), 716u);
    int mismatches = 0;
    for (const std::string& line : lines) {
        const uint64_t bits = std::stoull(line.substr(0, 16), nullptr, 16);
        double y;
        std::memcpy(&y, &bits, 8);
        std::string got = line.substr(0, 16);
        for (const char* f : fmts) got += "|" + edit(f, y);
        if (got != line && ++mismatches <= 5) ADD_FAILURE() << "expected " << line << "\n     got " << got;
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(FortranOutput, FieldsOfTheArchiveFormats) {
    EXPECT_EQ(edit("(E11.6E1)", 0.531f), "0.531000E+0");
    EXPECT_EQ(edit("(E8.3E1)", 496.0f), "0.496E+3");
    EXPECT_EQ(edit("(F8.3)", 9999.0f), "9999.000");
    EXPECT_EQ(edit("(E11.6E1)", -272.544f), "-.272544E+3");
    EXPECT_EQ(edit("(E8.3E1)", 12380.0f), "0.124E+5");
    EXPECT_EQ(edit("(F8.3)", 100000.0f), "********");
    EXPECT_EQ(edit("(E20.12)", 6370.0), "  0.637000000000E+04");
    // Integers: right-justified, asterisks when the digits and sign do not fit.
    EXPECT_EQ(edit("(I3)", 1000), "***");
    EXPECT_EQ(edit("(I3)", -99), "-99");
    EXPECT_EQ(edit("(I3)", -100), "***");
    EXPECT_EQ(edit("(I3)", 0), "  0");
    EXPECT_EQ(edit("(I2)", -9), "-9");
    // Iw.m: leading zeros up to m digits; the sign needs a column of its own.
    EXPECT_EQ(edit("(I3.3)", 7), "007");
    EXPECT_EQ(edit("(I4.2)", -5), " -05");
    EXPECT_EQ(edit("(I2.2)", -1), "**");
    EXPECT_EQ(edit("(I4.4)", 12345), "****");
}

// ES fields hold one digit before the point: for two-digit exponents they are what C's %E
// writes, which checks the rounding independently; the value reads back unchanged.
TEST(FortranOutput, ScientificFieldsAndDiagnosticLines) {
    for (const double x : {0.0, 1.0, -7.12092153e-1, 1.08032887e-2, 9.999999995e-3, 6.25e22,
                           -1.5e-7, 12345.678901234}) {
        char ref[32];
        std::snprintf(ref, sizeof ref, "%16.8E", x);
        EXPECT_EQ(edit("(ES16.8)", x), ref) << x;
        double back = 1.0;
        ASSERT_EQ(decode_line(ref, FortranFormat("(ES16.8)"), &back, 1), IoStat::OK);
        EXPECT_EQ(back, std::stod(ref));
    }
    EXPECT_EQ(edit("(ES9.2E1)", -0.0625f), " -6.25E-2");
    EXPECT_EQ(edit("(ES12.3)", 1.0e100), "   1.000+100");
    EXPECT_EQ(edit("(ES7.3)", 10.0f), "*******");
    // A diagnostic line of several values: the fields side by side, no terminator.
    const float lt[3] = {12.5f, -3.25f, 99999.0f};
    EXPECT_EQ(edit_line(FortranFormat("(3F8.3)"), lt, 3), "  12.500  -3.250********");
    const int32_t years[2] = {1999, 2001};
    EXPECT_EQ(edit_line(FortranFormat("(2I5)"), years, 2), " 1999 2001");
}

// Fields read by gfortran under F11.3, E11.6E1 and E11.4 (bit patterns and IOSTAT).
// Overflow is the one deliberate difference: gfortran reads infinity, we refuse the field.
TEST(FortranInput, FieldsDecodeLikeTheCompiler) {
    const FortranFormat f1("(F11.3)"), f2("(E11.6E1)"), f3("(E11.4)");
    const auto lines = read_lines(data_path("fortran/fortran_read.txt"));
    ASSERT_EQ(lines.size(), 3000u);
    int checked = 0, mismatches = 0;
    for (const std::string& line : lines) {
        const std::string s = line.substr(0, 11);
        float x = 0, z = 0;
        double y = 0;
        const bool okx = decode_line(s, f1, &x, 1) == IoStat::OK;
        const bool okz = decode_line(s, f2, &z, 1) == IoStat::OK;
        const bool oky = decode_line(s, f3, &y, 1) == IoStat::OK;
        uint32_t xb, zb;
        uint64_t yb;
        std::memcpy(&xb, &x, 4);
        std::memcpy(&zb, &z, 4);
        std::memcpy(&yb, &y, 8);
        const bool ref_okx = line[12] == '0', ref_okz = line[23] == '0', ref_oky = line[34] == '0';
        const uint32_t ref_xb = static_cast<uint32_t>(std::stoul(line.substr(14, 8), nullptr, 16));
        const uint32_t ref_zb = static_cast<uint32_t>(std::stoul(line.substr(25, 8), nullptr, 16));
        const uint64_t ref_yb = std::stoull(line.substr(36, 16), nullptr, 16);
        const uint32_t inf = 0x7F800000u;
        bool same = true;
        if (ref_okx && (ref_xb & 0x7FFFFFFFu) == inf) {
            same = same && !okx;   // overflow of a single-precision field
        } else {
            same = same && okx == ref_okx && (!okx || xb == ref_xb);
        }
        if (ref_okz && (ref_zb & 0x7FFFFFFFu) == inf) {
            same = same && !okz;
        } else {
            same = same && okz == ref_okz && (!okz || zb == ref_zb);
        }
        same = same && oky == ref_oky && (!oky || yb == ref_yb);
        ++checked;
        if (!same && ++mismatches <= 5) ADD_FAILURE() << "field [" << s << "] reference " << line;
    }
    EXPECT_EQ(checked, 3000);
    EXPECT_EQ(mismatches, 0);
}

TEST(FortranInput, BlanksImpliedDecimalsAndMixedForms) {
    const FortranFormat f("(3F8.3)"), e("(2E11.6E1)"), i("(4I3)");
    float v[3] = {7, 7, 7};
    // Blank fields and a line shorter than the format read as zero.
    ASSERT_EQ(decode_line("        " "   1.5", f, v, 3), IoStat::OK);
    EXPECT_EQ(v[0], 0.0f);
    EXPECT_EQ(v[1], 1.5f);
    EXPECT_EQ(v[2], 0.0f);
    // No decimal point: three implied decimals; an E form under F and F form under E.
    ASSERT_EQ(decode_line("    1234" "0.496E+3" " 1.5-3  ", f, v, 3), IoStat::OK);
    EXPECT_EQ(v[0], 1.234f);
    EXPECT_EQ(v[1], 496.0f);
    EXPECT_EQ(v[2], 0.0015f);
    ASSERT_EQ(decode_line("   254.750     531000", e, v, 2), IoStat::OK);
    EXPECT_EQ(v[0], 254.75f);
    EXPECT_EQ(v[1], 0.531f);
    // Embedded blanks are ignored; -0.000 keeps its sign so it is written back the same.
    ASSERT_EQ(decode_line(" 1 2.5  " "  -0.000", f, v, 2), IoStat::OK);
    EXPECT_EQ(v[0], 12.5f);
    EXPECT_TRUE(std::signbit(v[1]));
    int32_t n[4];
    ASSERT_EQ(decode_line("  1 -2  3", i, n, 4), IoStat::OK);
    EXPECT_EQ(n[0], 1);
    EXPECT_EQ(n[1], -2);
    EXPECT_EQ(n[2], 3);
    EXPECT_EQ(n[3], 0);
}

TEST(FortranInput, FieldsThatAreNotNumbersAreDecodeErrors) {
    const FortranFormat f("(F8.3)"), i("(I3)");
    float v = 0;
    int32_t n = 0;
    for (const char* s : {"   4.5l0", "       -", "       .", "     E+3", "   1.0E ", "  1.2.3 ", "     NaN",
                          "     Inf", "  1,5   ", " 1.0e99 ", "\t1.0"}) {
        EXPECT_EQ(decode_line(s, f, &v, 1), IoStat::BAD) << s;
    }
    for (const char* s : {"1.0", " x1", "  -", "1e2", "\0011"}) EXPECT_EQ(decode_line(s, i, &n, 1), IoStat::BAD) << s;
    // Below the smallest subnormal is zero, not an error.
    ASSERT_EQ(decode_line(" 1.0e-99", f, &v, 1), IoStat::OK);
    EXPECT_EQ(v, 0.0f);
    // An integer beyond 32 bits does not wrap.
    const FortranFormat i12("(I12)");
    EXPECT_EQ(decode_line(" 2147483648", i12, &n, 1), IoStat::BAD);
    ASSERT_EQ(decode_line("-2147483648", i12, &n, 1), IoStat::OK);
    EXPECT_EQ(n, INT32_MIN);
    // A real read under an integer descriptor and the reverse are errors.
    EXPECT_EQ(decode_line("  1", f, &n, 1), IoStat::BAD);
    EXPECT_EQ(decode_line("  1", i, &v, 1), IoStat::BAD);
}

// A group of N values over ceil(N/k) lines, the last one short; an empty group is one
// empty line; a group read back gives the values written.
TEST(FortranGroups, ValuesSpreadOverLinesAndReadBack) {
    const FortranFormat f("(15F8.3)");
    std::vector<float> v(17);
    for (int k = 0; k < 17; ++k) v[k] = 100.0f + 0.25f * static_cast<float>(k);
    std::string out;
    write_group(out, f, v.data(), 17);
    const size_t nl = out.find('\n');
    ASSERT_NE(nl, std::string::npos);
    EXPECT_EQ(nl, 120u);
    EXPECT_EQ(out.size(), 120u + 1 + 16 + 1);
    EXPECT_EQ(out.substr(121), " 103.750 104.000\n");

    LineReader in(out);
    std::vector<float> back(17, -1.0f);
    ASSERT_EQ(read_group(in, f, back.data(), 17), IoStat::OK);
    EXPECT_EQ(back, v);
    std::string_view rest;
    EXPECT_FALSE(in.next(rest));

    std::string empty;
    write_group(empty, f, v.data(), 0);
    EXPECT_EQ(empty, "\n");
    LineReader in0("\nNEXT\n");
    ASSERT_EQ(read_group(in0, f, back.data(), 0), IoStat::OK);
    ASSERT_TRUE(in0.next(rest));
    EXPECT_EQ(rest, "NEXT");

    // Characters: one per field, and a 120-character text line.
    const FortranFormat a1("(120A1)"), a120("(A120)");
    std::string text(130, 'x');
    for (int k = 0; k < 130; ++k) text[k] = static_cast<char>('A' + k % 26);
    std::string cout_;
    write_group(cout_, a1, text.data(), 1, 130);
    EXPECT_EQ(cout_, text.substr(0, 120) + "\n" + text.substr(120) + "\n");
    char line[120];
    LineReader inl("SHORT LINE\n");
    ASSERT_EQ(read_group(inl, a120, line, 120, 1), IoStat::OK);
    EXPECT_EQ(std::string(line, 120), "SHORT LINE" + std::string(110, ' '));
}

// List-directed values run over lines and skip the rest of the last one; a blank field is told
// from a written zero.
TEST(FortranGroups, ListDirectedValuesAndBlankFields) {
    LineReader in(" 1.00  -7.1E-01,2\n\n   3 4.5e1\t6 7\n8\n 9 x\n");
    float v[6] = {};
    ASSERT_EQ(read_list(in, v, 6), IoStat::OK);
    const float want[6] = {1.0f, -0.71f, 2.0f, 3.0f, 45.0f, 6.0f};
    for (int k = 0; k < 6; ++k) EXPECT_EQ(v[k], want[k]) << k;
    // The 7 after the sixth value is skipped with its line.
    ASSERT_EQ(read_list(in, v, 3), IoStat::BAD);
    EXPECT_EQ(v[0], 8.0f);
    EXPECT_EQ(v[1], 9.0f);
    EXPECT_EQ(read_list(in, v, 1), IoStat::END);
    LineReader star("3*1.0\n");
    EXPECT_EQ(read_list(star, v, 3), IoStat::BAD);

    const FortranFormat f("(I4,2F6.1)");
    EXPECT_TRUE(blank_field("1749      ", f.field(1)));
    EXPECT_FALSE(blank_field("1749   0.0", f.field(1)));
    EXPECT_TRUE(blank_field("1749", f.field(2)));
}

TEST(FortranGroups, EndOfInputInsideAGroup) {
    const FortranFormat f("(40I3)");
    std::vector<int32_t> v(80);
    LineReader in("  1  2  3\n");
    EXPECT_EQ(read_group(in, f, v.data(), 80), IoStat::END);
    LineReader bad("  1  2  3\n  4  x\n");
    EXPECT_EQ(read_group(bad, f, v.data(), 80), IoStat::BAD);
}

TEST(FortranFormatText, ParsesTheDescriptorsAndRejectsMalformedTexts) {
    for (const char* t : {"(40I3)", "(15F8.3)", "(16F7.3)", "(20F6.3)", "(10E11.6E1)", "(13E9.4E1)", "(15E8.3E1)",
                          "(6E20.12)", "(60I2)", "(120I1)", "(120A1)", "(A120)", "( 2X, 3(I3 ,F8.3) )", "(a)",
                          "(F5.2,5(1X,ES16.8))", "(es9.2e1)"}) {
        EXPECT_TRUE(FortranFormat(t).ok()) << t;
    }
    for (const char* t : {"", "40I3", "(40I3", "(40Q3)", "(F8)", "(F8.8)", "(E8.0)", "(I0)", "(0I3)", "(A,I3)",
                          "(I3)x", "(2000I1)", "(E11.6E10)", "(I99999999)",
                          "(ES8.0)", "(ES8)", "(I3.4)", "(I3.)"}) {
        EXPECT_FALSE(FortranFormat(t).ok()) << t;
    }
    const FortranFormat f("(1X,2(I3,F8.3),A2)");
    ASSERT_EQ(f.per_line(), 5);
    EXPECT_EQ(f.field(0).col, 1);
    EXPECT_EQ(f.field(1).col, 4);
    EXPECT_EQ(f.field(2).col, 12);
    EXPECT_EQ(f.field(3).col, 15);
    EXPECT_EQ(f.field(4).col, 23);
    EXPECT_EQ(FortranFormat("(15F8.3)").per_line(), 15);
    // A transfer through a rejected format is a decode error, never a silent zero.
    int32_t n = 5;
    EXPECT_EQ(decode_line("  1", FortranFormat("(Q3)"), &n, 1), IoStat::BAD);
}

TEST(LineReading, TerminatorsLongLinesAndStreams) {
    const std::string longline(LineReader::MAX_LINE + 70000, 'Z');
    const std::string text = "ONE\r\n\n" + longline + "\nLAST";
    const std::string path = std::string(ZELK_BINARY_DIR) + "/line_reading_test.tmp";
    {
        std::ofstream(path, std::ios::binary) << text;
    }
    LineReader mem(text), file;
    ASSERT_TRUE(file.open(path));
    std::istringstream ss(text);
    LineReader stream(ss);
    for (LineReader* r : {&mem, &file, &stream}) {
        std::string_view l;
        ASSERT_TRUE(r->next(l));
        EXPECT_EQ(l, "ONE");
        ASSERT_TRUE(r->next(l));
        EXPECT_EQ(l, "");
        ASSERT_TRUE(r->next(l));
        EXPECT_EQ(l.size(), LineReader::MAX_LINE);
        ASSERT_TRUE(r->next(l));
        EXPECT_EQ(l, "LAST");
        EXPECT_FALSE(r->next(l));
        EXPECT_EQ(r->lines_read(), 4);
        EXPECT_EQ(r->bytes_read(), static_cast<long long>(text.size()));
        EXPECT_FALSE(r->failed());
    }
    std::remove(path.c_str());
    LineReader none;
    EXPECT_FALSE(none.open(path));
}
