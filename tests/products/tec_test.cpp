// Electron content: the layer integrals against a direct integration of the profile, the
// valley and F1 terms, the coefficient files and the failure branches.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "pipeline/zelk.hpp"
#include "zelk_calls.hpp"
#include "inversion/inversion.hpp"
#include "products/products.hpp"
#include "profile.hpp"

using namespace zelk;
namespace fs = std::filesystem;

namespace {

// 0.001238 x integral of fN^2 dh over one region of z.inv, by the midpoint rule in u = ln(f/fe)
// / ln(fs/fe) with t^2 = u (fine enough for 1e-6 relative).
double layer_content(const inversion::RegionProfile& r) {
    if (!(r.FE > r.FS)) return 0.0;
    const int n = 20000;
    double s = 0.0;
    const double lr = std::log(r.FS / r.FE);
    auto hgt = [&](double t) {
        const double f = r.FE * std::exp(t * t * lr);
        return static_cast<double>(inversion::profile_height(r, static_cast<float>(f)));
    };
    for (int i = 0; i < n; ++i) {
        const double t0 = 1.0 - double(i) / n, t1 = 1.0 - double(i + 1) / n, tm = 0.5 * (t0 + t1);
        const double f = r.FE * std::exp(tm * tm * lr);
        s += f * f * (hgt(t1) - hgt(t0));
    }
    return 0.001238 * s;
}

// The valley of z.inv, integrated directly from its three parts.
double valley_content(const Zelk& z) {
    const auto& v = z.inv;
    if (v.VW == 0.0f) return 0.0;
    const double W1 = v.VW / 3.0, fe = v.FC(2), FV = fe - v.VD;
    // Falling side: the E layer's top between FV and fe, stretched to W1.
    inversion::RegionProfile e = inversion::REGION(v, 1);
    const double hfv = inversion::profile_height(e, static_cast<float>(FV));
    inversion::RegionProfile top = e;
    top.FS = static_cast<float>(FV);
    inversion::CONTPRFL(3, e.FS, e.FE, e.A.data(), top.FS, top.A.data());
    const double fall = layer_content(top) * W1 / (v.ZME - hfv);
    return fall + 0.001238 * W1 * (FV * FV + FV * fe + fe * fe) / 3.0 + 0.001238 * W1 * FV * FV;
}

double direct_btec(const Zelk& z) {
    return layer_content(inversion::REGION(z.inv, 1)) + valley_content(z) +
           layer_content(inversion::REGION(z.inv, 2)) + layer_content(inversion::REGION(z.inv, 3));
}

struct Caltec : ::testing::Test {
    std::ostringstream log;
    void run(Zelk& z) {
        z.log.out = &log;
        z.run.HSTEP = 0.0f;
        products::NHTABLE(z, 0);
        products::CALTEC(z);
    }
};

}  // namespace

TEST_F(Caltec, BottomsideMatchesDirectIntegration) {
    for (int variant = 0; variant < 3; ++variant) {
        SCOPED_TRACE(variant);
        Zelk z;
        prof::set(z, variant == 1, variant == 2 ? 0.0f : 30.0f);
        prof::use_source_data(z);
        run(z);
        EXPECT_EQ(z.prod.ITECST, 0);
        const double truth = direct_btec(z);
        EXPECT_NEAR(z.prod.BTEC, truth, 5e-4 * truth);
        EXPECT_GT(z.prod.H, 0.0f);
        EXPECT_LT(z.prod.H, 9999.0f);
        EXPECT_NEAR(z.prod.TTEC, 2.821 * 0.001238 * 64.0 * z.prod.H, 1e-4 * z.prod.TTEC);
        EXPECT_FLOAT_EQ(z.prod.ITEC, z.prod.BTEC + z.prod.TTEC);
    }
    EXPECT_EQ(log.str(), "");
}

TEST_F(Caltec, NoF1AndNoValleyContributeNothing) {
    Zelk z;
    prof::set(z, false, 0.0f);
    prof::use_source_data(z);
    run(z);
    const double e = layer_content(inversion::REGION(z.inv, 1));
    const double f2 = layer_content(inversion::REGION(z.inv, 3));
    EXPECT_NEAR(z.prod.BTEC, e + f2, 5e-4 * (e + f2));
    float c = -1.0f;
    int16_t st = -1;
    products::TECLAYER(z, 3.0f, 3.0f, z.inv.A_F1.data(), c, st);
    EXPECT_EQ(c, 0.0f);
    EXPECT_EQ(st, 0);
    products::TECVALLEY(z, 0.2f, 3.0f, z.inv.A_E.data(), 0.0f, 0.5f, c, st);
    EXPECT_EQ(c, 0.0f);
    // A valley without depth is a slab at foE.
    products::TECVALLEY(z, 0.2f, 3.0f, z.inv.A_E.data(), 12.0f, 0.0f, c, st);
    EXPECT_FLOAT_EQ(c, 0.001238f * 9.0f * 12.0f);
}

TEST_F(Caltec, NotInvertedOrWrongProfile) {
    Zelk z;
    prof::set(z);
    z.inv.ISTAT() = 18;
    run(z);
    EXPECT_EQ(z.prod.ITEC, 9999.0f);
    EXPECT_EQ(z.prod.BTEC, 0.0f);
    EXPECT_EQ(z.prod.H, 9999.0f);
    EXPECT_EQ(log.str(), "");

    prof::set(z);
    z.prod.NPROW1 = 0;
    z.inv.FC(2) = 0.0f;   // the E layer ends at 0 MHz
    z.inv.FC(3) = 0.0f;
    z.log.out = &log;
    products::CALTEC(z);
    EXPECT_EQ(z.prod.ITECST, 1);
    EXPECT_EQ(z.prod.ITEC, 9999.0f);
    EXPECT_EQ(z.prod.TTEC, 0.0f);
    EXPECT_EQ(log.str(), " CANNOT CALCULATE ITEC BECAUSE OF WRONG PROFILE!\n");
}

TEST_F(Caltec, MissingFileAndBinaryPreferredOverText) {
    Zelk z;
    prof::set(z);
    prof::TempCwd cwd;
    z.mod.data_dirs = {"."};
    run(z);
    EXPECT_EQ(z.prod.ITECST, 2);
    EXPECT_EQ(z.prod.ITEC, 9999.0f);
    EXPECT_EQ(z.prod.BTEC, 0.0f);
    EXPECT_EQ(log.str(), "MISSING THE DATA FILE TECCOF.ASC AND CANNOT CALCULATE ITEC!\n");

    // The text form alone.
    fs::copy_file(fs::path(ZELK_SOURCE_DATA) / "TECCOF.ASC", "TECCOF.ASC");
    run(z);
    ASSERT_EQ(z.prod.ITECST, 0);
    const float text = z.prod.BTEC;
    EXPECT_NEAR(text, direct_btec(z), 5e-4 * text);

    // A binary form beside it wins: one whose coefficients are all doubled.
    {
        std::ifstream in(fs::path(ZELK_SOURCE_DATA) / "TECCOF.BIN", std::ios::binary);
        std::ofstream out("TECCOF.BIN", std::ios::binary);
        float v[6];
        while (in.read(reinterpret_cast<char*>(v), sizeof v)) {
            for (int k = 1; k < 6; ++k) v[k] *= 2.0f;
            out.write(reinterpret_cast<const char*>(v), sizeof v);
        }
    }
    run(z);
    // The flat bottom and the rising side of the valley do not use the table.
    const double slabs = 0.001238 * 10.0 * ((2.4 * 2.4 + 2.4 * 3.0 + 9.0) / 3.0 + 2.4 * 2.4);
    EXPECT_NEAR(z.prod.BTEC, 2.0 * text - slabs, 2e-5 * text);
    // Replacing the binary form is noticed (size or time changed): the source copy again.
    fs::remove("TECCOF.BIN");
    fs::copy_file(fs::path(ZELK_SOURCE_DATA) / "TECCOF.BIN", "TECCOF.BIN");
    run(z);
    EXPECT_NEAR(z.prod.BTEC, text, 2e-5f * text);
}

// Within one numbered input file the parsed copy found current is used without looking at the
// disk again; the next input file looks, and sees a replaced file.
TEST_F(Caltec, CoefficientFileLookedUpOncePerInputFile) {
    Zelk z;
    prof::set(z);
    prof::TempCwd cwd;
    z.mod.data_dirs = {"."};
    fs::copy_file(fs::path(ZELK_SOURCE_DATA) / "TECCOF.BIN", "TECCOF.BIN");
    z.prod.FILESEQ = 7;
    run(z);
    ASSERT_EQ(z.prod.ITECST, 0);
    const float btec = z.prod.BTEC;
    fs::remove("TECCOF.BIN");
    run(z);   // the same input file: the copy stands
    EXPECT_EQ(z.prod.ITECST, 0);
    EXPECT_EQ(z.prod.BTEC, btec);
    z.prod.FILESEQ = 8;
    run(z);   // the next one: the file is gone
    EXPECT_EQ(z.prod.ITECST, 2);
    // Unnumbered use looks every time.
    fs::copy_file(fs::path(ZELK_SOURCE_DATA) / "TECCOF.BIN", "TECCOF.BIN");
    z.prod.FILESEQ = 0;
    run(z);
    EXPECT_EQ(z.prod.ITECST, 0);
    fs::remove("TECCOF.BIN");
    run(z);
    EXPECT_EQ(z.prod.ITECST, 2);
}

// A text table with a field that is not a number is refused as a whole, not read with that
// field as zero; the same table intact is used.
TEST_F(Caltec, TextTableWithAFieldThatIsNotANumberIsRefused) {
    Zelk z;
    prof::set(z);
    prof::TempCwd cwd;
    z.mod.data_dirs = {"."};
    auto copy_text_table = [](bool spoil) {
        std::ifstream in(fs::path(ZELK_SOURCE_DATA) / "TECCOF.ASC");
        std::ofstream out("TECCOF.ASC", std::ios::trunc);
        int n = 0;
        for (std::string line; std::getline(in, line);) {
            if (spoil && ++n == 500) line.replace(22, 3, "x.x");
            out << line << '\n';
        }
    };
    copy_text_table(true);
    run(z);
    EXPECT_EQ(z.prod.ITECST, 2);
    EXPECT_EQ(z.prod.ITEC, 9999.0f);
    fs::remove("TECCOF.ASC");
    copy_text_table(false);
    run(z);
    EXPECT_EQ(z.prod.ITECST, 0);
}
