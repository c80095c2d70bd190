// Bottomside shape parameters: the IRI bottomside routines, and B0, B1, D1 of profiles whose
// F2 layer is the IRI bottomside with known parameters.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>
#include <sstream>

#include "core/rounding.hpp"
#include "core/simd.hpp"
#include "pipeline/zelk.hpp"
#include "zelk_calls.hpp"
#include "inversion/inversion.hpp"
#include "models/b0b1d1.hpp"
#include "models/lanes.hpp"
#include "products/products.hpp"

using namespace zelk;
using Products = models::Bottomside;   // the area of the bottomside model

namespace {

// IRI bottomside depth x = (hmF2 - h)/B0 at which fN/foF2 = rho.
double iri_x(double b1, double rho) {
    const double v = -2.0 * std::log(rho);
    double lo = 0.0, hi = 50.0;
    for (int i = 0; i < 200; ++i) {
        const double m = 0.5 * (lo + hi);
        (std::pow(m, b1) + std::log(std::cosh(m)) < v ? lo : hi) = m;
    }
    return 0.5 * (lo + hi);
}

// A profile whose F2 layer (no F1) is the IRI bottomside with B0, B1 (hmF2 300 km, foF2 8 MHz)
// from foE = 3 MHz up: the five coefficients are the least-squares fit in u (20-point Gauss
// on 64 panels of t, u = t^2); the valley is as wide as needed to reach the layer's base.
void iri_profile(Zelk& z, double B0, double B1) {
    auto& v = z.inv;
    v.ISTAT() = 2;
    v.LF1() = 0;
    v.FC(1) = 0.2f;
    v.FC(2) = 3.0f;
    v.FC(3) = 3.0f;
    v.FC(4) = 8.0f;
    v.ZME = 110.0f;
    v.A_E(1) = -18.0f;
    v.A_E(2) = -3.0f;
    v.A_E(3) = 0.6f;
    v.ZMF2 = 300.0f;
    const double lr = std::log(3.0 / 8.0);
    static const double gx[10] = {0.0765265211334973, 0.2277858511416451, 0.3737060887154195,
                                  0.5108670019508271, 0.6360536807265150, 0.7463319064601508,
                                  0.8391169718222188, 0.9122344282513259, 0.9639719272779138,
                                  0.9931285991850949};
    static const double gw[10] = {0.1527533871307258, 0.1491729864726037, 0.1420961093183820,
                                  0.1316886384491766, 0.1181945319615184, 0.1019301198172404,
                                  0.0832767415767048, 0.0626720483341091, 0.0406014298003869,
                                  0.0176140071391521};
    double M[5][6] = {};
    const int panels = 64;
    for (int p = 0; p < panels; ++p) {
        const double a = double(p) / panels, b = double(p + 1) / panels;
        for (int i = 0; i < 20; ++i) {
            const double xi = i < 10 ? -gx[i] : gx[i - 10], wi = gw[i % 10];
            const double t = 0.5 * (a + b) + 0.5 * (b - a) * xi, u = t * t;
            const double w = wi * 0.5 * (b - a) * 2.0 * t;
            const double rho = std::exp(u * lr);
            const double hgt = -B0 * iri_x(B1, rho);
            double phi[5], s = 2 * u - 1;
            double T[5] = {1, s, 0, 0, 0};
            for (int k = 2; k < 5; ++k) T[k] = 2 * s * T[k - 1] - T[k - 2];
            for (int k = 0; k < 5; ++k) phi[k] = t * T[k];
            for (int j = 0; j < 5; ++j) {
                for (int k = 0; k < 5; ++k) M[j][k] += w * phi[j] * phi[k];
                M[j][5] += w * phi[j] * hgt;
            }
        }
    }
    for (int c = 0; c < 5; ++c)
        for (int r = 0; r < 5; ++r) {
            if (r == c) continue;
            const double f = M[r][c] / M[c][c];
            for (int k = 0; k < 6; ++k) M[r][k] -= f * M[c][k];
        }
    float sum = 0.0f;
    for (int k = 0; k < 5; ++k) {
        v.A_F2(k + 1) = static_cast<float>(M[k][5] / M[k][k]);
        sum += v.A_F2(k + 1);
    }
    v.VW = 300.0f + sum - v.ZME;
    v.VD = 0.6f;
    v.ZMF1 = v.ZME + v.VW;
    z.mod.data_dirs = {ZELK_SOURCE_DATA};
    z.run.HSTEP = 0.0f;
    products::NHTABLE(z, 0);
}

// Puts an F1 ledge at 4.5 MHz under the profile of iri_profile: the F2 layer starts at its
// peak, and the 1 km table is made again.
void add_f1_ledge(Zelk& z) {
    auto& v = z.inv;
    const float hF1 = inversion::profile_height(inversion::REGION(v, 3), 4.5f);
    float C[6];
    inversion::CONTPRFL(5, v.FC(3), v.FC(4), v.A_F2.data(), 4.5f, C);
    for (int k = 1; k <= 5; ++k) v.A_F2(k) = C[k];
    v.FC(3) = 4.5f;
    v.LF1() = 1;
    v.ZMF1 = hF1;
    for (int k = 1; k <= 5; ++k) v.A_F1(k) = 0.0f;
    v.A_F1(1) = (v.ZME + v.VW) - hF1;
    products::NHTABLE(z, 0);
}

}  // namespace

TEST(IriBottomside, InversesAndBasisTable) {
    Products P;
    models::CALTIJ(P);
    EXPECT_NEAR(P.TIJ(1, 1), 0.5f, 1e-7);
    EXPECT_NEAR(P.TIJ(1, 2), 1.0f / 6.0f, 1e-7);
    EXPECT_NEAR(P.TIJ(3, 3), 0.233333f, 1e-6);
    EXPECT_EQ(P.TIJ(2, 4), P.TIJ(4, 2));
    P.HMF2 = 300.0f;
    P.FOF2 = 8.0f;
    P.B0 = 100.0f;
    P.B1 = 2.5f;
    P.FOE = 3.0f;
    P.HVT = 150.0f;
    P.D1 = 9999.0f;
    EXPECT_FLOAT_EQ(models::IRI_F2_BASIC1(P, 300.0f), 8.0f);
    const float h = models::IRI_F2_BASIC2(P, 5.0f);
    EXPECT_NEAR(h, 300.0 - 100.0 * iri_x(2.5, 5.0 / 8.0), 2e-3);
    EXPECT_EQ(models::IRI_F2_BASIC2(P, 8.5f), 0.0f);
    EXPECT_EQ(models::IRI_F2_BASIC2(P, 1e-20f), 0.0f);   // below fN(0)
    // The intermediate region joins the valley top at foE...
    models::CALHSTHZ(P, 2);
    ASSERT_NE(P.HZ, 0.0f);
    EXPECT_GT(P.T, 0.0f);
    EXPECT_NEAR(models::XE(P, P.HVT), 3.0f, 2e-4);
    // ...and XH inverts XE over the compared heights.
    for (float f : {3.2f, 4.0f, 6.0f, 7.9f}) {
        const float hh = models::XH(P, f);
        EXPECT_NEAR(models::XE(P, hh), f, 2e-4) << f;
    }
    EXPECT_EQ(models::XH(P, 8.0f), 300.0f);
    EXPECT_EQ(models::XH(P, 2.9f), 0.0f);
    // When the F2 shape reaches foE below the valley top (T < 0) the region still maps the
    // valley top to foE and rises monotonically.
    P.HVT = 215.0f;
    models::CALHSTHZ(P, 2);
    ASSERT_LT(P.T, 0.0f);
    ASSERT_NE(P.HZ, 0.0f);
    EXPECT_NEAR(models::XE(P, P.HVT), 3.0f, 2e-4);
    float last = 0.0f;
    for (float hh = P.HVT; hh <= P.HZ; hh += 1.0f) {
        const float f = models::XE(P, hh);
        EXPECT_GE(f, last) << hh;
        last = f;
    }
}

TEST(ShapeParameters, KnownB0B1ComeBack) {
    const double cases[][2] = {{100.0, 2.5}, {60.0, 1.8}, {140.0, 3.5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "B0 " << c[0] << " B1 " << c[1]);
        Zelk z;
        std::ostringstream log;
        z.log.out = &log;
        iri_profile(z, c[0], c[1]);
        models::CALB0B1D1(z);
        std::printf("    B0 %.2f -> %.2f   B1 %.2f -> %.2f\n", c[0], z.bot.B0, c[1], z.bot.B1);
        EXPECT_NEAR(z.bot.B0, c[0], 0.05 * c[0]);
        EXPECT_NEAR(z.bot.B1, c[1], 0.2);
        EXPECT_EQ(z.bot.D1, 9999.0f);   // no F1 layer
        EXPECT_EQ(z.bot.B0, std::round(z.bot.B0 * 100.0f) / 100.0f);
        EXPECT_EQ(log.str(), "");
        // The display keeps the IRI height of every compared row (F2 peak down to foE).
        EXPECT_FLOAT_EQ(z.bot.HIRI(z.bot.NPROW1), 300.0f);
    }
}

TEST(ShapeParameters, F1LayerGivesD1InRange) {
    Zelk z;
    iri_profile(z, 100.0, 2.5);
    add_f1_ledge(z);
    models::CALB0B1D1(z);
    EXPECT_GE(z.bot.D1, 0.0f);
    EXPECT_LT(z.bot.D1, 90.0f);
    EXPECT_EQ(z.bot.D1, std::round(z.bot.D1 * 100.0f) / 100.0f);
    EXPECT_NEAR(z.bot.B0, 100.0f, 10.0f);
    EXPECT_NE(z.bot.B1, 9999.0f);
}

TEST(ShapeParameters, MissingTableAndNoF2Layer) {
    Zelk z;
    std::ostringstream log;
    z.log.out = &log;
    iri_profile(z, 100.0, 2.5);
    z.mod.data_dirs = {"/nonexistent-zelk-data"};
    models::CALB0B1D1(z);
    EXPECT_EQ(log.str(), " CANNOT FIND THE FILE \"B0B1DT.ASC\"!\n");
    EXPECT_EQ(z.bot.B0, 9999.0f);
    EXPECT_EQ(z.bot.B1, 9999.0f);
    EXPECT_EQ(z.bot.D1, 9999.0f);
    // The text form alone serves as well as the binary one.
    z.mod.data_dirs = {ZELK_SOURCE_DATA};
    models::CALB0B1D1(z);
    const float b0 = z.bot.B0, b1 = z.bot.B1;
    z.bot.B0FILE = {};
    z.inv.FC(4) = z.inv.FC(3);   // foF2 not above the F1/F2 boundary: nothing fitted
    models::CALB0B1D1(z);
    EXPECT_EQ(z.bot.B0, 9999.0f);
    EXPECT_NE(b0, 9999.0f);
    EXPECT_NE(b1, 9999.0f);
}

namespace {

// The coordinate search and the D1 scan as plainly stated, every misfit formed in full: the
// reference for the searches of the module, which skip sets met before and give up misfits
// that cannot win. Both must end on the same parameters and misfit, to the bit.
void plain_adjust(Products& P, int MODE, float& ERR) {
    float step[3] = {4.0f, 0.2f, 0.2f};
    float* par[3] = {&P.B0, &P.B1, &P.D1};
    const int npar = MODE == 1 ? 3 : 2;
    for (int round = 0; round < 2000 && step[0] > 0.1f; ++round) {
        bool moved = false;
        for (int p = 0; p < npar; ++p) {
            for (float sign : {1.0f, -1.0f}) {
                const float old = *par[p], trial = old + sign * step[p];
                if ((p == 0 && !(trial > 0.0f)) || (p == 1 && !(trial > 1.0f)) ||
                    (p == 2 && !(trial >= 0.0f && trial < 90.0f)))
                    continue;
                const float keep[4] = {P.HF1, P.HST, P.HZ, P.T};
                *par[p] = trial;
                bool ok = true;
                if (MODE == 1) {
                    P.HF1 = models::IRI_F2_BASIC2(P, P.FOF1);
                    ok = P.HF1 != 0.0f;
                }
                if (ok) {
                    models::CALHSTHZ(P, MODE == 1 ? 1 : 2);
                    ok = P.HZ != 0.0f;
                }
                float e1 = 0.0f, e2 = 0.0f;
                if (ok) models::CAL_IRI_FIT_ERROR(P, e1, e2);
                if (ok && e1 + e2 < ERR) {
                    ERR = e1 + e2;
                    moved = true;
                    break;
                }
                *par[p] = old;
                P.HF1 = keep[0];
                P.HST = keep[1];
                P.HZ = keep[2];
                P.T = keep[3];
            }
        }
        if (!moved)
            for (float& s : step) s *= 0.5f;
    }
    P.B0 = round2(P.B0);
    P.B1 = round2(P.B1);
    if (MODE == 1) P.D1 = round2(P.D1);
}

void plain_d1(Products& P, float& D1, float& E1) {
    float lo = 0.0f, hi = 5.0f, step = 0.2f, best = 1.0e10f, bestD = 0.0f;
    for (int round = 0; round < 32 && step > 0.005f; ++round) {
        float sbest = 1.0e10f;
        for (int k = 0; k < 1000; ++k) {
            const float d = round2(lo + static_cast<float>(k) * step);
            if (d > hi + 1e-4f) break;
            P.D1 = d;
            models::CALHSTHZ(P, 1);
            if (P.HZ == 0.0f) continue;
            float e1 = 0.0f, e2 = 0.0f;
            models::CAL_IRI_FIT_ERROR(P, e1, e2);
            if (!(e1 < sbest)) break;
            sbest = e1;
            if (e1 < best) {
                best = e1;
                bestD = d;
            }
        }
        lo = std::fmax(0.0f, bestD - step);
        hi = bestD + step;
        step *= 0.5f;
    }
    P.D1 = bestD;
    D1 = bestD;
    E1 = best;
}

// Starts both searches from B0, B1 (and D1 in MODE 1) on copies of the model state P and
// compares where they end.
void same_search(const Products& P, int MODE, float B0, float B1, float D1) {
    SCOPED_TRACE(::testing::Message() << "start B0 " << B0 << " B1 " << B1 << " D1 " << D1);
    auto a = std::make_unique<Products>(P);
    a->B0 = B0;
    a->B1 = B1;
    a->D1 = D1;
    float err = 1.0e10f;
    if (MODE == 1) a->HF1 = models::IRI_F2_BASIC2(*a, a->FOF1);
    if (MODE == 0 || a->HF1 != 0.0f) {
        models::CALHSTHZ(*a, MODE == 1 ? 1 : 2);
        float e1 = 0.0f, e2 = 0.0f;
        if (a->HZ != 0.0f) {
            models::CAL_IRI_FIT_ERROR(*a, e1, e2);
            err = e1 + e2;
        }
    }
    auto b = std::make_unique<Products>(*a);
    float erra = err, errb = err;
    models::ADUJST_B0B1D1(*a, MODE, erra);
    plain_adjust(*b, MODE, errb);
    EXPECT_EQ(a->B0, b->B0);
    EXPECT_EQ(a->B1, b->B1);
    EXPECT_EQ(a->D1, b->D1);
    EXPECT_EQ(erra, errb);
    EXPECT_LT(erra, 1.0e10f);
}

}  // namespace

// The searches with their shortcuts end exactly where the plain searches end, from starts
// near and far from the best parameters, with and without an F1 layer.
TEST(ShapeParameters, SearchesEndWhereThePlainSearchesEnd) {
    {
        Zelk z;
        iri_profile(z, 100.0, 2.5);
        models::CALB0B1D1(z);
        ASSERT_NE(z.bot.B0, 9999.0f);
        for (const float s : {100.0f, 80.0f, 131.37f})
            for (const float b1 : {2.5f, 1.9f, 3.3f}) same_search(z.bot, 0, s, b1, 9999.0f);
    }
    Zelk z;
    iri_profile(z, 100.0, 2.5);
    add_f1_ledge(z);
    models::CALB0B1D1(z);
    ASSERT_NE(z.bot.D1, 9999.0f);
    for (const float s : {100.0f, 70.0f})
        for (const float b1 : {2.5f, 2.1f}) {
            // The D1 scan from these B0, B1, then the search from its D1 and from far off.
            auto a = std::make_unique<Products>(z.bot);
            a->B0 = s;
            a->B1 = b1;
            a->HF1 = models::IRI_F2_BASIC2(*a, a->FOF1);
            ASSERT_NE(a->HF1, 0.0f);
            auto b = std::make_unique<Products>(*a);
            float da = 0.0f, ea = 0.0f, db = 0.0f, eb = 0.0f;
            models::CALD1(*a, da, ea);
            plain_d1(*b, db, eb);
            EXPECT_EQ(da, db);
            EXPECT_EQ(ea, eb);
            same_search(z.bot, 1, s, b1, da);
            same_search(z.bot, 1, s, b1, 0.4f);
        }
}

namespace {

// The IRI profile of B0 100 km and B1 2.5, with an F1 ledge when F1, and its fitted shape.
void fitted_profile(Zelk& z, bool f1) {
    iri_profile(z, 100.0, 2.5);
    if (f1) add_f1_ledge(z);
    models::CALB0B1D1(z);
}

}  // namespace

// The misfit evaluates the model of all rows level by level in batches on SIMD lanes; it must
// be the sum of the squared differences from the heights XH finds row by row with the library
// functions, to the bit, with and without the F1 modification and the intermediate region.
TEST(ShapeParameters, BatchedMisfitIsTheRowByRowSum) {
    for (const bool f1 : {false, true}) {
        Zelk z;
        fitted_profile(z, f1);
        Products& P = z.bot;
        int checked = 0;
        for (const float b0 : {60.0f, 97.3f, 140.0f})
            for (const float b1 : {1.4f, 2.5f, 4.1f})
                for (const float d1 : {0.0f, 0.37f, 2.5f}) {
                    SCOPED_TRACE(::testing::Message() << b0 << " " << b1 << " " << d1 << " " << f1);
                    P.B0 = b0;
                    P.B1 = b1;
                    if (f1) {
                        P.D1 = d1;
                        P.HF1 = models::IRI_F2_BASIC2(P, P.FOF1);
                        if (P.HF1 == 0.0f) continue;
                    }
                    models::CALHSTHZ(P, f1 ? 1 : 2);
                    if (P.HZ == 0.0f) continue;
                    float e1 = 0.0f, e2 = 0.0f, r1 = 0.0f, r2 = 0.0f;
                    models::CAL_IRI_FIT_ERROR(P, e1, e2);
                    const bool active = P.D1 > 0.0f && P.D1 < 90.0f;
                    for (int i = P.NPROW1; i >= 1 && P.PRFFN1(i) >= P.FOE; --i) {
                        const float h = models::XH(P, P.PRFFN1(i));
                        EXPECT_EQ(P.HIRI(i), h) << i;
                        const float d = P.PRFHT1(i) - h;
                        if (active && (P.PRFFN1(i) < P.FOF1 || P.PRFHT1(i) < P.HF1)) r1 += d * d;
                        else r2 += d * d;
                    }
                    EXPECT_EQ(e1, r1);
                    EXPECT_EQ(e2, r2);
                    ++checked;
                }
        EXPECT_GT(checked, 8);
    }
}

// The model values of the misfit come from SIMD lanes (AVX-512, AVX2 or baseline) or from the library
// functions one by one: B0, B1, D1 and the IRI heights of the rows must be the same to the bit.
TEST(ShapeParameters, LanesGiveTheParametersOfThePlainLoops) {
    using zelk::simd::Mode;
    const double cases[][2] = {{100.0, 2.5}, {60.0, 1.8}, {140.0, 3.5}};
    for (const auto& c : cases)
        for (const bool f1 : {false, true}) {
            SCOPED_TRACE(::testing::Message() << c[0] << " " << c[1] << " " << f1);
            auto z = std::make_unique<Zelk>();
            iri_profile(*z, c[0], c[1]);
            if (f1) add_f1_ledge(*z);
            z->log.IDEBUG = 1;   // the heights of the final model are kept for the display
            auto run = [&z](Mode m) {
                zelk::simd::set_mode(m);
                models::CALB0B1D1(*z);
                zelk::simd::set_mode(Mode::AUTO);
                return std::make_unique<Products>(z->bot);
            };
            const auto plain = run(Mode::OFF);
            ASSERT_NE(plain->B0, 9999.0f);
            for (const Mode m : {Mode::AUTO, Mode::AVX2, Mode::BASELINE}) {
                const auto p = run(m);
                EXPECT_EQ(p->B0, plain->B0);
                EXPECT_EQ(p->B1, plain->B1);
                EXPECT_EQ(p->D1, plain->D1);
                for (int i = 1; i <= p->NPROW1; ++i) ASSERT_EQ(p->HIRI(i), plain->HIRI(i)) << i;
            }
        }
}

// The bisections of the F1 height (IRI_F2_BASIC2) and of the intermediate region's start
// (CALHSTHZ, with and without the F1 mapping) take their model values a subtree at a time
// from the lanes: on every instruction set they end where the plain loops end, bit for bit,
// also where no value matches (foE above foF2, frequencies between the floats), where D1 is 0
// (the F1 mapping's exponent exactly 1) and where the peak is so high (3e6 km, floats 0.25 km
// apart) that the bracket stops shrinking and the halving cap ends nearly every search.
TEST(ShapeParameters, BatchedBisectionsAreThePlainLoops) {
    using zelk::simd::Mode;
    std::mt19937 rng(97);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    int checked = 0;
    for (int round = 0; round < 300; ++round) {
        auto P = std::make_unique<Products>();
        P->HMF2 = round % 25 == 7 ? 3.0e6f : 200.0f + 250.0f * u(rng);
        P->B0 = 30.0f + 150.0f * u(rng);
        P->B1 = 1.0f + 5.0f * u(rng);
        P->FOF2 = 3.0f + 10.0f * u(rng);
        P->FOE = round % 25 == 3 ? P->FOF2 + 1.0f : (1.0f + 2.5f * u(rng));
        P->HVT = 90.0f + 30.0f * u(rng);
        P->D1 = round % 4 == 1 ? 0.0f : 0.05f + 1.0f * u(rng);
        const float fof1 = P->FOE + (P->FOF2 - P->FOE) * u(rng);
        struct Result {
            float hf1, hst, hz, t;
        };
        auto run = [&](Mode m) {
            zelk::simd::set_mode(m);
            Result r{};
            r.hf1 = P->HF1 = models::IRI_F2_BASIC2(*P, fof1);
            models::CALHSTHZ(*P, P->HF1 > 0.0f && round % 2 ? 1 : 2);
            r.hst = P->HST;
            r.hz = P->HZ;
            r.t = P->T;
            zelk::simd::set_mode(Mode::AUTO);
            return r;
        };
        const Result plain = run(Mode::OFF);
        for (const Mode m : {Mode::AUTO, Mode::AVX2, Mode::BASELINE}) {
            const Result r = run(m);
            ASSERT_EQ(r.hf1, plain.hf1) << "round " << round;
            ASSERT_EQ(r.hst, plain.hst) << "round " << round;
            ASSERT_EQ(r.hz, plain.hz) << "round " << round;
            ASSERT_EQ(std::bit_cast<uint32_t>(r.t), std::bit_cast<uint32_t>(plain.t)) << "round " << round;
            ++checked;
        }
    }
    EXPECT_EQ(checked, 900);
}

// The whole bottomside on SIMD lanes, every branch per value: each value the lanes vouch for
// is the float XE gives, on every instruction set, for heights below 0, above the peak, in
// the intermediate region (both of its height mappings and the one without a start), in the
// F1-mapped part and on the F2 bottomside; nearly all are vouched for.
TEST(ShapeParameters, BottomsideLanesGiveXE) {
    using zelk::simd::Mode;
    for (const bool f1 : {false, true}) {
        Zelk z;
        fitted_profile(z, f1);
        Products& P = z.bot;
        std::mt19937 rng(f1 ? 5 : 6);
        std::uniform_real_distribution<float> u(0.0f, 1.0f);
        int accepted = 0, total = 0;
        for (int variant = 0; variant < 4; ++variant) {
            if (f1) P.HF1 = models::IRI_F2_BASIC2(P, P.FOF1);
            models::CALHSTHZ(P, f1 ? 1 : 2);
            ASSERT_NE(P.HZ, 0.0f);
            // The three forms of the intermediate region: as fitted, T < 0 and no start.
            if (variant == 1) P.T = -std::fabs(P.T) - 1.0f;
            if (variant == 2) P.HST = -1.0f;
            if (variant == 3) P.HST = P.HVT;
            std::vector<float> h(300);
            for (std::size_t k = 0; k < h.size(); ++k)
                h[k] = k < 4 ? (k < 2 ? -1.0f - u(rng) : P.HMF2 + 1.0f + u(rng))
                             : P.HVT - 5.0f + (P.HMF2 - P.HVT + 10.0f) * u(rng);
            const models::lanes::XeModel M = models::xe_model(P);
            for (const Mode m : {Mode::AUTO, Mode::AVX2, Mode::BASELINE}) {
                std::vector<float> out(h.size());
                std::vector<uint8_t> ok(h.size());
                zelk::simd::set_mode(m);
                models::lanes::xe(h.data(), static_cast<int>(h.size()), M, out.data(), ok.data());
                zelk::simd::set_mode(Mode::AUTO);
                for (std::size_t k = 0; k < h.size(); ++k) {
                    ++total;
                    if (!ok[k]) continue;
                    ++accepted;
                    ASSERT_EQ(out[k], models::XE(P, h[k]))
                        << "h " << h[k] << " variant " << variant << " f1 " << f1;
                }
            }
        }
        EXPECT_GT(accepted, total * 99 / 100);
    }
}

// Searches that end on their last allowed halving beside searches that reach the cap (heights
// so large that the bracket stops shrinking): each row keeps its own height, as XH finds it,
// in every build of the lanes and without them.
TEST(ShapeParameters, SearchesAtTheHalvingCapKeepTheirOwnHeights) {
    using zelk::simd::Mode;
    auto P = std::make_unique<Products>();
    P->HVT = 0.0f;
    P->HMF2 = 1.0e26f;
    P->B0 = 1.0e25f;
    P->B1 = 40.0f;
    P->FOF2 = 1.0e8f;
    P->FOE = 1.0f;
    P->HZ = 0.0f;
    P->D1 = 0.0f;
    P->NPROW1 = 900;
    for (int i = 1; i <= P->NPROW1; ++i) {
        P->PRFFN1(i) = static_cast<float>(std::pow(1.0e8, (i - 1) / 899.0));
        P->PRFHT1(i) = static_cast<float>(i);
    }
    for (const Mode m : {Mode::AUTO, Mode::AVX2, Mode::BASELINE, Mode::OFF}) {
        zelk::simd::set_mode(m);
        float e1 = 0.0f, e2 = 0.0f;
        models::CAL_IRI_FIT_ERROR(*P, e1, e2);
        zelk::simd::set_mode(Mode::AUTO);
        int wrong = 0;
        for (int i = 1; i <= P->NPROW1; ++i)
            if (P->HIRI(i) != models::XH(*P, P->PRFFN1(i))) ++wrong;
        EXPECT_EQ(wrong, 0) << "mode " << static_cast<int>(m);
    }
}
