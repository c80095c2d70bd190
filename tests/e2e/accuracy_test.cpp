// End-to-end accuracy on synthetic ionograms whose true profile is known. Each file of
// tests/data/accuracy is run through the program's record loop (read, prepare, invert, the
// products at a 10 km table step and a 0.01 fit accuracy, update and write) and every
// record's results are compared with the synthesiser's truth:
//   valley.VXO   profiles that agree with the inversion's valley model: a noon E and F2
//                layer whose bottomside meets foE 4.4 km above hmE with the shallow valley
//                the width law gives at the zenith, and a night F2 layer without E layer
//                observed from 0.5 MHz (steps 0.1/0.05/0.025 MHz, with and without noise);
//   presets.VXO  the four general presets at steps 0.1/0.05/0.025 MHz, without noise and
//                with 1.5 km of noise on every virtual height; their true valleys are
//                wider than the model's, which shifts the F heights (the model's
//                assumption, not a fault).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "pipeline/zelk.hpp"
#include "zelk_calls.hpp"
#include "driver/run.hpp"
#include "driver/vxo_steps.hpp"
#include "truth.hpp"

using namespace zelk;
namespace fs = std::filesystem;

namespace {

constexpr float MISSING = 9999.0f;

bool valid(float x, float limit = 9998.5f) { return std::isfinite(x) && std::fabs(x) < limit; }

// What one record left behind.
struct Result {
    int16_t ISTAT = 0;
    float foF2 = MISSING, hmF2 = MISSING, hmF1 = MISSING, ZME = MISSING, HHALF = MISSING;
    float TEC = MISSING, BTEC = 0.0f, VW = 0.0f, VD = 0.0f, B0 = MISSING, B1 = MISSING;
    std::vector<float> h, f;   // the N(h) table written (groups 51, 52)
    inversion::MadeBy made_by = inversion::MadeBy::STANDARD;
};

class Capture : public driver::Frontend {
public:
    std::vector<Result> out;
    void record_done(const Zelk& z, const driver::RecordInfo&) override {
        const auto& r = z.rec;
        Result x;
        x.ISTAT = z.inv.IQUALE(2);
        x.foF2 = r.SCALED(1);
        x.hmF2 = r.SCALED(32);
        x.hmF1 = r.SCALED(33);
        x.HHALF = r.SCALED(34);
        x.ZME = r.IDX(39) >= 3 ? r.PCOEFE(3) : r.SCALED(15);
        x.TEC = r.SCALED(39);
        x.B0 = r.SCALED(41);
        x.B1 = r.SCALED(42);
        x.BTEC = z.prod.BTEC;
        x.made_by = z.inv.made_by;
        if (r.IDX(42) >= 2) {
            x.VW = r.VALLEY(1);
            x.VD = r.VALLEY(2);
        }
        for (int i = 1; i <= r.IDX(51); ++i) {
            x.h.push_back(r.PRFHT(i));
            x.f.push_back(r.PRFFN(i));
        }
        out.push_back(std::move(x));
    }
};

// Runs every record of a test file as the batch program does with --hstep 10 --qpacc 0.01.
// refine: the parts of the refined mode in use (none: the standard mode).
// The runs are deterministic: each file runs once per set of parts in this program.
std::vector<Result> run_file(const std::string& name, const inversion::RefineOptions& refine = {}) {
    static std::map<std::string, std::vector<Result>> done;
    const std::string key = name + (refine.valley ? " valley" : "") + (refine.xstart ? " xstart" : "") +
                            (refine.scaled_fc ? " fc" : "") + (refine.f1_roots ? " f1" : "") +
                            (refine.gap ? " gap" : "");
    if (const auto it = done.find(key); it != done.end()) return it->second;
    auto z = std::make_unique<Zelk>();
    z->inv.refine = refine;
    std::ostringstream diag;
    z->log.out = &diag;
    z->mod.data_dirs = {ZELK_SOURCE_DATA};
    z->run.HSTEP = 10.0f;
    z->run.QPACC = 0.01f;
    Capture cap;
    const fs::path out =
        fs::temp_directory_path() / ("zelk_accuracy_" + fs::path(name).filename().string() + ".430");
    std::vector<driver::FileJob> jobs{{std::string(ZELK_TEST_DATA) + "/accuracy/" + name, out.string()}};
    driver::VxoSteps steps;
    driver::run_files(*z, jobs, cap, steps, false);
    fs::remove(out);
    done[key] = cap.out;
    return cap.out;
}

// The figures of one record against its truth (output minus truth).
struct Figures {
    float dfoF2 = NAN, dhmF2 = NAN, dhmF1 = NAN;   // MHz, km, km (NaN: no F1)
    float dh_max = 0, dh_mean = 0;                 // |table height - true height| (km)
    int rows = 0;                                  // table rows compared
    float dhF_max = 0, dhF_mean = 0;               // the same over the F-layer rows alone
    int rowsF = 0;
    float dbtec = NAN;                             // bottomside content, % of the truth's
    float dtec = NAN;                              // total content (TECU)
};

// Table rows compared: plasma frequency at or above the lowest echo, height up to the
// output F2 peak; a row at or below the output E peak is compared with the true E side,
// rows inside the output valley are left out, and on the F side so are rows whose plasma
// frequency lies inside the true valley band (at or below the true foE) or above foF2.
Figures measure(const Result& r, const e2e::Truth& t) {
    Figures g;
    g.dfoF2 = r.foF2 - static_cast<float>(t.foF2);
    g.dhmF2 = r.hmF2 - static_cast<float>(t.hmF2);
    if (t.hmF1 > 0 && valid(r.hmF1)) g.dhmF1 = r.hmF1 - static_cast<float>(t.hmF1);
    if (t.btec > 0) g.dbtec = static_cast<float>(100.0 * (r.BTEC / t.btec - 1.0));
    if (valid(r.TEC)) g.dtec = r.TEC - static_cast<float>(t.tec);
    double sum = 0.0, sumF = 0.0;
    for (std::size_t i = 0; i < r.h.size(); ++i) {
        const double h = r.h[i], f = r.f[i];
        if (f < t.lowest - 1e-6 || h > r.hmF2 + 1e-3) continue;
        if (valid(r.ZME) && h <= r.ZME + 1e-3) {
            if (t.foE > 0 && f > t.foE + 1e-6) continue;
        } else if (valid(r.ZME) && h < r.ZME + r.VW - 1e-3) {
            continue;
        } else if ((t.VW > 0 && f <= t.foE + 1e-6) || f > t.foF2 + 1e-6) {
            continue;
        }
        const double ht = t.height(f);
        if (!std::isfinite(ht)) continue;
        const auto d = static_cast<float>(std::fabs(h - ht));
        g.dh_max = std::max(g.dh_max, d);
        sum += d;
        ++g.rows;
        if (!(valid(r.ZME) && h <= r.ZME + 1e-3)) {
            g.dhF_max = std::max(g.dhF_max, d);
            sumF += d;
            ++g.rowsF;
        }
    }
    if (g.rows > 0) g.dh_mean = static_cast<float>(sum / g.rows);
    if (g.rowsF > 0) g.dhF_mean = static_cast<float>(sumF / g.rowsF);
    return g;
}

void print(const e2e::Truth& t, const Result& r, const Figures& g) {
    std::printf("    %-28s dfoF2 %+.3f dhmF2 %+6.2f dhmF1 %+6.2f |dh| max %5.2f mean %5.2f (%2d rows)"
                " BTEC %+6.2f %% dTEC %+6.2f VW %6.2f/%6.2f VD %.3f/%.3f\n",
                t.name.c_str(), g.dfoF2, g.dhmF2, g.dhmF1, g.dh_max, g.dh_mean, g.rows, g.dbtec,
                g.dtec, r.VW, t.VW, r.VD, t.VD);
}

// Measured figures of a record, pinned: a record passes when it does no worse than these
// plus a margin (0.005 MHz on foF2, 1.5 km on hmF2, 2 km on hmF1 and on the largest table
// difference, 1 km on the mean, 1 percentage point on the bottomside content, 0.5 TECU
// on the total), so that a change that spoils a profile or a product fails.
struct Pinned {
    const char* name;
    float dfoF2, dhmF2, dhmF1, dh_max, dh_mean, dbtec, dtec;
};

void check_pinned(const Figures& g, const Pinned& e) {
    SCOPED_TRACE(e.name);
    EXPECT_LE(std::fabs(g.dfoF2), std::fabs(e.dfoF2) + 0.005f);
    EXPECT_LE(std::fabs(g.dhmF2), std::fabs(e.dhmF2) + 1.5f);
    if (std::isnan(e.dhmF1)) {
        EXPECT_TRUE(std::isnan(g.dhmF1));
    } else {
        EXPECT_LE(std::fabs(g.dhmF1), std::fabs(e.dhmF1) + 2.0f);
    }
    EXPECT_LE(g.dh_max, e.dh_max + 2.0f);
    EXPECT_LE(g.dh_mean, e.dh_mean + 1.0f);
    EXPECT_LE(std::fabs(g.dbtec), std::fabs(e.dbtec) + 1.0f);
    EXPECT_LE(std::fabs(g.dtec), std::fabs(e.dtec) + 0.5f);
}

// Largest relative difference between the true plasma frequency and the bottomside model
// fN = foF2 sqrt(exp(-x^B1)/cosh(x)), x = (hmF2 - h)/B0, with the record's shape parameters
// B0, B1 and the true peak, over the upper half of the bottomside (41 heights from halfway
// between the base HBASE and hmF2 up to hmF2).
double shape_misfit(const e2e::Truth& t, double B0, double B1, double HBASE) {
    double worst = 0.0;
    for (int k = 0; k <= 40; ++k) {
        const double h = HBASE + (t.hmF2 - HBASE) * (0.5 + 0.5 * k / 40.0);
        const double x = (t.hmF2 - h) / B0;
        const double fi = t.foF2 * std::sqrt(std::exp(-std::pow(x, B1)) / std::cosh(x));
        const double ft = t.fn(h);
        worst = std::max(worst, std::fabs(fi - ft) / ft);
    }
    return worst;
}

// Runs a file, checks that every record was inverted and returns the figures (listed on
// standard output when verbose).
std::vector<Figures> run_and_measure(const std::string& file, std::vector<e2e::Truth>& truth,
                                     std::vector<Result>& res, bool verbose = true,
                                     const inversion::RefineOptions& refine = {}) {
    truth = e2e::read_truth(std::string(ZELK_TEST_DATA) + "/accuracy/" + file + ".truth");
    res = run_file(file + ".VXO", refine);
    std::vector<Figures> out;
    EXPECT_EQ(res.size(), truth.size());
    for (std::size_t i = 0; i < std::min(res.size(), truth.size()); ++i) {
        EXPECT_EQ(res[i].ISTAT, 2) << truth[i].name;
        out.push_back(measure(res[i], truth[i]));
        if (verbose) print(truth[i], res[i], out.back());
    }
    return out;
}

// Valley-consistent records (km, MHz, %, TECU). The total content is about 8.4 TECU high
// at noon because the topside scale height is derived from the bottomside (74 km against
// the synthesiser's 50 km topside); the bottomside content is what the inversion controls.
// At night the unobserved part below 0.5 MHz is extrapolated under a 56 km model valley;
// at 0.1 MHz the F2 peak is placed 2.3 km high, which costs 6.6 % of bottomside content.
constexpr Pinned VALLEY_CASES[] = {
    {"noon-0.1", 0.001f, 0.20f, NAN, 0.94f, 0.64f, -0.38f, 8.32f},
    {"noon-0.05", 0.001f, 0.25f, NAN, 0.99f, 0.69f, -0.39f, 8.32f},
    {"noon-0.025", 0.001f, 0.54f, NAN, 1.05f, 0.66f, -0.10f, 8.47f},
    {"noon-0.1-noise", 0.001f, 0.28f, NAN, 1.05f, 0.61f, -0.25f, 8.37f},
    {"noon-0.05-noise", 0.001f, 0.74f, NAN, 1.31f, 0.94f, -0.18f, 8.44f},
    {"noon-0.025-noise", 0.001f, 0.73f, NAN, 1.38f, 0.88f, -0.13f, 8.44f},
    {"solstice-0.05", 0.001f, 0.25f, NAN, 0.83f, 0.55f, -0.28f, 8.72f},
    {"night-0.1", 0.003f, 2.32f, NAN, 5.03f, 2.21f, 6.57f, 0.37f},
    {"night-0.05", -0.003f, -2.06f, NAN, 7.16f, 2.15f, 0.33f, -0.06f},
    {"night-0.025", -0.003f, -2.44f, NAN, 6.36f, 2.33f, 0.27f, -0.06f},
    {"night-0.05-noise", -0.003f, -2.35f, NAN, 7.69f, 2.37f, 0.21f, -0.07f},
};

// General presets (their valleys are 23 to 71 km wide against the model's 5 to 70 km). At
// 0.1 MHz the critical frequency is searched in a bracket one step wide above the scaled
// line, so the day F2 peak is set at 9.05 instead of 9.02 MHz and 10 km high; at night at
// 0.1 MHz the F2 layer is solved in gap mode, which stops at order 1 (the order-2 fit fails
// the monotonicity check), and the bottomside comes out 16 km high on average.
constexpr Pinned PRESET_CASES[] = {
    {"midlat-day-0.1", 0.030f, 10.17f, 10.74f, 15.01f, 4.76f, 12.33f, 5.55f},
    {"midlat-day-0.1-noise", 0.030f, 9.91f, 11.08f, 14.83f, 4.76f, 11.94f, 5.44f},
    {"midlat-day-0.05", 0.005f, -0.08f, -0.10f, 14.79f, 4.01f, 3.85f, 3.03f},
    {"midlat-day-0.05-noise", 0.005f, 0.25f, 0.04f, 14.69f, 3.84f, 4.00f, 3.08f},
    {"midlat-day-0.025", -0.007f, -3.67f, -5.38f, 14.51f, 4.45f, 0.31f, 1.94f},
    {"midlat-day-0.025-noise", -0.007f, -3.80f, -5.40f, 14.61f, 4.59f, 0.34f, 1.94f},
    {"midlat-night-0.1", -0.009f, -0.65f, NAN, 20.53f, 15.84f, -24.68f, -1.63f},
    {"midlat-night-0.1-noise", -0.009f, -0.97f, NAN, 20.36f, 15.61f, -24.87f, -1.64f},
    {"midlat-night-0.05", -0.003f, -0.00f, NAN, 4.93f, 2.47f, -3.81f, -0.20f},
    {"midlat-night-0.05-noise", -0.003f, -0.03f, NAN, 4.98f, 2.44f, -3.82f, -0.20f},
    {"midlat-night-0.025", -0.003f, 0.46f, NAN, 6.43f, 3.04f, -3.80f, -0.19f},
    {"midlat-night-0.025-noise", -0.003f, 0.28f, NAN, 6.18f, 2.79f, -3.67f, -0.18f},
    {"equatorial-day-0.1", -0.005f, -4.35f, -1.13f, 39.72f, 7.19f, 0.59f, 16.19f},
    {"equatorial-day-0.1-noise", -0.005f, -4.13f, -0.97f, 39.52f, 7.09f, 0.64f, 16.24f},
    {"equatorial-day-0.05", -0.005f, -4.64f, -6.97f, 31.43f, 6.36f, 0.71f, 16.33f},
    {"equatorial-day-0.05-noise", -0.005f, -4.85f, -6.62f, 31.43f, 6.59f, 0.87f, 16.45f},
    {"equatorial-day-0.025", -0.001f, -3.39f, -10.22f, 31.35f, 6.04f, 1.29f, 16.86f},
    {"equatorial-day-0.025-noise", -0.001f, -3.40f, -9.78f, 31.33f, 5.97f, 1.28f, 16.88f},
    {"high-foF2-0.1", 0.005f, 0.47f, -0.89f, 21.52f, 4.73f, 3.37f, 5.56f},
    {"high-foF2-0.1-noise", 0.005f, 0.85f, -0.92f, 21.80f, 4.64f, 3.69f, 5.78f},
    {"high-foF2-0.05", 0.005f, -0.48f, -7.01f, 15.91f, 4.23f, 2.91f, 5.18f},
    {"high-foF2-0.05-noise", 0.005f, -0.27f, -7.00f, 15.94f, 4.01f, 2.78f, 5.05f},
    {"high-foF2-0.025", -0.007f, -2.92f, -3.00f, 15.76f, 4.01f, 0.12f, 2.79f},
    {"high-foF2-0.025-noise", -0.007f, -2.63f, -3.05f, 15.80f, 3.87f, 0.19f, 2.82f},
};

}  // namespace

// Profiles consistent with the valley model: the valley found equals the true one, the F2
// peak and the N(h) table lie on the truth within a kilometre or two, the bottomside
// content is within 2 % of the truth's (1 % at noon), noise of 1 km included, and the
// bottomside model with the record's B0 and B1 follows the upper half of the true F2
// bottomside within 1 % in plasma frequency at noon, 2.5 % at night (4.5 % at 0.1 MHz).
TEST(Accuracy, ValleyConsistentProfiles) {
    std::vector<e2e::Truth> truth;
    std::vector<Result> res;
    const std::vector<Figures> got = run_and_measure("valley", truth, res);
    ASSERT_EQ(got.size(), std::size(VALLEY_CASES));
    for (std::size_t i = 0; i < got.size(); ++i) {
        const e2e::Truth& t = truth[i];
        const Figures& g = got[i];
        ASSERT_EQ(t.name, VALLEY_CASES[i].name);
        check_pinned(g, VALLEY_CASES[i]);
        SCOPED_TRACE(t.name);
        EXPECT_GE(g.rows, 12);
        if (t.foE > 0) {   // noon: E layer, 4.4 km valley
            EXPECT_NEAR(res[i].VW, t.VW, 0.05);
            EXPECT_NEAR(res[i].VD, t.VD, 0.003);
            EXPECT_LE(std::fabs(g.dfoF2), 0.002f);
            EXPECT_LE(std::fabs(g.dhmF2), 1.0f);
            EXPECT_LE(g.dh_max, 1.5f);
            EXPECT_LE(g.dh_mean, 1.0f);
            EXPECT_LE(std::fabs(g.dbtec), 1.0f);
            EXPECT_NEAR(res[i].HHALF, t.height(t.foF2 / std::sqrt(2.0)), 2.0);
            EXPECT_LE(shape_misfit(t, res[i].B0, res[i].B1, t.hmE + t.VW), 0.01);
        } else {           // night: F2 only, from 0.5 MHz
            EXPECT_LE(std::fabs(g.dfoF2), 0.005f);
            EXPECT_LE(std::fabs(g.dhmF2), 2.5f);
            EXPECT_LE(g.dh_mean, 2.5f);
            const double misfit = shape_misfit(t, res[i].B0, res[i].B1, t.height(t.lowest));
            if (t.step < 0.09) {
                EXPECT_LE(std::fabs(g.dbtec), 2.0f);
                EXPECT_LE(misfit, 0.025);
            } else {
                EXPECT_LE(misfit, 0.045);
            }
        }
    }
}

// The four presets at 0.1, 0.05 and 0.025 MHz, each without and with 1.5 km of noise.
TEST(Accuracy, PresetsAtThreeStepsWithAndWithoutNoise) {
    std::vector<e2e::Truth> truth;
    std::vector<Result> res;
    const std::vector<Figures> got = run_and_measure("presets", truth, res);
    ASSERT_EQ(got.size(), std::size(PRESET_CASES));
    for (std::size_t i = 0; i < got.size(); ++i) {
        ASSERT_EQ(truth[i].name, PRESET_CASES[i].name);
        check_pinned(got[i], PRESET_CASES[i]);
        EXPECT_GE(got[i].rows, 10) << truth[i].name;
    }
}

// zelk-batch with --hstep 10 --qpacc 0.01 --summary on the valley-consistent file: every
// record is inverted, its summary row carries what the library gave (so the figures above
// hold for the batch program) and a quasi-parabolic fit.
TEST(Accuracy, BatchProgramSummaryCarriesTheSameResults) {
    std::vector<e2e::Truth> truth;
    std::vector<Result> res;
    run_and_measure("valley", truth, res, false);
    const fs::path csv = fs::temp_directory_path() / "zelk_accuracy_summary.csv";
    const std::string cmd = std::string(ZELK_BATCH_EXE) + " --hstep 10 --qpacc 0.01 --summary " +
                            csv.string() + " -o NONE " + ZELK_TEST_DATA +
                            "/accuracy/valley.VXO > /dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::ifstream in(csv);
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    auto split = [](const std::string& l) {
        std::vector<std::string> f;
        std::stringstream ss(l);
        for (std::string x; std::getline(ss, x, ',');) f.push_back(x);
        return f;
    };
    const std::vector<std::string> head = split(line);
    auto col = [&](const char* name) {
        return static_cast<std::size_t>(std::find(head.begin(), head.end(), name) - head.begin());
    };
    std::size_t n = 0;
    for (; std::getline(in, line) && n < res.size(); ++n) {
        const std::vector<std::string> f = split(line);
        SCOPED_TRACE(truth[n].name);
        ASSERT_GT(f.size(), col("n_qp"));
        EXPECT_EQ(f[col("istat")], "2");
        EXPECT_NEAR(std::stod(f[col("foF2")]), res[n].foF2, 0.0015);
        EXPECT_NEAR(std::stod(f[col("hmF2")]), res[n].hmF2, 0.0015);
        EXPECT_NEAR(std::stod(f[col("hhalf")]), res[n].HHALF, 0.0015);
        EXPECT_NEAR(std::stod(f[col("TEC")]), res[n].TEC, 0.0015);
        EXPECT_GT(std::stoi(f[col("n_qp")]), 0);
    }
    EXPECT_EQ(n, res.size());
    fs::remove(csv);
}

// ---- The refined mode ------------------------------------------------------------------------
// refine.VXO: profiles whose unseen part differs from the standard model (valleys 20, 45 and
// 70 km wide; a night layer at 450 and 600 km over an E layer below the lowest frequency; a
// day E layer below the lowest frequency; an F trace starting 1.5 MHz above foE), at 0.1,
// 0.05 and 0.025 MHz, clean and with 1.5 km noise and 5 % dropouts, with and without X
// traces. f1ledge.VXO: equatorial and high-foF2 days with an F1 ledge, hmF2 and foF2 swept.

namespace {

inversion::RefineOptions all_parts() {
    inversion::RefineOptions r;
    r.valley = r.xstart = r.scaled_fc = r.f1_roots = r.gap = true;
    return r;
}

// Figures of a group of records: mean of the F mean |dh|, largest F |dh|, mean |dhmF2| (km).
struct Group {
    float mean = 0, max = 0, hmF2 = 0;
    int n = 0;
};

bool has_x(const std::string& name) { return name.size() > 2 && name.compare(name.size() - 2, 2, "-x") == 0; }

Group group_of(const std::vector<Figures>& g, const std::vector<e2e::Truth>& t, const std::string& prefix, int x) {
    Group s;
    for (std::size_t i = 0; i < g.size(); ++i) {
        if (t[i].name.rfind(prefix, 0) != 0 || (x >= 0 && has_x(t[i].name) != (x == 1))) continue;
        s.mean += g[i].dhF_mean;
        s.max = std::max(s.max, g[i].dhF_max);
        s.hmF2 += std::fabs(g[i].dhmF2);
        ++s.n;
    }
    if (s.n > 0) {
        s.mean /= static_cast<float>(s.n);
        s.hmF2 /= static_cast<float>(s.n);
    }
    return s;
}

}  // namespace

// Measured figures of the groups of refine.VXO (F-layer rows of the 10 km table, km):
// mean of the records' mean |dh|, largest |dh|, mean |dhmF2|, standard beside refined.
struct PinnedGroup {
    const char* prefix;
    int x;   // 1 with X traces, 0 without
    Group standard, refined;
};
constexpr PinnedGroup REFINE_GROUPS[] = {
    {"wide-valley", 1, {14.44f, 65.06f, 3.72f, 18}, {1.57f, 19.88f, 0.91f, 18}},
    {"wide-valley", 0, {14.45f, 64.68f, 3.44f, 18}, {4.15f, 28.21f, 2.01f, 18}},
    {"lifted-night", 1, {39.09f, 153.23f, 13.85f, 12}, {1.07f, 5.52f, 0.50f, 12}},
    {"lifted-night", 0, {39.08f, 153.21f, 13.95f, 12}, {1.46f, 7.88f, 0.41f, 12}},
    {"e-below", 1, {11.74f, 30.85f, 6.11f, 6}, {1.46f, 12.14f, 1.04f, 6}},
    {"e-below", 0, {11.74f, 30.85f, 6.04f, 6}, {4.95f, 30.21f, 2.63f, 6}},
    {"late-f", 1, {31.91f, 64.77f, 13.41f, 6}, {0.74f, 4.57f, 0.60f, 6}},
    {"late-f", 0, {31.86f, 64.85f, 14.68f, 6}, {5.31f, 20.80f, 2.57f, 6}},
    {"", 1, {23.59f, 153.23f, 8.34f, 42}, {1.29f, 19.88f, 0.77f, 42}},
    {"", 0, {23.58f, 153.21f, 8.42f, 42}, {3.66f, 30.21f, 1.72f, 42}},
};

// Both modes on refine.VXO: every record inverted by the refined mode itself, the groups'
// figures as pinned (the standard ones unchanged within 0.3 km, the refined ones no worse
// than pinned plus 0.5 km on the means and 2 km on the largest difference), and no record
// where the refined mode's mean |dh| exceeds the standard one's by more than 1 km.
TEST(RefinedAccuracy, UnseenStartCasesBothModes) {
    std::vector<e2e::Truth> truth, truth2;
    std::vector<Result> std_res, ref_res;
    const std::vector<Figures> std_g = run_and_measure("refine", truth, std_res, false);
    const std::vector<Figures> ref_g = run_and_measure("refine", truth2, ref_res, false, all_parts());
    ASSERT_EQ(std_g.size(), 84u);
    ASSERT_EQ(ref_g.size(), std_g.size());
    for (const PinnedGroup& p : REFINE_GROUPS) {
        SCOPED_TRACE(std::string(p.prefix) + (p.x ? " with X" : " without X"));
        const Group a = group_of(std_g, truth, p.prefix, p.x), b = group_of(ref_g, truth, p.prefix, p.x);
        std::printf("    %-14s %-4s standard %6.2f / %6.2f hmF2 %5.2f   refined %6.2f / %6.2f hmF2 %5.2f\n",
                    p.prefix, p.x ? "X" : "no X", a.mean, a.max, a.hmF2, b.mean, b.max, b.hmF2);
        EXPECT_EQ(a.n, p.standard.n);
        EXPECT_NEAR(a.mean, p.standard.mean, 0.3f);
        EXPECT_NEAR(a.max, p.standard.max, 0.3f);
        EXPECT_NEAR(a.hmF2, p.standard.hmF2, 0.3f);
        EXPECT_LE(b.mean, p.refined.mean + 0.5f);
        EXPECT_LE(b.max, p.refined.max + 2.0f);
        EXPECT_LE(b.hmF2, p.refined.hmF2 + 0.5f);
        EXPECT_LT(b.mean, a.mean);
    }
    for (std::size_t i = 0; i < ref_g.size(); ++i) {
        SCOPED_TRACE(truth[i].name);
        EXPECT_EQ(ref_res[i].ISTAT, 2);
        EXPECT_TRUE(ref_res[i].made_by == inversion::MadeBy::REFINED);
        EXPECT_LE(ref_g[i].dhF_mean, std_g[i].dhF_mean + 1.0f);
        EXPECT_GT(ref_g[i].rowsF, 5);
    }
}

// The refined mode on the accuracy cases of the standard mode (valley.VXO, presets.VXO) and on
// the F1-ledge days (f1ledge.VXO, the 191 records both modes invert): no record's mean |dh|
// more than 1 km above the standard one's, but for one where the trace leaves the valley
// open and the fitted one lies off the truth: the standard valley happens to lie on the true
// one (0.6 km) and the fitted one gives 1.9 km. For it the refined mode's own measured figure
// is pinned, so that it gets no worse. (On high foF2 at 0.1 MHz with noise the depths that
// fit the foot of the trace equally well are all deeper than the true valley, 60 km wide
// against the true 36 km, 10.9 km against 4.6; the whole trace fits the standard valley
// better, and it stands.)
// The 9 records the standard mode leaves at status 25 are the next test's.
TEST(RefinedAccuracy, NeverWorseThanStandardOnTheAccuracyCases) {
    struct Exception {
        const char* file;
        std::size_t record;
        float dh_mean;
    };
    constexpr Exception EXCEPTIONS[] = {{"f1ledge", 191, 1.90f}};
    for (const char* file : {"valley", "presets", "f1ledge"}) {
        const std::vector<e2e::Truth> truth =
            e2e::read_truth(std::string(ZELK_TEST_DATA) + "/accuracy/" + file + ".truth");
        const std::vector<Result> a = run_file(std::string(file) + ".VXO");
        const std::vector<Result> b = run_file(std::string(file) + ".VXO", all_parts());
        ASSERT_EQ(a.size(), truth.size());
        ASSERT_EQ(b.size(), truth.size());
        int compared = 0, better = 0;
        for (std::size_t i = 0; i < a.size(); ++i) {
            SCOPED_TRACE(std::string(file) + " " + truth[i].name + " #" + std::to_string(i));
            if (std::string(file) != "f1ledge") {
                EXPECT_EQ(a[i].ISTAT, 2);
            }
            if (a[i].ISTAT != 2) continue;
            ASSERT_EQ(b[i].ISTAT, 2);
            const Figures fa = measure(a[i], truth[i]), fb = measure(b[i], truth[i]);
            ++compared;
            if (fb.dh_mean < fa.dh_mean - 1.0f) ++better;
            float pinned = 0.0f;
            for (const Exception& e : EXCEPTIONS)
                if (e.file == std::string(file) && e.record == i) pinned = e.dh_mean;
            if (pinned > 0.0f)
                EXPECT_LE(fb.dh_mean, pinned + 0.5f);
            else
                EXPECT_LE(fb.dh_mean, fa.dh_mean + 1.0f);
        }
        std::printf("    %-8s %3d records, refined better by more than 1 km on %d\n", file, compared, better);
    }
}

// f1ledge.VXO: the records the standard mode leaves at status 25 or 11 (9 of 200) all get a
// profile in the refined mode (mean |dh| of the F rows 1.85 km on average, worst 5.31 km);
// every record the standard mode inverts is inverted by the refined mode too.
TEST(RefinedAccuracy, F1LedgeRecordsRejectedForTheirRootsGetProfiles) {
    const std::vector<e2e::Truth> truth =
        e2e::read_truth(std::string(ZELK_TEST_DATA) + "/accuracy/f1ledge.truth");
    const std::vector<Result> a = run_file("f1ledge.VXO");
    const std::vector<Result> b = run_file("f1ledge.VXO", all_parts());
    ASSERT_EQ(a.size(), truth.size());
    ASSERT_EQ(b.size(), truth.size());
    int rejected = 0, rescued = 0;
    float worst = 0.0f, sum = 0.0f;
    for (std::size_t i = 0; i < a.size(); ++i) {
        SCOPED_TRACE(truth[i].name + " #" + std::to_string(i));
        if (a[i].ISTAT == 2) {
            EXPECT_EQ(b[i].ISTAT, 2);
            continue;
        }
        if (a[i].ISTAT != 25 && a[i].ISTAT != 11) continue;
        ++rejected;
        if (b[i].ISTAT != 2) continue;
        ++rescued;
        // Merged, or solved as an F1 layer of its own above the fitted valley.
        EXPECT_TRUE(b[i].made_by == inversion::MadeBy::REFINED_F1_MERGED ||
                    b[i].made_by == inversion::MadeBy::REFINED);
        const Figures g = measure(b[i], truth[i]);
        worst = std::max(worst, g.dhF_mean);
        sum += g.dhF_mean;
    }
    const float mean = rescued ? sum / static_cast<float>(rescued) : NAN;
    std::printf("    rejected by the standard mode %d, profiles in the refined mode %d, mean |dh| %.2f "
                "(worst %.2f) km\n", rejected, rescued, mean, worst);
    EXPECT_EQ(rejected, 9);
    EXPECT_GE(rescued, rejected * 95 / 100);
    EXPECT_LE(mean, 1.85f + 0.5f);
    EXPECT_LE(worst, 5.31f + 1.0f);
}

// Each part on its own: the scaled critical frequency alone puts the mid-latitude day peak
// at the scaled 9.02 MHz (the standard search puts it at 9.05 MHz, 10 km high); the valley
// fit alone (O trace only) brings the 600 km night layer down from about 62 km too low.
TEST(RefinedAccuracy, PartsOneByOne) {
    inversion::RefineOptions fc;
    fc.scaled_fc = true;
    std::vector<e2e::Truth> truth;
    std::vector<Result> a, b;
    const std::vector<Figures> ga = run_and_measure("presets", truth, a, false);
    const std::vector<Figures> gb = run_and_measure("presets", truth, b, false, fc);
    ASSERT_EQ(truth[0].name, "midlat-day-0.1");
    EXPECT_NEAR(ga[0].dfoF2, 0.030f, 0.001f);
    EXPECT_NEAR(gb[0].dfoF2, 0.0f, 0.0005f);
    EXPECT_GT(ga[0].dhmF2, 9.0f);
    EXPECT_LT(std::fabs(gb[0].dhmF2), 3.0f);

    inversion::RefineOptions valley;
    valley.valley = true;
    const std::vector<Figures> sa = run_and_measure("refine", truth, a, false);
    const std::vector<Figures> sb = run_and_measure("refine", truth, b, false, valley);
    std::size_t k = 0;
    while (k < truth.size() && truth[k].name != "lifted-night-600-0.05") ++k;
    ASSERT_LT(k, truth.size());
    EXPECT_GT(sa[k].dhF_mean, 50.0f);
    EXPECT_LT(sb[k].dhF_mean, 2.0f);
    EXPECT_TRUE(b[k].made_by == inversion::MadeBy::REFINED);
}

// ---- The refined gap mode ----------------------------------------------------------------------
// gap.VXO: night F2 layers without E trace whose F trace starts 0.5 to 1 MHz above the start
// of the F region, so that the F2 layer is solved order by order from the gap (hmF2 310 km
// seen from 1.0 MHz, 280 km from 1.5 MHz, 350 km from 1.2 MHz), at 0.1, 0.05 and 0.025 MHz,
// clean and with 1.5 km noise and 5 % dropouts (tools/cases/accuracy-gap.json).

namespace {

inversion::RefineOptions gap_only() {
    inversion::RefineOptions r;
    r.gap = true;
    return r;
}

// Measured F-layer figures of each record of gap.VXO in the standard mode and with the gap
// part alone: mean and largest |dh| of the F rows and |dhmF2| (km); NAN where the record
// gets no profile. At 0.1 MHz the 310 km layer's order-2 fit turns at the foot of the layer
// and the standard gap mode keeps order 1 (16.7 and 17.4 km high on average); held at the
// foot, orders 2 and 4 are accepted and the solution reaches order 5 (1.7 and 2.0 km), its
// peak 4 km higher than order 1's. Elsewhere no order turns at the foot and nothing changes.
// The 280 km layer at 0.025 MHz is rejected by the height check in every mode (status 8).
struct PinnedGap {
    const char* name;
    float std_mean, std_max, std_hmF2, gap_mean, gap_max, gap_hmF2;
};
constexpr PinnedGap GAP_CASES[] = {
    {"night-310-0.1", 16.68f, 22.38f, 0.32f, 1.68f, 3.18f, 4.22f},
    {"night-310-0.1-noise", 17.39f, 23.10f, 0.95f, 2.04f, 3.49f, 4.46f},
    {"night-310-0.05", 2.47f, 4.93f, 0.00f, 2.47f, 4.93f, 0.00f},
    {"night-310-0.05-noise", 2.17f, 4.72f, 0.24f, 2.17f, 4.72f, 0.24f},
    {"night-310-0.025", 3.04f, 6.43f, 0.46f, 3.04f, 6.43f, 0.46f},
    {"night-310-0.025-noise", 3.27f, 6.60f, 0.48f, 3.27f, 6.60f, 0.48f},
    {"night-280-0.1", 5.03f, 13.06f, 2.44f, 5.03f, 13.06f, 2.44f},
    {"night-280-0.1-noise", 4.21f, 9.69f, 1.55f, 4.21f, 9.69f, 1.55f},
    {"night-280-0.05", 5.51f, 11.85f, 3.79f, 5.51f, 11.85f, 3.79f},
    {"night-280-0.05-noise", 5.96f, 14.88f, 3.71f, 5.96f, 14.88f, 3.71f},
    {"night-280-0.025", NAN, NAN, NAN, NAN, NAN, NAN},
    {"night-280-0.025-noise", 6.58f, 15.67f, 5.00f, 6.58f, 15.67f, 5.00f},
    {"night-350-0.1", 0.28f, 0.72f, 0.87f, 0.28f, 0.72f, 0.87f},
    {"night-350-0.1-noise", 0.47f, 0.83f, 0.11f, 0.47f, 0.83f, 0.11f},
    {"night-350-0.05", 0.53f, 1.10f, 0.11f, 0.53f, 1.10f, 0.11f},
    {"night-350-0.05-noise", 0.90f, 1.81f, 0.08f, 0.90f, 1.81f, 0.08f},
    {"night-350-0.025", 1.29f, 2.65f, 0.77f, 1.29f, 2.65f, 0.77f},
    {"night-350-0.025-noise", 1.22f, 2.33f, 0.76f, 1.22f, 2.33f, 0.76f},
};

// The whole refined mode on gap.VXO is within 1 km of the standard mode on every record but
// four, where the fitted valley (not the gap part, which does not act there) costs 2 to 4
// km: the 350 km layer at 0.05 and 0.025 MHz. Their refined mean |dh| is pinned (km).
struct GapException {
    const char* name;
    float all_mean;
};
constexpr GapException GAP_ALL_EXCEPTIONS[] = {{"night-350-0.05", 2.91f},
                                               {"night-350-0.05-noise", 3.93f},
                                               {"night-350-0.025", 3.28f},
                                               {"night-350-0.025-noise", 5.11f}};

// The refined mode with every part but the gap part.
inversion::RefineOptions without_gap() {
    inversion::RefineOptions r = all_parts();
    r.gap = false;
    return r;
}

}  // namespace

// The late F traces with X traces (refine.VXO, F echoes from 1.5 MHz above foE): the X
// points that reflect below the first O echo join the F layer's least squares in gap mode,
// which takes the F bottomside from the lower orders' guess in the gap to the X trace.
// Measured: valley alone 5.2 km mean on the six records, with xstart 0.8 km (largest 4.6).
TEST(RefinedAccuracy, XTraceFillsTheGapBelowTheFirstOEcho) {
    inversion::RefineOptions valley, both;
    valley.valley = true;
    both.valley = both.xstart = true;
    std::vector<e2e::Truth> truth;
    std::vector<Result> a, b;
    const std::vector<Figures> ga = run_and_measure("refine", truth, a, false, valley);
    const std::vector<Figures> gb = run_and_measure("refine", truth, b, false, both);
    float ma = 0.0f, mb = 0.0f, worst = 0.0f;
    int n = 0;
    for (std::size_t i = 0; i < truth.size(); ++i) {
        if (truth[i].name.rfind("late-f", 0) != 0 || !has_x(truth[i].name)) continue;
        SCOPED_TRACE(truth[i].name);
        EXPECT_EQ(b[i].ISTAT, 2);
        ma += ga[i].dhF_mean;
        mb += gb[i].dhF_mean;
        worst = std::max(worst, gb[i].dhF_max);
        ++n;
    }
    ASSERT_EQ(n, 6);
    std::printf("    late F trace with X: valley alone %.2f km, with X points %.2f km (largest %.2f)\n",
                ma / n, mb / n, worst);
    EXPECT_LT(mb / n, 1.5f);
    EXPECT_LT(mb, ma - 6 * 2.0f);
    EXPECT_LT(worst, 6.0f);
}

// gap.VXO, standard beside the gap part alone: the standard figures unchanged (within 0.3
// km), the gap part's no worse than pinned (0.5 km on the mean, 2 km on the largest
// difference, 1.5 km on hmF2), every record the standard mode inverts inverted, and none
// more than 1 km worse than the standard one. The whole refined mode: the gap part costs no
// record more than 1 km against the refined mode without it, and no record is more than 1 km
// worse than in the standard mode but the four above (no worse than pinned plus 0.5 km).
TEST(RefinedAccuracy, GapModeNightCases) {
    const std::vector<e2e::Truth> truth =
        e2e::read_truth(std::string(ZELK_TEST_DATA) + "/accuracy/gap.truth");
    const std::vector<Result> a = run_file("gap.VXO");
    const std::vector<Result> g = run_file("gap.VXO", gap_only());
    const std::vector<Result> r = run_file("gap.VXO", without_gap());
    const std::vector<Result> b = run_file("gap.VXO", all_parts());
    ASSERT_EQ(truth.size(), std::size(GAP_CASES));
    ASSERT_EQ(a.size(), truth.size());
    ASSERT_EQ(g.size(), truth.size());
    ASSERT_EQ(r.size(), truth.size());
    ASSERT_EQ(b.size(), truth.size());
    for (std::size_t i = 0; i < truth.size(); ++i) {
        const PinnedGap& p = GAP_CASES[i];
        ASSERT_EQ(truth[i].name, p.name);
        SCOPED_TRACE(p.name);
        const Figures fa = measure(a[i], truth[i]), fg = measure(g[i], truth[i]);
        const Figures fb = measure(b[i], truth[i]);
        std::printf("    %-24s standard %6.2f / %6.2f hmF2 %+6.2f   gap %6.2f / %6.2f hmF2 %+6.2f"
                    "   refined %6.2f / %6.2f hmF2 %+6.2f\n", p.name, fa.dhF_mean, fa.dhF_max, fa.dhmF2,
                    fg.dhF_mean, fg.dhF_max, fg.dhmF2, fb.dhF_mean, fb.dhF_max, fb.dhmF2);
        if (std::isnan(p.std_mean)) {
            EXPECT_NE(a[i].ISTAT, 2);
            continue;
        }
        ASSERT_EQ(a[i].ISTAT, 2);
        ASSERT_EQ(g[i].ISTAT, 2);
        EXPECT_NEAR(fa.dhF_mean, p.std_mean, 0.3f);
        EXPECT_NEAR(fa.dhF_max, p.std_max, 0.3f);
        EXPECT_NEAR(std::fabs(fa.dhmF2), p.std_hmF2, 0.3f);
        EXPECT_LE(fg.dhF_mean, p.gap_mean + 0.5f);
        EXPECT_LE(fg.dhF_max, p.gap_max + 2.0f);
        EXPECT_LE(std::fabs(fg.dhmF2), p.gap_hmF2 + 1.5f);
        EXPECT_LE(fg.dhF_mean, fa.dhF_mean + 1.0f);
        if (r[i].ISTAT == 2) {
            ASSERT_EQ(b[i].ISTAT, 2);
            EXPECT_LE(measure(b[i], truth[i]).dhF_mean, measure(r[i], truth[i]).dhF_mean + 1.0f);
        }
        ASSERT_EQ(b[i].ISTAT, 2);
        float pinned = 0.0f;
        for (const GapException& e : GAP_ALL_EXCEPTIONS)
            if (truth[i].name == e.name) pinned = e.all_mean;
        if (pinned > 0.0f)
            EXPECT_LE(measure(b[i], truth[i]).dhF_mean, pinned + 0.5f);
        else
            EXPECT_LE(measure(b[i], truth[i]).dhF_mean, fa.dhF_mean + 1.0f);
    }
    // The night preset at 0.1 MHz, the case the part was made for: 15.8 and 15.6 km mean in
    // the standard mode, 1.3 and 1.6 km with the gap part alone.
    const std::vector<e2e::Truth> pt = e2e::read_truth(std::string(ZELK_TEST_DATA) + "/accuracy/presets.truth");
    const std::vector<Result> ps = run_file("presets.VXO");
    const std::vector<Result> pg = run_file("presets.VXO", gap_only());
    int seen = 0;
    for (std::size_t i = 0; i < pt.size(); ++i) {
        if (pt[i].name.rfind("midlat-night-0.1", 0) != 0) continue;
        SCOPED_TRACE(pt[i].name);
        ++seen;
        ASSERT_EQ(pg[i].ISTAT, 2);
        const Figures fs = measure(ps[i], pt[i]), fg = measure(pg[i], pt[i]);
        std::printf("    %-24s standard %6.2f / %6.2f hmF2 %+6.2f   gap %6.2f / %6.2f hmF2 %+6.2f\n",
                    pt[i].name.c_str(), fs.dhF_mean, fs.dhF_max, fs.dhmF2, fg.dhF_mean, fg.dhF_max, fg.dhmF2);
        EXPECT_GT(fs.dhF_mean, 15.0f);
        EXPECT_LT(fg.dhF_mean, 2.2f);
        EXPECT_LT(fg.dhF_max, 5.0f);
    }
    EXPECT_EQ(seen, 2);
}

// ---- The example series ------------------------------------------------------------------------
// examples/synth-series.VXO (288 records of six stations: day, night, equatorial and high-foF2
// layers, with noise and dropouts; tools/cases/synth-series.json) against its truth
// (accuracy/series.truth). At night the F trace often starts at or below the model foE, so the
// E layer is unseen and ended just below the first F echo; the refined mode fits its peak.
// Measured over the records both modes invert: mean |dh| of the F rows 9.95 km standard, 5.29
// km refined; 19 records are more than 1 km worse in the refined mode, 9 of them on the
// noisiest night (3 km noise, 8 % dropouts), 5 on the finely sampled day, where the valley
// fitted to the trace lies off the true one. Pinned: the means within 0.3 km, and no more
// records worse than measured.
TEST(RefinedAccuracy, ExampleSeries) {
    const std::vector<e2e::Truth> truth =
        e2e::read_truth(std::string(ZELK_TEST_DATA) + "/accuracy/series.truth");
    const std::string file = "../../../examples/synth-series.VXO";
    const std::vector<Result> a = run_file(file), b = run_file(file, all_parts());
    ASSERT_EQ(truth.size(), 288u);
    ASSERT_EQ(a.size(), truth.size());
    ASSERT_EQ(b.size(), truth.size());
    double sa = 0.0, sb = 0.0;
    int n = 0, worse = 0, lost = 0;
    for (std::size_t i = 0; i < truth.size(); ++i) {
        if (a[i].ISTAT == 2 && b[i].ISTAT != 2) ++lost;
        if (a[i].ISTAT != 2 || b[i].ISTAT != 2) continue;
        const Figures fa = measure(a[i], truth[i]), fb = measure(b[i], truth[i]);
        sa += fa.dhF_mean;
        sb += fb.dhF_mean;
        ++n;
        if (fb.dhF_mean > fa.dhF_mean + 1.0f) {
            ++worse;
            std::printf("    worse: #%zu %-16s %6.2f against %6.2f km\n", i + 1, truth[i].name.c_str(),
                        fb.dhF_mean, fa.dhF_mean);
        }
    }
    ASSERT_GT(n, 0);
    std::printf("    %d records: standard %.2f, refined %.2f km; refined worse by more than 1 km on %d\n", n,
                sa / n, sb / n, worse);
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(n, 267);
    EXPECT_NEAR(sa / n, 9.95, 0.3);
    EXPECT_NEAR(sb / n, 5.29, 0.3);
    EXPECT_LE(worse, 19);
}
