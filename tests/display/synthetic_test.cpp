// Whole records drawn through the run's plot hooks: the recomputed virtual heights against
// the traces of noise-free synthetic ionograms (made by the ionogram synthesiser with
// `make --preset midlat-day|midlat-night --step 0.05 --noise 0 --no-quantize --with-x`),
// and records with bad input, which draw what they can and never fail.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <memory>
#include <string>
#include <vector>

#include "pipeline/zelk.hpp"
#include "display/hooks.hpp"
#include "display/recording.hpp"
#include "driver/run.hpp"
#include "driver/vxo_steps.hpp"
#include "ztest.hpp"

using namespace zelk;
using namespace zelk::display;

namespace {

const std::string DATA = ZELK_TEST_DATA;

struct Point {
    float f, h;
};

// What a record left when its inversion was complete.
struct Drawn {
    std::vector<Primitive> prims;
    std::vector<Point> trace;      // the trace list (frequency, virtual height) up to 700 km
    int above = 0;                 // points of the trace list above 700 km
    std::vector<Point> xtrace;     // the record's X traces (E, F1, F2)
    float fc[5] = {};              // boundary frequencies E start, foE, foF1, foF2 as solved
    int16_t istat = 0;
};

class Capture final : public driver::Frontend {
public:
    explicit Capture(RecordingSurface& s) : s_(s) {}
    void record_done(const Zelk& z, const driver::RecordInfo&) override {
        Drawn d;
        d.prims = s_.primitives();
        for (int i = 1; i <= inversion::MAXTRC; ++i)
            if (z.inv.TRF(i) > 0.0f && z.inv.TRH(i) > 0.0f && z.inv.TRH(i) <= 700.0f)
                d.trace.push_back({z.inv.TRF(i), z.inv.TRH(i)});
            else if (z.inv.TRF(i) > 0.0f && z.inv.TRH(i) > 700.0f)
                ++d.above;
        const auto add = [&](int group, const auto& fq, const auto& vh) {
            for (int i = 1; i <= z.rec.IDX(group); ++i)
                if (vh(i) > 0.0f && vh(i) < 9999.0f) d.xtrace.push_back({fq(i), vh(i)});
        };
        add(30, z.rec.FQXE, z.rec.VHXE);
        add(26, z.rec.FQXF1, z.rec.VHXF1);
        add(22, z.rec.FQXF2, z.rec.VHXF2);
        d.istat = z.inv.IQUALE(2);
        s_.reset();
        records.push_back(std::move(d));
    }
    std::vector<Drawn> records;

private:
    RecordingSurface& s_;
};

struct DrawnRun {
    ztest::ScratchDir dir;
    RecordingSurface s;
    SurfacePlotter plot{s};
    std::vector<Drawn> records;
    std::string error;
    bool finished = false;

    explicit DrawnRun(const std::string& input, int debug = 1) {
        plot.open();
        s.reset();
        plot.display().WRITE_DATA = true;
        plot.display().DATA_PREFIX = dir.file("").string();
        auto z = std::make_unique<Zelk>();
        std::ostringstream log;
        z->log.out = &log;
        z->log.IDEBUG = static_cast<int16_t>(debug);
        z->plot = &plot;
        Capture fe(s);
        driver::VxoSteps steps;
        driver::run_files(*z, {{input, ""}}, fe, steps, false);
        records = fe.records;
        finished = plot.finish_files(error);
    }
    std::vector<Point> read(const std::string& name) const {
        std::vector<Point> pts;
        std::ifstream in(dir.file(name));
        Point p{};
        while (in >> p.f >> p.h) pts.push_back(p);
        return pts;
    }
};

// The curve's height at f by linear interpolation between the two points around it; NaN
// when f lies outside the curve, or between two points more than 0.06 MHz apart (a region
// boundary) or differing by more than maxjump km (a steep part near a critical frequency,
// where the height at a frequency is not a useful measure).
float curve_at(const std::vector<Point>& c, float f, float maxjump) {
    for (size_t i = 1; i < c.size(); ++i) {
        const Point a = c[i - 1], b = c[i];
        if (!(a.f <= f && f <= b.f)) continue;
        if (b.f - a.f > 0.06f || std::fabs(b.h - a.h) > maxjump || a.h < 0.0f || b.h < 0.0f)
            return std::nanf("");
        return a.h + (b.h - a.h) * (f - a.f) / (b.f - a.f);
    }
    return std::nanf("");
}

}  // namespace

// The recomputed virtual heights against the noise-free traces, wherever the curve is not
// steep (away from the critical frequencies).
//  * Night (F2 only): the O curve lies within 2 km of the trace at nine points in ten and
//    within 2.5 km everywhere (the fit's own misfit at the two ends of the trace); the X
//    curve within 5 km of the synthetic X trace from 1 MHz above the trace's lowest
//    frequency; below that the X wave reflects in the bottom of the profile, which the
//    inversion extrapolates, and differs by up to 20 km.
//  * Day (E, F1, F2): the five-term layers do not follow the synthetic layers exactly (the
//    inversion reports mean residuals of 2.5, 3.6 and 7.7 km): O within 7 km, X within 25 km.
TEST(Synthetic, RecomputedVirtualHeightsMatchTheTraces) {
    struct Case {
        const char* name;
        float otol, ostrict, xtol, xstrict;
    };
    for (const Case c : {Case{"synth-x-night.VXO", 2.5f, 2.0f, 25.0f, 5.0f},
                         Case{"synth-x-day.VXO", 7.0f, 7.0f, 25.0f, 25.0f}}) {
        DrawnRun run(DATA + "/display/" + c.name);
        ASSERT_TRUE(run.finished) << run.error;
        ASSERT_EQ(run.records.size(), 1u);
        const Drawn& r = run.records[0];
        ASSERT_EQ(r.istat, 2) << c.name;

        const std::vector<Point> trace = run.read("TRACE.DAT");
        const std::vector<Point> o = run.read("RECAL_OTRACE.DAT");
        const std::vector<Point> x = run.read("RECAL_XTRACE.DAT");
        ASSERT_EQ(trace.size(), r.trace.size()) << c.name;
        ASSERT_GT(o.size(), 50u);
        ASSERT_GT(x.size(), 50u);

        int compared = 0, strict = 0;
        for (const Point& p : trace) {
            const float h = curve_at(o, p.f, 5.0f);
            if (std::isnan(h)) continue;
            ++compared;
            strict += std::fabs(h - p.h) <= c.ostrict;
            EXPECT_NEAR(h, p.h, c.otol) << c.name << " O at " << p.f;
        }
        EXPECT_GT(compared, static_cast<int>(trace.size()) * 3 / 4) << c.name;
        EXPECT_GE(strict, compared * 9 / 10) << c.name;

        float xlow = 1e9f;
        for (const Point& p : r.xtrace) xlow = std::fmin(xlow, p.f);
        int xcompared = 0;
        for (const Point& p : r.xtrace) {
            const float h = curve_at(x, p.f, 5.0f);
            if (std::isnan(h)) continue;
            ++xcompared;
            EXPECT_NEAR(h, p.h, p.f >= xlow + 1.0f ? c.xstrict : c.xtol) << c.name << " X at " << p.f;
        }
        EXPECT_GT(xcompared, static_cast<int>(r.xtrace.size()) / 2) << c.name;
    }
}

// The drawn O-wave curve passes within 2 pixels of the red trace circles.
TEST(Synthetic, DrawnCurvePassesThroughTheTraceCircles) {
    DrawnRun run(DATA + "/display/synth-x-day.VXO");
    ASSERT_EQ(run.records.size(), 1u);
    const Drawn& r = run.records[0];
    std::vector<Primitive> circles, curve;
    for (const Primitive& p : r.prims) {
        if (p.kind == Primitive::ELLIPSE && p.colour == 0xFF0000u) circles.push_back(p);
        if (p.kind == Primitive::LINE && p.colour == 0x008000u) curve.push_back(p);
    }
    ASSERT_EQ(circles.size(), r.trace.size());
    // Distance from a pixel to the nearest drawn segment.
    const auto distance = [&](double x, double y) {
        double best = 1e9;
        for (const Primitive& l : curve) {
            const double dx = l.x2 - l.x1, dy = l.y2 - l.y1;
            const double len2 = dx * dx + dy * dy;
            const double t = len2 > 0 ? std::clamp(((x - l.x1) * dx + (y - l.y1) * dy) / len2, 0.0, 1.0) : 0.0;
            best = std::min(best, std::hypot(l.x1 + t * dx - x, l.y1 + t * dy - y));
        }
        return best;
    };
    int near = 0;
    for (const Primitive& c : circles) near += distance(c.x1 + 2, c.y1 + 2) <= 2.0;
    // Every circle but those on the steep rises at the critical frequencies, where the
    // curve leaves the frame or the points are far apart in height.
    EXPECT_GE(near, static_cast<int>(circles.size()) * 9 / 10);
}

// Bad input draws what it can and never fails (records made by tools/cases/display_bad.py
// from the night record): no trace at all (frame and header only), a trace lifted above
// 700 km (its upper points left out), negative virtual heights (never drawn), and an
// unscaled foF2, which ends the file before the inversion and draws nothing.
TEST(Synthetic, BadRecordsDrawWithoutFailing) {
    DrawnRun run(DATA + "/display/bad-input.VXO");
    EXPECT_TRUE(run.finished) << run.error;
    ASSERT_EQ(run.records.size(), 3u);
    for (size_t k = 0; k < run.records.size(); ++k) {
        const Drawn& r = run.records[k];
        int rects = 0, circles = 0;
        for (const Primitive& p : r.prims) {
            rects += p.kind == Primitive::RECT;
            if (p.kind == Primitive::ELLIPSE) {
                ++circles;
                EXPECT_GE(p.y1 + 2, 150) << k;   // at most 700 km
                EXPECT_LE(p.y1 + 2, 500) << k;   // not below 0 km
            }
            if (p.kind == Primitive::LINE) {     // curves stay in the canvas
                EXPECT_GE(p.y2, 0) << k;
                EXPECT_LT(p.y2, 768) << k;
            }
        }
        EXPECT_EQ(rects, 3) << k;
        if (k == 0) {
            EXPECT_EQ(circles, 0);
            EXPECT_EQ(r.istat, 0);
        } else {
            EXPECT_GT(circles, 10) << k;
        }
    }
    // The lifted trace: its points above 700 km are left out, the others drawn.
    const Drawn& lifted = run.records[1];
    EXPECT_GT(lifted.above, 10);
    int circles = 0;
    for (const Primitive& p : lifted.prims) circles += p.kind == Primitive::ELLIPSE;
    EXPECT_EQ(circles, static_cast<int>(lifted.trace.size()));
}

// A record that already carries profile descriptions (an output of the program read back)
// has them drawn after its frame and before anything of the new inversion: each with its
// yellow marker at its end frequency and its red curve from its start frequency.
TEST(Synthetic, ProfilesOfTheInputRecordBeforeTheInversion) {
    ztest::ScratchDir dir;
    const std::string out = dir.file("day.430").string();
    {
        auto z = std::make_unique<Zelk>();
        std::ostringstream log;
        z->log.out = &log;
        driver::Frontend fe;
        driver::VxoSteps steps;
        driver::run_files(*z, {{DATA + "/display/synth-x-day.VXO", out}}, fe, steps, false);
    }
    DrawnRun run(out);
    ASSERT_EQ(run.records.size(), 1u);
    const std::vector<Primitive>& prims = run.records[0].prims;
    size_t first_circle = 0;
    while (first_circle < prims.size() && prims[first_circle].kind != Primitive::ELLIPSE) ++first_circle;
    ASSERT_LT(first_circle, prims.size());
    std::vector<int> markers;
    int red = 0;
    for (size_t i = 0; i < first_circle; ++i) {
        if (prims[i].kind != Primitive::LINE) continue;
        if (prims[i].colour == 0xFFFF00u && prims[i].x1 == prims[i].x2 && prims[i].y1 == 500) markers.push_back(prims[i].x1);
        red += prims[i].colour == 0xFF0000u;
    }
    // E (ends at foE 3.11 MHz, 200 pixels), F1 (foF1 4.823 MHz), F2 (foF2 9.025 MHz).
    const std::vector<int> want = {200 + static_cast<int>(3.11f / 0.025f + 0.005f),
                                   200 + static_cast<int>(4.823f / 0.025f + 0.005f),
                                   200 + static_cast<int>(9.025f / 0.025f + 0.005f)};
    EXPECT_EQ(markers, want);
    EXPECT_GT(red, 60);
}

// At debug level 4 and above nothing is drawn and no plot data file is written.
TEST(Synthetic, DebugLevelFourDrawsNothing) {
    DrawnRun run(DATA + "/display/synth-x-day.VXO", 4);
    ASSERT_EQ(run.records.size(), 1u);
    EXPECT_TRUE(run.records[0].prims.empty());
    EXPECT_TRUE(run.read("TRACE.DAT").empty());
    EXPECT_FALSE(std::filesystem::exists(run.dir.file("RECAL_OTRACE.DAT")));
}
