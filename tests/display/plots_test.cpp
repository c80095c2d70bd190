// The plots through the recording surface. Pixel positions are worked out here from the
// mapping x = 200 + (truncate(f/0.025 + 0.005) div FSTEP), y = 500 - truncate(h/2 + 0.5).
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "display/display.hpp"
#include "display/recording.hpp"
#include "inversion/inversion.hpp"
#include "ztest.hpp"

using namespace zelk;
using namespace zelk::display;
using zelk::inversion::Inversion;

namespace {

struct Plot {
    RecordingSurface s;
    Display d;
    std::unique_ptr<Inversion> inv = std::make_unique<Inversion>();
    PlotInputs in;
    Plot(int fstep = 1) {
        GRAPHMODE(d, s);
        s.reset();
        d.FSTEP = fstep;
        in.inv = inv.get();
    }
    std::vector<Primitive> of(Primitive::Kind k) const {
        std::vector<Primitive> out;
        for (const Primitive& p : s.primitives())
            if (p.kind == k) out.push_back(p);
        return out;
    }
    std::vector<Primitive> lines(Rgb colour) const {
        std::vector<Primitive> out;
        for (const Primitive& p : s.primitives())
            if (p.kind == Primitive::LINE && p.colour == colour) out.push_back(p);
        return out;
    }
};

// The box of a circle of radius 2 around (x, y).
void expect_circle(const Primitive& p, int x, int y) {
    EXPECT_EQ(p.x1, x - 2);
    EXPECT_EQ(p.y1, y - 2);
    EXPECT_EQ(p.x2, x + 2);
    EXPECT_EQ(p.y2, y + 2);
}

std::string slurp(const std::filesystem::path& p) {
    std::ifstream in(p);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// A solved E region 1.0-3.0 MHz, peak 110 km, base 90 km: a parabola-like layer.
void solvedE(Inversion& inv) {
    float dip = 1.0f;
    GOGXCOM(inv, dip);
    SETCV(inv);
    inv.FH = 1.2f;
    inv.IRGN = 1;
    inv.FC(1) = 1.0f;
    inv.FC(2) = 3.0f;
    inv.ZME = 110.0f;
    inv.HBASE(1) = 90.0f;
    inv.A_E(1) = -20.0f;
}

}  // namespace

TEST(Mapping, TruncationAndFstep) {
    Display d;
    d.FSTEP = 1;
    EXPECT_EQ(pixel_x(d, 0.0f), 200);
    EXPECT_EQ(pixel_x(d, 10.0f), 600);          // 400 steps of 0.025 MHz
    EXPECT_EQ(pixel_x(d, 3.0249f), 200 + 121);  // 120.996 + 0.005 = 121.001 truncates to 121
    EXPECT_EQ(pixel_x(d, 3.0240f), 200 + 120);  // 120.96 + 0.005 truncates to 120
    d.FSTEP = 2;
    EXPECT_EQ(pixel_x(d, 20.0f), 600);          // 800 steps, halved
    EXPECT_EQ(pixel_x(d, 3.05f), 200 + 61);     // 122 steps, halved
    EXPECT_EQ(pixel_x(d, 3.025f), 200 + 60);    // 121 steps, integer-halved
    EXPECT_EQ(pixel_y(0.0f), 500);
    EXPECT_EQ(pixel_y(700.0f), 150);
    EXPECT_EQ(pixel_y(301.0f), 500 - 151);      // 150.5 + 0.5 truncates to 151
    EXPECT_EQ(pixel_y(300.9f), 500 - 150);
}

TEST(Plotrace, CirclesAtTheTracePointsWithTheSkipRules) {
    ztest::ScratchDir dir;
    for (int fstep : {1, 2}) {
        Plot p(fstep);
        p.d.WRITE_DATA = true;
        p.d.DATA_PREFIX = dir.file("f" + std::to_string(fstep) + ".").string();
        Inversion& inv = *p.inv;
        inv.TRF(1) = 2.0f;  inv.TRH(1) = 0.0f;     // no height: skipped
        inv.TRF(2) = 20.0f; inv.TRH(2) = 300.0f;
        inv.TRF(3) = 4.5f;  inv.TRH(3) = 701.0f;   // above the frame: skipped
        inv.TRF(4) = 5.0f;  inv.TRH(4) = -40.0f;   // no reflection: skipped
        inv.TRF(5) = 6.0f;  inv.TRH(5) = 700.0f;
        // TRF(6) = 0, TRH(6) = 0: skipped for its height, the list goes on to its end.
        float ef[3] = {1.5f, 0.0f, 2.5f}, eh[3] = {105.0f, 110.0f, 120.0f};
        p.in.EXTRAF = ef;
        p.in.EXTRAH = eh;
        p.in.NEXTRA = 3;
        EVFPLOT(p.d, p.s, p.in, 0);
        const std::vector<Primitive> c = p.of(Primitive::ELLIPSE);
        ASSERT_EQ(c.size(), 3u) << fstep;   // two list points, one extra point before its zero
        for (const Primitive& e : c) EXPECT_EQ(e.colour, 0xFF0000u);
        expect_circle(c[0], 200 + 800 / fstep, 350);
        expect_circle(c[1], 200 + 240 / fstep, 150);
        expect_circle(c[2], 200 + 60 / fstep, 500 - 53);
        std::string e;
        ASSERT_TRUE(p.d.TRACE.close(e));
        EXPECT_EQ(slurp(dir.file("f" + std::to_string(fstep) + ".TRACE.DAT")),
                  "   20.000  300.000\n    6.000  700.000\n");
    }
    // With FSTEP = 2 a 20 MHz point lies 400 pixels right of the frame's left edge.
}

TEST(Plotrace, FirstUsablePointAtZeroFrequencyDrawsAndWritesNothing) {
    ztest::ScratchDir dir;
    Plot p;
    p.d.WRITE_DATA = true;
    p.d.DATA_PREFIX = dir.file("").string();
    p.inv->TRF(1) = 3.0f;
    p.inv->TRH(1) = 800.0f;   // skipped
    p.inv->TRF(2) = 0.0f;
    p.inv->TRH(2) = 250.0f;   // first usable point, frequency 0: the plot ends
    p.inv->TRF(3) = 4.0f;
    p.inv->TRH(3) = 250.0f;
    float ef[1] = {1.5f}, eh[1] = {105.0f};
    p.in.EXTRAF = ef;
    p.in.EXTRAH = eh;
    p.in.NEXTRA = 1;
    EVFPLOT(p.d, p.s, p.in, 0);
    EXPECT_TRUE(p.of(Primitive::ELLIPSE).empty());
    std::string e;
    ASSERT_TRUE(p.d.TRACE.close(e));
    EXPECT_EQ(slurp(dir.file("TRACE.DAT")), "");
}

TEST(Evfplot, DebugLevelFourAndAboveDrawsAndWritesNothing) {
    ztest::ScratchDir dir;
    for (int level : {4, 7}) {
        Plot p;
        p.d.WRITE_DATA = true;
        p.d.DATA_PREFIX = dir.file("").string();
        solvedE(*p.inv);
        p.inv->TRF(1) = 2.0f;
        p.inv->TRH(1) = 100.0f;
        p.in.IDEBUG = level;
        for (int code : {0, 1, 2, 3, 4, 10}) EVFPLOT(p.d, p.s, p.in, code);
        EXPECT_TRUE(p.s.primitives().empty());
        EXPECT_FALSE(p.d.TRACE.is_open());
        EXPECT_FALSE(p.d.RECALO.is_open());
        EXPECT_FALSE(p.d.RECALX.is_open());
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

// The E region stage: header, profile with its yellow marker, complete O and X curves.
TEST(Evfplot, ERegionStage) {
    ztest::ScratchDir dir;
    Plot p;
    p.d.WRITE_DATA = true;
    p.d.DATA_PREFIX = dir.file("").string();
    solvedE(*p.inv);
    p.in.IDEBUG = 3;   // the diagnostic mode adds nothing to the E stage
    EVFPLOT(p.d, p.s, p.in, 1);
    // Marker at foE = 3 MHz, from the bottom edge 200 pixels up (E region).
    const std::vector<Primitive> yellow = p.lines(0xFFFF00);
    ASSERT_EQ(yellow.size(), 1u);
    EXPECT_EQ(yellow[0].x1, 320);
    EXPECT_EQ(yellow[0].y1, 500);
    EXPECT_EQ(yellow[0].y2, 300);
    // The profile starts at (FSTART, peak + sum A) = (1 MHz, 90 km) and ends at the peak.
    const std::vector<Primitive> red = p.lines(0xFF0000);
    ASSERT_EQ(red.size(), 20u);   // 2 MHz in steps of 0.1 MHz
    EXPECT_EQ(red.front().x1, 240);
    EXPECT_EQ(red.front().y1, 455);
    EXPECT_EQ(red.back().x2, 320);
    EXPECT_EQ(red.back().y2, 445);
    // Complete O curve in dark green; X curve in blue starting above fx(1 MHz) + 0.05.
    EXPECT_GT(p.lines(0x008000).size(), 10u);
    const std::vector<Primitive> x = p.lines(0x0000FF);
    ASSERT_GT(x.size(), 5u);
    const float fx1 = (1.2f + std::sqrt(1.44f + 4.0f)) / 2.0f + 0.05f;
    EXPECT_EQ(x.front().x1, pixel_x(p.d, fx1));
    // No E-part (grey) or valley-part (cyan) curves in an E-only record.
    EXPECT_TRUE(p.lines(0xC0C0C0).empty());
    EXPECT_TRUE(p.lines(0x00FFFF).empty());
    // The E stage starts both recomputed files; they stay open until the F2 region.
    EXPECT_TRUE(p.d.RECALO.is_open());
    EXPECT_TRUE(p.d.RECALX.is_open());
}

TEST(Plotrecv, PartCurvesNeedTheRegionsTheyShow) {
    Plot p;
    solvedE(*p.inv);
    for (int k : {2, 3, 4}) {
        PLOTRECV(p.d, p.s, *p.inv, k);
        PLOTRECX(p.d, p.s, *p.inv, k);
    }
    EXPECT_TRUE(p.s.primitives().empty());
    PLOTRECV(p.d, p.s, *p.inv, 1);
    EXPECT_FALSE(p.lines(0xFF00FF).empty());   // the current region alone, magenta
}

TEST(Plotrecx, NoCurveForARegionBelowTheGyrofrequency) {
    Plot p;
    solvedE(*p.inv);
    p.inv->FH = 3.2f;   // above foE = 3 MHz
    PLOTRECX(p.d, p.s, *p.inv, 5);
    PLOTRECX(p.d, p.s, *p.inv, 1);
    EXPECT_TRUE(p.s.primitives().empty());
    p.inv->FH = 2.9f;
    PLOTRECX(p.d, p.s, *p.inv, 5);
    EXPECT_FALSE(p.lines(0x0000FF).empty());
}

// Heights: a region whose recomputed heights run above 700 km is clipped at the top edge
// and the curve ends there.
TEST(Plotrecv, ClippedAtTheTopEdge) {
    Plot p;
    solvedE(*p.inv);
    // A 200 km thick layer on a 300 km base: about 580 km at 80 % of foE, beyond 1000 km
    // just below foE.
    p.inv->HBASE(1) = 300.0f;
    p.inv->ZME = 500.0f;
    p.inv->A_E(1) = -200.0f;
    PLOTRECV(p.d, p.s, *p.inv, 5);
    const std::vector<Primitive> g = p.lines(0x008000);
    ASSERT_FALSE(g.empty());
    for (const Primitive& l : g) EXPECT_GE(l.y2, 150);
    EXPECT_EQ(g.back().y2, 150);
    // The curve ends at the clipped point, well before the 41 points of the whole range.
    EXPECT_LT(g.size(), 39u);
    EXPECT_LT(g.back().x2, pixel_x(p.d, 2.99f));
}

TEST(Plotprof, MarkerLengthsAndNothingForAnEmptyRange) {
    struct Case { int irgn; float fend; int fstep; int top; };
    for (const Case c : {Case{2, 4.0f, 1, 250}, Case{3, 5.9f, 1, 200}, Case{3, 6.0f, 1, 150},
                         Case{3, 11.9f, 2, 200}, Case{3, 12.0f, 2, 150}}) {
        Plot p(c.fstep);
        float A[6] = {0, -50, 5, 0, 0, 0};
        PLOTPROF(p.d, p.s, RED, c.irgn, 3.0f, c.fend, 250.0f, 5, A);
        const std::vector<Primitive> y = p.lines(0xFFFF00);
        ASSERT_EQ(y.size(), 1u);
        EXPECT_EQ(y[0].y2, c.top) << c.irgn << " " << c.fend;
        EXPECT_EQ(y[0].x1, pixel_x(p.d, c.fend));
    }
    Plot p;
    float A[6] = {0, -50, 5, 0, 0, 0};
    PLOTPROF(p.d, p.s, RED, 3, 5.0f, 5.0f, 250.0f, 5, A);
    PLOTPROF(p.d, p.s, RED, 3, 0.0f, 5.0f, 250.0f, 5, A);
    EXPECT_TRUE(p.s.primitives().empty());
}

TEST(Plottop, DashedAndStoppedAtTheTop) {
    Plot p;
    PLOTTOP(p.d, p.s, RED, 2, 300.0f, 6.0f, 200.0f);
    const std::vector<Primitive>& prims = p.s.primitives();
    ASSERT_GT(prims.size(), 10u);
    // Move, line, move, line, ... every 5 km: a dash from each even step to the next.
    for (size_t i = 0; i < prims.size(); ++i) {
        EXPECT_EQ(prims[i].kind, i % 2 == 0 ? Primitive::MOVE : Primitive::LINE) << i;
        const int y = i % 2 == 0 ? prims[i].y1 : prims[i].y2;
        EXPECT_EQ(y, pixel_y(300.0f + 5.0f * static_cast<float>(i)));
    }
    // Ends at 695 km, the last step below 700 km (81 points from 300 km).
    EXPECT_EQ(prims.size(), 80u);
    // A foF2 above 7 MHz whose topside has come into the left half of the frame stops below
    // 600 km.
    Plot q;
    PLOTTOP(q.d, q.s, RED, 2, 300.0f, 7.5f, 50.0f);
    ASSERT_FALSE(q.s.primitives().empty());
    const Primitive& last = q.s.primitives().back();
    EXPECT_EQ(last.kind == Primitive::LINE ? last.y2 : last.y1, pixel_y(595.0f));
    // A scale height that is not a number draws nothing.
    Plot r;
    PLOTTOP(r.d, r.s, RED, 2, 300.0f, 8.0f, std::nanf(""));
    EXPECT_EQ(r.s.primitives().size(), 0u);
}

TEST(Plotssn, HeaderLines) {
    Plot p;
    Header h;
    h.IYEAR = 2004;
    h.IDAY = 167;
    h.IMON = 6;
    h.IDOM = 15;
    h.IHR = 9;
    h.MINU = 5;
    h.ISEC = 30;
    h.SSNIN = 67.8f;
    h.ISSN = 67;
    PLOTSSN(p.d, p.s, h);
    std::vector<Primitive> t = p.of(Primitive::TEXT);
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0].text, " TIME : 2004/167(MONTH: 6 DATE:15)/09:05:30(UT)");
    EXPECT_EQ(t[0].x1, 200);
    EXPECT_EQ(t[0].y1, 112);
    EXPECT_EQ(t[1].text, std::string(" SUNSPOT :  67(OBSERVED)") + std::string(23, ' '));
    EXPECT_EQ(t[1].y1, 130);
    p.s.reset();
    h.SSNDEVOUT = 12.34f;
    h.ISSN = 80;
    PLOTSSN(p.d, p.s, h);
    t = p.of(Primitive::TEXT);
    EXPECT_EQ(t[1].text, " SUNSPOT :  67(OLD), 80+/- 12.3(NEW, PREDICTED)");
    p.s.reset();
    h.ISSN = 67;
    PLOTSSN(p.d, p.s, h);
    t = p.of(Primitive::TEXT);
    EXPECT_EQ(t[1].text, " SUNSPOT :  67+/- 12.3(PREDICTED)" + std::string(14, ' '));
}

TEST(Plotpolv, ValleyShape) {
    Plot p;
    float V[4] = {0.0f, -10.0f, 0.0f, 0.0f};   // falling side 10 km thick
    PLOTPOLV(p.d, p.s, 2.5f, 3.0f, 110.0f, V, 10.0f, 10.0f);
    const std::vector<Primitive> l = p.lines(0xFF0000);
    ASSERT_EQ(l.size(), 5u + 2u);   // 0.5 MHz down in 0.1 MHz steps, flat bottom, rising side
    EXPECT_EQ(l.front().x1, 320);
    EXPECT_EQ(l.front().y1, pixel_y(110.0f));
    EXPECT_EQ(l[4].x2, 300);
    EXPECT_EQ(l[4].y2, pixel_y(120.0f));   // the valley bottom, 10 km above the peak
    EXPECT_EQ(l[5].x2, 300);
    EXPECT_EQ(l[5].y2, pixel_y(130.0f));
    EXPECT_EQ(l[6].x2, 320);
    EXPECT_EQ(l[6].y2, pixel_y(140.0f));
}

TEST(Plotdata, FilledCirclesUpTo700Km) {
    Plot p;
    p.inv->NFQ = 3;
    p.inv->FQ(1) = 2.0f; p.inv->HV(1) = 150.0f; p.inv->YK(1) = 40.0f;
    p.inv->FQ(2) = 3.0f; p.inv->HV(2) = 700.5f; p.inv->YK(2) = 50.0f;
    p.inv->FQ(3) = 4.0f; p.inv->HV(3) = 700.0f; p.inv->YK(3) = 60.0f;
    EVFPLOT(p.d, p.s, p.in, 10);
    std::vector<Primitive> c = p.of(Primitive::FILLED_ELLIPSE);
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(c[0].colour, 0x008000u);
    expect_circle(c[0], 280, 425);
    expect_circle(c[1], 360, 150);
    p.s.reset();
    PLOTDATA(p.d, p.s, *p.inv, 2);
    c = p.of(Primitive::FILLED_ELLIPSE);
    ASSERT_EQ(c.size(), 3u);
    EXPECT_EQ(c[0].colour, 0x008080u);
    p.s.reset();
    p.inv->NFQ = 0;
    PLOTDATA(p.d, p.s, *p.inv, 1);
    EXPECT_TRUE(p.s.primitives().empty());
}

TEST(PlotIri, FromThePeakDownToTheValleyTop) {
    Plot p;
    float fn[6] = {0, 2.0f, 3.0f, 4.0f, 5.0f, 0.0f};
    float hiri[6] = {0, 150.0f, 170.0f, 190.0f, 210.0f, 0.0f};
    PLOT_IRI_F_LAYER(p.d, p.s, 5, fn, hiri, 165.0f);
    const std::vector<Primitive>& prims = p.s.primitives();
    // Move to row 4 (row 5 has no frequency), lines to rows 3 and 2; row 1 lies below the
    // valley top.
    ASSERT_EQ(prims.size(), 3u);
    EXPECT_EQ(prims[0].kind, Primitive::MOVE);
    EXPECT_EQ(prims[0].x1, 400);
    EXPECT_EQ(prims[0].y1, 395);
    EXPECT_EQ(prims[2].x2, 320);
    EXPECT_EQ(prims[2].y2, 415);
}

// The recomputed files: each record starts them anew at its E region; they are complete
// after the F2 region.
TEST(PlotFiles, RecomputedCurvesStartAnewPerRecord) {
    ztest::ScratchDir dir;
    Plot p;
    p.d.WRITE_DATA = true;
    p.d.DATA_PREFIX = dir.file("").string();
    solvedE(*p.inv);
    PLOTRECV(p.d, p.s, *p.inv, 5);
    PLOTRECV(p.d, p.s, *p.inv, 5);   // the next record's E region
    p.inv->IRGN = 3;                  // its F2 region, over the same frequencies, closes the file
    p.inv->FC(2) = 1.0f;
    p.inv->FC(3) = 1.0f;
    p.inv->FC(4) = 3.0f;
    p.inv->A_F2(1) = -20.0f;
    p.inv->ZMF2 = 110.0f;
    PLOTRECV(p.d, p.s, *p.inv, 5);
    EXPECT_FALSE(p.d.RECALO.is_open());
    const std::string text = slurp(dir.file("RECAL_OTRACE.DAT"));
    // Two regions of the second record: 1.005 to 2.995 MHz in 0.05 MHz steps, twice.
    size_t lines = 0;
    for (char c : text) lines += c == '\n';
    EXPECT_EQ(lines, 2u * 41u);
    EXPECT_EQ(text.substr(0, 9), "    1.005");
}
