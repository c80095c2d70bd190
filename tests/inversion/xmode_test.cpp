#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <complex>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "inversion/group_index.hpp"
#include "inversion/inversion.hpp"

using namespace zelk;
using namespace zelk::inversion;

namespace {

constexpr double PI = 3.14159265358979323846;

std::unique_ptr<Inversion> withDip(double deg) {
    auto inv = std::make_unique<Inversion>();
    float I = static_cast<float>(deg * PI / 180.0);
    GOGXCOM(*inv, I);
    SETCV(*inv);
    return inv;
}

// Extraordinary-wave phase index from the Appleton-Hartree formula (collisionless, field at
// 90 - dip degrees to the vertical wave normal), in complex arithmetic for the complex step:
// n^2 = 1 - X (1 - X) / ((1 - X) - YT^2/2 - sqrt(YT^4/4 + (1 - X)^2 YL^2)).
std::complex<double> phaseIndexX(std::complex<double> f, double fn, double fh, double dip) {
    const std::complex<double> X = fn * fn / (f * f);
    const std::complex<double> Y = fh / f;
    const std::complex<double> YT = Y * std::cos(dip), YL = Y * std::sin(dip);
    const std::complex<double> D = 1.0 - X;
    const std::complex<double> den =
        D - 0.5 * YT * YT - std::sqrt(0.25 * YT * YT * YT * YT + D * D * YL * YL);
    return std::sqrt(1.0 - X * D / den);
}

// Group index d(f n)/df in double precision by the complex step.
double groupIndexXRef(double f, double fn, double fh, double dip) {
    const double h = 1e-20 * f;
    const std::complex<double> fc(f, h);
    return std::imag(fc * phaseIndexX(fc, fn, fh, dip)) / h;
}

// An E layer h(fN) = HBASE + sum A(i) sqrt(u) T*_{i-1}(u) - sum A, u = ln(fN/fe)/ln(fs/fe).
struct Layer {
    double fs, fe, hbase;
    std::vector<double> a;
    double height(double fn) const {
        double htop = hbase;
        for (double c : a) htop -= c;
        const double u = std::log(fn / fe) / std::log(fs / fe);
        const double x = 2.0 * u - 1.0;
        double t0 = 1.0, t1 = x, sum = 0.0;
        for (size_t k = 0; k < a.size(); ++k) {
            sum += a[k] * (k == 0 ? t0 : t1);
            if (k > 0) {
                const double t2 = 2.0 * x * t1 - t0;
                t0 = t1;
                t1 = t2;
            }
        }
        return htop + std::sqrt(u) * sum;
    }
};

// X virtual height through the layer by a fine midpoint integration in t, with
// fN^2 = top^2 - (top^2 - fs^2) t^2 and top^2 the X reflection level (or the layer's top).
double virtualHeightXRef(const Layer& L, double f, double fh, double dip) {
    const double top2 = std::min(f * (f - fh), L.fe * L.fe);
    if (top2 <= L.fs * L.fs) return L.hbase;
    const double d2 = top2 - L.fs * L.fs;
    constexpr int N = 20000;
    double sum = 0.0;
    for (int k = 0; k < N; ++k) {
        const double t = (k + 0.5) / N;
        const double fn = std::sqrt(top2 - d2 * t * t);
        const double dfn = 1e-6 * fn;
        const double slope = (L.height(fn + dfn) - L.height(fn - dfn)) / (2.0 * dfn);
        sum += groupIndexXRef(f, fn, fh, dip) * slope * d2 * t / fn / N;
    }
    return L.hbase + sum;
}

// A solved profile for X heights: dip 50 degrees, E layer 1 to 3 MHz, a 30 km valley down to
// 2.4 MHz, F1 to 4.5 MHz and F2 to 7 MHz.
std::unique_ptr<Inversion> layeredX() {
    auto inv = withDip(50.0);
    inv->FH = 1.2f;
    const float fc[] = {1.0f, 3.0f, 4.5f, 7.0f};
    for (int i = 1; i <= 4; ++i) inv->FC(i) = fc[i - 1];
    inv->HBASE(1) = 100.0f;
    inv->ZME = 110.0f;
    inv->FV = 2.4f;
    inv->VW = 30.0f;
    inv->VW1 = inv->VW2 = inv->VW3 = 10.0f;
    inv->VSLOPE(1) = -10.0f;
    const float a[] = {-40.0f, 5.0f, -2.0f, 1.0f, -0.5f};
    for (int i = 1; i <= 5; ++i) {
        if (i <= 3) inv->A_E(i) = a[i - 1] / 4.0f;
        inv->A_F1(i) = a[i - 1];
        inv->A_F2(i) = 2.0f * a[i - 1];
    }
    return inv;
}

}  // namespace

TEST(Gxsub, CheckValueAndAppletonHartree) {
    auto inv = withDip(60.0);
    EXPECT_NEAR(GXSUB(*inv, 1.0f, 5.0f, 16.0f, 1.2f), 2.8532f, 5e-5);
    EXPECT_NEAR(GOSUB(*inv, 1.0f, 5.0f, 16.0f, 1.2f), 1.4363f, 5e-5);
    EXPECT_NEAR(GXSUB(*inv, 0.25f, 5.0f, 16.0f, 1.2f), 0.25f * 2.8532f, 5e-5);
    // Over dips, frequencies and plasma frequencies up to close to X reflection.
    for (double dip : {5.0, 20.0, 45.0, 60.0, 75.0, 85.0}) {
        inv = withDip(dip);
        for (double f : {1.6, 3.0, 5.0, 9.0}) {
            const double fh = 1.2;
            const double fx2 = f * (f - fh);
            for (double share : {0.01, 0.3, 0.7, 0.95}) {
                const double fn2 = share * fx2;
                const double ref = groupIndexXRef(f, std::sqrt(fn2), fh, dip * PI / 180.0);
                EXPECT_NEAR(GXSUB(*inv, 1.0f, static_cast<float>(f), static_cast<float>(fn2), 1.2f),
                            ref, 2e-4 * ref)
                    << dip << " " << f << " " << share;
            }
        }
    }
}

TEST(Gxsub, NoPropagationGivesZero) {
    auto inv = withDip(60.0);
    // At and above the X reflection level fN^2 = f (f - FH) = 19.
    EXPECT_EQ(GXSUB(*inv, 1.0f, 5.0f, 19.0f, 1.2f), 0.0f);
    EXPECT_EQ(GXSUB(*inv, 1.0f, 5.0f, 24.0f, 1.2f), 0.0f);
    // No X wave at or below the gyrofrequency (the formula would take a negative root).
    EXPECT_EQ(GXSUB(*inv, 1.0f, 1.2f, 0.5f, 1.2f), 0.0f);
    EXPECT_EQ(GXSUB(*inv, 1.0f, 1.0f, 0.5f, 1.2f), 0.0f);
}

namespace {

// The X index as one node at a time computes it, branches and all: the form the vectorised
// one must match bit for bit.
float gxsubOneNode(float GX1, float GX2, float W, float F, float FN2, float FH) {
    const float FX2 = F * (F - FH);
    if (!(FX2 > 0.0f)) return 0.0f;
    const float T = FN2 / FX2;
    if (!(T < 1.0f)) return 0.0f;
    const float D1 = 1.0f - T;
    const float V = FH / std::sqrt(FX2);
    const float W2 = (std::sqrt(V * V + 4.0f) - V) / 2.0f;
    const float M = V * W2;
    const float N = 1.0f - M;
    const float T2 = N * T;
    const float Q = (W2 / V) * D1;
    const float Z = Q * (Q + 2.0f);
    const float S = std::sqrt(1.0f + GX1 * Z);
    const float G = GX2 / (S + 1.0f);
    const float E = N + Q - M * Z * G;
    const float H = (1.0f - G) * M * Z / E;
    const float J = (Z + 1.0f) * (T2 + 1.0f) / S;
    const float L = 2.0f * Z / (S + 1.0f) - J;
    const float P = 1.0f + 0.5f * GX2 * L;
    const float R = 1.0f + T2 * P / (E * E);
    return R * std::sqrt(W * W / H);
}

bool sameFloat(float a, float b) {
    return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b) ||
           (std::isnan(a) && std::isnan(b));
}

}  // namespace

// The kernel builds evaluate the X index at all nodes in one vectorised loop (xIndex): every
// lane must be the float of that node alone, and a lane at or above reflection +0, whatever
// its own evaluation came to. Frequencies reach down to a millionth above FH, where the
// index below reflection is lost to rounding (NaN) and a discarded lane is NaN too.
TEST(Gxsub, ManyNodesAtOnceMatchOneAtATime) {
    const float fh = 1.2f;
    int compared = 0, zeros = 0, nans = 0;
    for (double dip : {5.0, 60.0, 85.0}) {
        auto inv = withDip(dip);
        for (float f : {fh * 1.000001f, fh * 1.0001f, fh * 1.001f, 1.3f, 2.0f, 5.0f, 9.0f}) {
            const float fx2 = f * (f - fh);
            constexpr int N = 28;
            float w[N], fn2[N], mu[N];
            for (int j = 0; j < N; ++j) {
                w[j] = 0.05f + 0.04f * static_cast<float>(j);
                fn2[j] = fx2 * (0.1f * static_cast<float>(j) - 0.5f);   // -0.5 to 2.2 of FX2
            }
            fn2[N - 1] = NAN;
            fn2[N - 2] = INFINITY;
            fn2[N - 3] = fx2;
            fn2[N - 4] = std::nextafter(fx2, 0.0f);
            w[N - 5] = 0.0f;
            w[N - 6] = INFINITY;
            const XWave x = xWave(f, fh);
            ASSERT_TRUE(x.propagates());
            for (int j = 0; j < N; ++j) mu[j] = xIndex(x, inv->GX1, inv->GX2, w[j], fn2[j]);
            for (int j = 0; j < N; ++j) {
                const float one = gxsubOneNode(inv->GX1, inv->GX2, w[j], f, fn2[j], fh);
                EXPECT_TRUE(sameFloat(mu[j], one)) << dip << " " << f << " node " << j << ": " << mu[j]
                                                   << " against " << one;
                EXPECT_TRUE(sameFloat(GXSUB(*inv, w[j], f, fn2[j], fh), one)) << dip << " " << f << " " << j;
                if (!(fn2[j] < fx2)) {
                    EXPECT_EQ(std::bit_cast<std::uint32_t>(mu[j]), 0u) << f << " node " << j;
                    ++zeros;
                }
                nans += std::isnan(one);
                ++compared;
            }
        }
    }
    // The grid reaches both the discarded lanes and the lanes lost to rounding.
    EXPECT_GT(zeros, 100);
    EXPECT_GT(nans, 0);
    EXPECT_EQ(GXSUB(*withDip(60.0), 1.0f, 1.2f, 0.5f, 1.2f), 0.0f);
    EXPECT_FALSE(xWave(1.2f, 1.2f).propagates());
    EXPECT_FALSE(xWave(1.0f, 1.2f).propagates());
    EXPECT_GT(compared, 0);
}

TEST(Cdx, WaveEntersTheRegionOnlyAboveFxs) {
    auto inv = withDip(60.0);
    inv->FH = 1.0f;
    XKernels x;
    // FXS = (sqrt(5) + 1)/2 = 1.618 MHz for FSTART = FH = 1 MHz.
    CDX(1.0f, 1.0f, 1.6f, x);
    EXPECT_EQ(x.DF2X, 0.0f);
    SXIK(*inv, 1.0f, 3.0f, 3, 1.6f, x);
    for (int i = 1; i <= 3; ++i) EXPECT_EQ(x.GX(i), 0.0f);
    CDX(1.0f, 1.0f, 1.7f, x);
    EXPECT_NEAR(x.F2X, 1.7f * 0.7f, 1e-6);
    EXPECT_NEAR(x.DF2X, 1.7f * 0.7f - 1.0f, 1e-6);
    SXIK(*inv, 1.0f, 3.0f, 3, 1.7f, x);
    EXPECT_NE(x.GX(1), 0.0f);
}

// The 16-point X kernels against a fine double-precision integration of the X group index
// along an E layer, and the parts of RECVIRTX.
TEST(Recvirtx, AgreesWithDirectIntegration) {
    const Layer e{3.0, 6.0, 200.0, {-80.0, -10.0, 5.0}};
    for (double dip : {20.0, 60.0}) {
        auto inv = withDip(dip);
        inv->FH = 1.2f;
        inv->IRGN = 1;
        inv->FC(1) = 3.0f;
        inv->FC(2) = 6.0f;
        inv->HBASE(1) = 200.0f;
        inv->A_E(1) = -80.0f;
        inv->A_E(2) = -10.0f;
        inv->A_E(3) = 5.0f;
        for (double f : {4.0, 5.0, 6.0}) {
            const double ref = virtualHeightXRef(e, f, 1.2, dip * PI / 180.0);
            EXPECT_NEAR(RECVIRTX(*inv, static_cast<float>(f), 5), ref, 0.01) << dip << " " << f;
        }
        // Below FXS = (1.2 + sqrt(1.44 + 36))/2 = 3.66 MHz the wave does not enter: base only.
        EXPECT_EQ(RECVIRTX(*inv, 3.6f, 5), 200.0f);
        // MODE 2 of the E region is the base height; MODE 1 the layer alone.
        EXPECT_EQ(RECVIRTX(*inv, 5.0f, 2), 200.0f);
        EXPECT_NEAR(RECVIRTX(*inv, 5.0f, 1) + 200.0f, RECVIRTX(*inv, 5.0f, 5), 1e-3);
        // E part of a higher region: the whole group path through the E layer, never below
        // the E peak; the F region's coefficients are zero, so MODE 5 is that E part alone.
        inv->IRGN = 2;
        inv->ZME = 230.0f;
        inv->FC(3) = 9.0f;
        const float fe2 = 8.0f;
        const float he = RECVIRTX(*inv, fe2, 2);
        EXPECT_GT(he, 230.0f);
        EXPECT_NEAR(RECVIRTX(*inv, fe2, 5), he, 1e-3);
        EXPECT_EQ(RECVIRTX(*inv, fe2, 3), 0.0f);  // no valley (VW = 0)
        EXPECT_EQ(RECVIRTX(*inv, fe2, 4), 0.0f);  // F1 part only in the F2 region
    }
}

TEST(Recvirtx, ValleyPartsAreAtLeastTheirWidths) {
    auto inv = withDip(60.0);
    inv->FH = 1.2f;
    inv->IRGN = 2;
    inv->FC(1) = 1.0f;
    inv->FC(2) = 3.0f;
    inv->FC(3) = 5.0f;
    inv->FV = 2.4f;
    inv->VW = 30.0f;
    inv->VW1 = inv->VW2 = inv->VW3 = 10.0f;
    inv->VSLOPE(1) = -10.0f;
    // Far above the valley the X wave crosses it almost freely: each part near its width.
    const float far = RECVIRTX(*inv, 20.0f, 3);
    EXPECT_GE(far, 30.0f);
    EXPECT_LT(far, 33.0f);
    // Close to the X reflection at foE the delay grows.
    const float fx = (1.2f + std::sqrt(1.44f + 4.0f * 9.0f)) / 2.0f;
    EXPECT_GT(RECVIRTX(*inv, fx + 0.05f, 3), far + 5.0f);
    // Not a number-producing region: IRGN outside 1..3.
    inv->IRGN = 0;
    EXPECT_EQ(RECVIRTX(*inv, 5.0f, 5), 0.0f);
}

// X heights through a whole profile are computed again from kept kernels: whatever input
// changes (by 1e-4 of itself), the height is the one a thread that never computed anything
// before gives, and it changes.
TEST(Recvirtx, KeptKernelsFollowEveryInput) {
    auto inv = layeredX();
    inv->IRGN = 3;
    float F = 6.2f;
    auto fresh = [&] {
        float h = 0.0f;
        std::thread t([&] { h = RECVIRTX(*inv, F, 5); });
        t.join();
        return h;
    };
    auto bits = [](float x) {
        uint32_t b;
        std::memcpy(&b, &x, sizeof b);
        return b;
    };
    const float base = RECVIRTX(*inv, F, 5);
    ASSERT_EQ(bits(base), bits(fresh()));
    for (float* x : {&F, &inv->FC(1), &inv->FC(2), &inv->FC(3), &inv->FC(4), &inv->FV, &inv->FH, &inv->GX1,
                     &inv->GX2, &inv->CV(3, 2)}) {
        const float keep = *x;
        *x = keep * 1.0001f;
        const float h = RECVIRTX(*inv, F, 5);
        EXPECT_EQ(bits(h), bits(fresh())) << keep;
        EXPECT_NE(bits(h), bits(base)) << keep;
        *x = keep;
        EXPECT_EQ(bits(RECVIRTX(*inv, F, 5)), bits(base)) << keep;
    }
}

// RECVIRTX_MANY gives each frequency the float RECVIRTX gives it alone (on a thread that kept
// no kernels), for every region and part, from below the gyrofrequency through waves that
// reflect in each region to waves that pass through the top, in runs longer than one batch.
TEST(Recvirtx, ManyFrequenciesAtOnceGiveEachItsOwnHeight) {
    auto inv = layeredX();
    std::vector<float> f(300);
    for (std::size_t k = 0; k < f.size(); ++k) f[k] = 0.8f + 0.04f * static_cast<float>(k);
    for (int irgn = 1; irgn <= 3; ++irgn)
        for (const int mode : {0, 1, 2, 3, 4, 5}) {
            SCOPED_TRACE("region " + std::to_string(irgn) + " mode " + std::to_string(mode));
            inv->IRGN = static_cast<int16_t>(irgn);
            std::vector<float> many(f.size(), -1.0f), one(f.size(), -2.0f);
            RECVIRTX_MANY(*inv, f.data(), static_cast<int>(f.size()), mode, many.data());
            std::thread t([&] {
                for (std::size_t k = 0; k < f.size(); ++k) one[k] = RECVIRTX(*inv, f[k], mode);
            });
            t.join();
            int differ = 0;
            for (std::size_t k = 0; k < f.size(); ++k)
                differ += std::memcmp(&many[k], &one[k], sizeof(float)) != 0;
            EXPECT_EQ(differ, 0);
        }
}

// The X rows of the refined F-layer fit (add_x_rows): X virtual heights made through a known
// F2 layer, fitted alone in the variable that starts one step above the layer's start, give
// back the layer's coefficients once carried to its start. Rows in the wrong basis (no change
// of start, or its transpose) give other coefficients. X points that reflect above the first
// O echo, and any X point under a model E layer or outside gap mode, give no row.
TEST(XRows, FitInTheShiftedVariableGivesTheLayerBack) {
    auto inv = withDip(60.0);
    inv->FH = 1.2f;
    inv->FC(1) = 1.0f;
    inv->FC(2) = 3.0f;
    inv->FC(3) = 3.0f;
    inv->FC(4) = 8.0f;
    inv->HBASE(1) = 100.0f;
    inv->ZME = 110.0f;
    inv->A_E(1) = -8.0f;
    inv->A_E(2) = -1.0f;
    inv->A_E(3) = 0.5f;
    const float a[4] = {0.0f, -80.0f, -10.0f, 5.0f};
    for (int i = 1; i <= 3; ++i) inv->A_F2(i) = a[i];
    inv->IRGN = 3;
    inv->NN = 3;
    inv->FEND = 8.0f;
    inv->KF1MODE = MODE_GAP;
    inv->IEFLAG = 1;
    // The first O echo at 6 MHz; X points reflecting from 3.3 to 5.8 MHz, and two above it.
    inv->NFQE = inv->NFQF1 = 0;
    inv->NFQF = 1;
    inv->TRF(1) = 6.0f;
    inv->TRH(1) = 300.0f;
    inv->NXTR = 0;
    for (float fn : {3.3f, 3.7f, 4.1f, 4.5f, 4.9f, 5.3f, 5.8f, 6.3f, 7.0f}) {
        const float f = (1.2f + std::sqrt(1.44f + 4.0f * fn * fn)) / 2.0f;
        ++inv->NXTR;
        inv->XTRF(inv->NXTR) = f;
        inv->XTRH(inv->NXTR) = RECVIRTX(*inv, f, RECVIRT_ALL);
    }
    const float FS0 = 3.0f, FSD = 4.0f;
    auto rows = [&inv](float fs0, float fsd) {
        inv->NEQ.fill(0.0f);
        add_x_rows(*inv, fs0, fsd);
        double m[3][4];
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 4; ++j) m[i][j] = inv->NEQ(i + 1, j + 1);
        return std::vector<double>(&m[0][0], &m[0][0] + 12);
    };
    auto solve = [](std::vector<double> m) {   // Gaussian elimination, 3 x 3 with rhs
        for (int c = 0; c < 3; ++c) {
            int p = c;
            for (int r = c + 1; r < 3; ++r)
                if (std::fabs(m[r * 4 + c]) > std::fabs(m[p * 4 + c])) p = r;
            for (int j = 0; j < 4; ++j) std::swap(m[c * 4 + j], m[p * 4 + j]);
            for (int r = 0; r < 3; ++r) {
                if (r == c) continue;
                const double q = m[r * 4 + c] / m[c * 4 + c];
                for (int j = 0; j < 4; ++j) m[r * 4 + j] -= q * m[c * 4 + j];
            }
        }
        return std::vector<double>{0.0, m[3] / m[0], m[7] / m[5], m[11] / m[10]};
    };
    const std::vector<double> xs = solve(rows(FS0, FSD));
    float xsf[4] = {0.0f, static_cast<float>(xs[1]), static_cast<float>(xs[2]), static_cast<float>(xs[3])};
    float back[4] = {};
    profile::CONTPRFL(3, FSD, 8.0f, xsf, FS0, back);
    for (int i = 1; i <= 3; ++i) EXPECT_NEAR(back[i], a[i], 0.02f * std::fabs(a[1])) << i;
    // The same rows taken as if they were in the layer's own variable do not give it back.
    float same[4] = {0.0f, xsf[1], xsf[2], xsf[3]};
    float off = 0.0f;
    for (int i = 1; i <= 3; ++i) off = std::max(off, std::fabs(same[i] - a[i]));
    EXPECT_GT(off, 0.1f * std::fabs(a[1]));
    // The points above the first O echo add nothing: dropping them leaves the same rows.
    const std::vector<double> all = rows(FS0, FSD);
    inv->NXTR = 7;
    EXPECT_EQ(rows(FS0, FSD), all);
    // No rows under a model E layer or outside gap mode.
    inv->IEFLAG = 2;
    EXPECT_EQ(rows(FS0, FSD), std::vector<double>(12, 0.0));
    inv->IEFLAG = 1;
    inv->KF1MODE = MODE_NORMAL;
    EXPECT_EQ(rows(FS0, FSD), std::vector<double>(12, 0.0));
}
