// Bottomside shape parameters: the IRI bottomside routines, and B0, B1, D1 of profiles whose
// F2 layer is the IRI bottomside with known parameters.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "core/zelk.hpp"
#include "inversion/inversion.hpp"
#include "models/b0b1d1.hpp"
#include "products/products.hpp"

using namespace zelk;
using products::Products;

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
    z.mod.DATADIRS = {ZELK_SOURCE_DATA};
    z.run.HSTEP = 0.0f;
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
        std::printf("    B0 %.2f -> %.2f   B1 %.2f -> %.2f\n", c[0], z.prod.B0, c[1], z.prod.B1);
        EXPECT_NEAR(z.prod.B0, c[0], 0.05 * c[0]);
        EXPECT_NEAR(z.prod.B1, c[1], 0.2);
        EXPECT_EQ(z.prod.D1, 9999.0f);   // no F1 layer
        EXPECT_EQ(z.prod.B0, std::round(z.prod.B0 * 100.0f) / 100.0f);
        EXPECT_EQ(log.str(), "");
        // The display keeps the IRI height of every compared row (F2 peak down to foE).
        EXPECT_FLOAT_EQ(z.prod.HIRI(z.prod.NPROW1), 300.0f);
    }
}

TEST(ShapeParameters, F1LayerGivesD1InRange) {
    Zelk z;
    iri_profile(z, 100.0, 2.5);
    // Put an F1 ledge at 4.5 MHz: the F2 layer starts at its peak.
    auto& v = z.inv;
    const float hF1 = inversion::PROFILE_HEIGHT(inversion::REGION(v, 3), 4.5f);
    float C[6];
    inversion::CONTPRFL(5, v.FC(3), v.FC(4), v.A_F2.data(), 4.5f, C);
    for (int k = 1; k <= 5; ++k) v.A_F2(k) = C[k];
    v.FC(3) = 4.5f;
    v.LF1() = 1;
    v.ZMF1 = hF1;
    for (int k = 1; k <= 5; ++k) v.A_F1(k) = 0.0f;
    v.A_F1(1) = (v.ZME + v.VW) - hF1;
    products::NHTABLE(z, 0);
    models::CALB0B1D1(z);
    EXPECT_GE(z.prod.D1, 0.0f);
    EXPECT_LT(z.prod.D1, 90.0f);
    EXPECT_EQ(z.prod.D1, std::round(z.prod.D1 * 100.0f) / 100.0f);
    EXPECT_NEAR(z.prod.B0, 100.0f, 10.0f);
    EXPECT_NE(z.prod.B1, 9999.0f);
}

TEST(ShapeParameters, MissingTableAndNoF2Layer) {
    Zelk z;
    std::ostringstream log;
    z.log.out = &log;
    iri_profile(z, 100.0, 2.5);
    z.mod.DATADIRS = {"/nonexistent-zelk-data"};
    models::CALB0B1D1(z);
    EXPECT_EQ(log.str(), " CANNOT FIND THE FILE \"B0B1DT.ASC\"!\n");
    EXPECT_EQ(z.prod.B0, 9999.0f);
    EXPECT_EQ(z.prod.B1, 9999.0f);
    EXPECT_EQ(z.prod.D1, 9999.0f);
    // The text form alone serves as well as the binary one.
    z.mod.DATADIRS = {ZELK_SOURCE_DATA};
    models::CALB0B1D1(z);
    const float b0 = z.prod.B0, b1 = z.prod.B1;
    z.prod.B0FILE = {};
    z.inv.FC(4) = z.inv.FC(3);   // foF2 not above the F1/F2 boundary: nothing fitted
    models::CALB0B1D1(z);
    EXPECT_EQ(z.prod.B0, 9999.0f);
    EXPECT_NE(b0, 9999.0f);
    EXPECT_NE(b1, 9999.0f);
}
