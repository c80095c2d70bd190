// The fast shape fit against the coordinate search, record by record over every example and
// test file: two run contexts, one per fit, take the same records; where both fit the
// bottomside, the misfit of the fast fit's values (formed as the search forms it) must not be
// larger. The differences of the values are summarised on standard output.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "core/fortran_io.hpp"
#include "driver/run.hpp"
#include "iondata/vxo.hpp"
#include "models/b0b1d1.hpp"
#include "pipeline/pipeline.hpp"
#include "pipeline/prepare.hpp"
#include "pipeline/update.hpp"
#include "pipeline/zelk.hpp"

namespace {

using namespace zelk;
namespace fs = std::filesystem;

std::vector<std::string> input_files() {
    std::vector<std::string> out;
    const std::string src = std::string(ZELK_TEST_DATA) + "/../..";
    for (const std::string& dir : {src + "/examples", std::string(ZELK_TEST_DATA), std::string(ZELK_TEST_DATA) + "/accuracy",
                                  std::string(ZELK_TEST_DATA) + "/e2e", std::string(ZELK_TEST_DATA) + "/samples"}) {
        std::vector<std::string> here;
        for (const auto& e : fs::directory_iterator(dir))
            if (e.is_regular_file() && e.path().extension() == ".VXO") here.push_back(e.path().string());
        std::sort(here.begin(), here.end());
        out.insert(out.end(), here.begin(), here.end());
    }
    return out;
}

std::unique_ptr<Zelk> context(bool fast) {
    auto z = std::make_unique<Zelk>();
    z->mod.data_dirs = {ZELK_SOURCE_DATA};
    z->log.IDEBUG = 0;
    z->bot.FAST = fast;
    return z;
}

// One record into z; false at the end of the file. OK: the record was read and inverted.
bool next(Zelk& z, fio::LineReader& in, bool& ok) {
    driver::clear_record_tables(z);
    int32_t IEOF = 0;
    int16_t LREAD = 0, LBAD = 0;
    iondata::READVXO(IEOF, in, z.rec, LREAD, LBAD);
    ok = false;
    if (IEOF != 0 && LREAD == 0) return false;
    if (LBAD != 0 || pipeline::prepare(z) != iondata::PREP_OK) return IEOF == 0;
    pipeline::PROFIL1(z);
    ok = true;
    return IEOF == 0;
}

// The misfit of B0, B1, D1 as the context holds them, formed by the search's evaluation.
float misfit(const models::Bottomside& b) {
    models::Bottomside c = b;
    const int mode = c.FOF1 > 0.0f ? 1 : 0;
    return models::shape_misfit(c, mode);
}

double quantile(std::vector<double> v, double q) {
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(q * static_cast<double>(v.size() - 1))];
}

TEST(ShapeFast, MisfitNeverLargerThanTheSearchAndValuesClose) {
    int compared = 0, fallback = 0, larger = 0, withf1 = 0, far = 0, above = 0;
    std::vector<double> dB0, dB1, dD1;
    double worst = 0.0, worst_exact = 1.0;
    for (const std::string& path : input_files()) {
        auto zs = context(false), zf = context(true);
        fio::LineReader ins, inf;
        ASSERT_TRUE(ins.open(path) && inf.open(path)) << path;
        for (int rec = 1; rec < 100000; ++rec) {
            bool oks = false, okf = false;
            const bool mores = next(*zs, ins, oks), moref = next(*zf, inf, okf);
            ASSERT_EQ(mores, moref) << path;
            ASSERT_EQ(oks, okf) << path;
            // The shape fit does not reach back into the inversion.
            ASSERT_EQ(zs->inv.ISTAT(), zf->inv.ISTAT()) << path << " record " << rec;
            const models::Bottomside &s = zs->bot, &f = zf->bot;
            ASSERT_EQ(s.B0 == 9999.0f, f.B0 == 9999.0f) << path << " record " << rec;
            if (oks && s.B0 != 9999.0f) {
                ++compared;
                if (!f.FASTDONE) ++fallback;
                // The misfit with the model heights solved exactly must not be larger.
                const int mode = s.D1 != 9999.0f ? 1 : 0;
                const double xs = models::fast_misfit(s, mode), xf = models::fast_misfit(f, mode);
                if (xf > xs) {
                    ++larger;
                    worst_exact = std::max(worst_exact, xf / xs);
                    std::cout << path << " record " << rec << ": fast misfit " << xf
                                  << " above the search's " << xs << " (B0 " << f.B0 << "/" << s.B0
                                  << ", B1 " << f.B1 << "/" << s.B1 << ", D1 " << f.D1 << "/" << s.D1 << ")\n";
                }
                // Formed with the search's bisection tolerances (which the search minimises),
                // the fast values may come out slightly above: the ratio is reported and
                // bounded.
                const float es = misfit(s), ef = misfit(f);
                if (ef > es) ++above;
                if (es > 0.0f) worst = std::max(worst, static_cast<double>(ef) / es);
                dB0.push_back(std::fabs(f.B0 - s.B0));
                dB1.push_back(std::fabs(f.B1 - s.B1));
                const bool f1 = s.D1 != 9999.0f;
                if (f1) {
                    ++withf1;
                    dD1.push_back(std::fabs(f.D1 - s.D1));
                }
                if (dB0.back() > 1.0 || dB1.back() > 0.1 || (f1 && dD1.back() > 0.05)) ++far;
            }
            if (!mores) break;
        }
    }
    std::printf("compared %d records (%d with D1), %d fell back to the search, %d beyond the "
                "bars (1 km, 0.1, 0.05); by the bisection misfit %d above the search's, ratio at most %.4f\n",
                compared, withf1, fallback, far, above, worst);
    for (const auto& [name, v] : {std::pair{"|dB0| km", dB0}, std::pair{"|dB1|", dB1}, std::pair{"|dD1|", dD1}})
        std::printf("%-9s median %.3f  90%% %.3f  99%% %.3f  max %.3f\n", name, quantile(v, 0.5),
                    quantile(v, 0.9), quantile(v, 0.99), quantile(v, 1.0));
    EXPECT_GT(compared, 300);
    // With the heights solved exactly, no record may end above the search (each one that
    // does is named above).
    std::printf("exact misfit above the search's on %d records, ratio at most %.5f\n", larger, worst_exact);
    EXPECT_EQ(larger, 0);
    EXPECT_LT(worst, 1.01);
}

}  // namespace

namespace {

// With nothing to compare (no table rows, or no F2 peak above foE) the fast fit declines and
// leaves the parameters as they came, so that the search takes the record.
TEST(ShapeFast, DeclinesWithoutRowsAndLeavesTheStart) {
    zelk::models::Bottomside b;
    b.HMF2 = 300.0f;
    b.FOF2 = 8.0f;
    b.FOE = 3.0f;
    b.HVT = 130.0f;
    b.B0 = 100.0f;
    b.B1 = 2.5f;
    b.NPROW1 = 0;
    float err = -1.0f;
    EXPECT_FALSE(zelk::models::fastb0b1d1(b, 0, err));
    EXPECT_EQ(b.B0, 100.0f);
    EXPECT_EQ(b.B1, 2.5f);
    EXPECT_EQ(err, -1.0f);
    // Rows, but foE not positive: no usable model for any parameters.
    b.NPROW1 = 3;
    for (int i = 1; i <= 3; ++i) {
        b.PRFHT1(i) = 250.0f + 20.0f * static_cast<float>(i);
        b.PRFFN1(i) = 6.0f + static_cast<float>(i) * 0.6f;
    }
    b.FOE = 0.0f;
    EXPECT_FALSE(zelk::models::fastb0b1d1(b, 0, err));
    EXPECT_EQ(b.B0, 100.0f);
}

}  // namespace
