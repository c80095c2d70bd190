#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <complex>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "pipeline/zelk.hpp"
#include "inversion/inversion.hpp"
#include "inversion/layered_profile.hpp"

using namespace zelk;
using namespace zelk::inversion;

namespace {

constexpr double PI = 3.14159265358979323846;

using zelk::inversion::fixtures::layered_profile;
using zelk::inversion::fixtures::set_dip;

// One region of a reference profile: h(fN) = HTOP + sum A(i) sqrt(u) T*_{i-1}(u).
struct Segment {
    double fs, fe, hstart;
    std::vector<double> a;
};

// Real height of a segment, in complex arithmetic so that its derivative can be taken by the
// complex step.
std::complex<double> segHeight(const Segment& s, std::complex<double> fn) {
    double htop = s.hstart;
    for (double c : s.a) htop -= c;
    const std::complex<double> u = std::log(fn / s.fe) / std::log(s.fs / s.fe);
    const std::complex<double> x = 2.0 * u - 1.0;
    std::complex<double> t0 = 1.0, t1 = x, sum = 0.0;
    for (size_t k = 0; k < s.a.size(); ++k) {
        sum += s.a[k] * (k == 0 ? t0 : t1);
        if (k > 0) {
            const std::complex<double> t2 = 2.0 * x * t1 - t0;
            t0 = t1;
            t1 = t2;
        }
    }
    return htop + std::sqrt(u) * sum;
}

// Ordinary-wave phase index from the Appleton-Hartree formula, field at (90 - dip) degrees
// to the vertical wave normal, written without cancellation near reflection:
// n^2 = D (1 + q) / (1 + D q), D = 1 - X, q = 2 YL^2 / (YT^2 + sqrt(YT^4 + 4 D^2 YL^2)).
std::complex<double> phaseIndex(std::complex<double> f, double fn, double fh, double dip) {
    const std::complex<double> D = (f - fn) * (f + fn) / (f * f);
    const std::complex<double> Y = fh / f;
    const std::complex<double> YT = Y * std::cos(dip), YL = Y * std::sin(dip);
    const std::complex<double> W = std::sqrt(YT * YT * YT * YT + 4.0 * D * D * YL * YL);
    const std::complex<double> q = 2.0 * YL * YL / (W + YT * YT);
    return std::sqrt(D) * std::sqrt((1.0 + q) / (1.0 + D * q));
}

// Group index d(f n)/df by the complex step (exact to rounding).
double groupIndexRef(double f, double fn, double fh, double dip) {
    const double h = 1e-20 * f;
    const std::complex<double> fc(f, h);
    return std::imag(fc * phaseIndex(fc, fn, fh, dip)) / h;
}

double heightSlope(const Segment& s, double fn) {
    const double h = 1e-20 * fn;
    return std::imag(segHeight(s, std::complex<double>(fn, h))) / h;
}

// Virtual height at f through a stack of segments starting at the height of the first one:
// each segment's group path integral of mu' dh/dfN, up to reflection or to its top, with
// fN^2 = ftop^2 - (ftop^2 - fs^2) t^2 and a composite 8-point Gauss-Legendre rule in t.
double virtualHeightRef(const std::vector<Segment>& segs, double f, double fh, double dip) {
    static const double x8[4] = {0.1834346424956498, 0.5255324099163290, 0.7966664774136267,
                                 0.9602898564975363};
    static const double w8[4] = {0.3626837833783620, 0.3137066678041778, 0.2223810344533745,
                                 0.1012285362903763};
    constexpr int PANELS = 400;
    double hv = segs.front().hstart;
    for (const Segment& s : segs) {
        if (f <= s.fs) break;
        const double top = std::min(f, s.fe);
        const double d2 = top * top - s.fs * s.fs;
        double sum = 0.0;
        for (int p = 0; p < PANELS; ++p) {
            const double a = static_cast<double>(p) / PANELS, b = static_cast<double>(p + 1) / PANELS;
            for (int m = 0; m < 8; ++m) {
                const double x = m < 4 ? -x8[m] : x8[m - 4];
                const double w = w8[m < 4 ? m : m - 4];
                const double t = 0.5 * (a + b) + 0.5 * (b - a) * x;
                const double fn = std::sqrt(top * top - d2 * t * t);
                sum += 0.5 * (b - a) * w * groupIndexRef(f, fn, fh, dip) * heightSlope(s, fn) * d2 * t / fn;
            }
        }
        hv += sum;
    }
    return hv;
}

// The E region example: FSTART 3, FEND 6, HBASE(1) 200, A = (-80, -10, 5), FH 1.2, dip 60.
void setExampleE(Inversion& inv) {
    set_dip(inv, 60.0);
    SETCV(inv);
    inv.FH = 1.2f;
    inv.NGAUSS = 16;
    inv.IRGN = 1;
    inv.FSTART = 3.0f;
    inv.FEND = 6.0f;
    inv.HBASE(1) = 200.0f;
    inv.NN = 3;
    inv.A(1) = -80.0f;
    inv.A(2) = -10.0f;
    inv.A(3) = 5.0f;
}

const Segment kSegE{3.0, 6.0, 200.0, {-80.0, -10.0, 5.0}};

}  // namespace

TEST(Gosub, CheckValuesAndLimits) {
    Inversion inv;
    set_dip(inv, 60.0);
    EXPECT_NEAR(GOSUB(inv, 1.0f, 5.0f, 16.0f, 1.2f), 1.4363f, 5e-5);
    EXPECT_NEAR(GOSUB(inv, 0.5f, 5.0f, 16.0f, 1.2f), 0.5f * 1.4363f, 5e-5);
    set_dip(inv, 30.0);
    EXPECT_NEAR(GOSUB(inv, 1.0f, 3.0f, 4.0f, 1.4f), 1.2954f, 5e-5);
    // Vanishing field: the no-field group index 1/sqrt(1 - X).
    EXPECT_NEAR(GOSUB(inv, 1.0f, 5.0f, 16.0f, 1e-4f), 1.0f / 0.6f, 1e-4);
    // At and above reflection the index is 0.
    EXPECT_EQ(GOSUB(inv, 1.0f, 5.0f, 25.0f, 1.2f), 0.0f);
    EXPECT_EQ(GOSUB(inv, 1.0f, 5.0f, 30.0f, 1.2f), 0.0f);
    // Agrees with the Appleton-Hartree group index computed independently.
    for (double dip : {10.0, 45.0, 75.0}) {
        set_dip(inv, dip);
        for (double fn2 : {1.0, 9.0, 20.0, 24.5}) {
            const double ref = groupIndexRef(5.0, std::sqrt(fn2), 1.3, dip * PI / 180.0);
            EXPECT_NEAR(GOSUB(inv, 1.0f, 5.0f, static_cast<float>(fn2), 1.3f), ref, 2e-5 * ref)
                << dip << " " << fn2;
        }
    }
}

TEST(Dtst, DerivativeTableMatchesTheBasis) {
    Inversion inv;
    SETCV(inv);
    // DTST_i(u) = 2 sqrt(u) d/du [sqrt(u) T*_{i-1}(u)], checked by a central difference.
    for (int i = 1; i <= 8; ++i) {
        for (double u : {0.1, 0.37, 0.8, 0.99}) {
            auto phi = [i](double v) { return std::sqrt(v) * std::cos((i - 1) * std::acos(2.0 * v - 1.0)); };
            const double h = 1e-6;
            const double ref = 2.0 * std::sqrt(u) * (phi(u + h) - phi(u - h)) / (2.0 * h);
            EXPECT_NEAR(DTST(inv, static_cast<float>(u), i), ref, 2e-4 * (1.0 + std::fabs(ref)))
                << i << " " << u;
        }
    }
    EXPECT_EQ(DTST(inv, 0.5f, 9), 0.0f);
}

TEST(Sik, ExampleRegionVirtualHeights) {
    Inversion inv;
    setExampleE(inv);
    inv.NFQ = 4;
    inv.FQ(1) = 3.5f;
    inv.FQ(2) = 4.5f;
    inv.FQ(3) = 5.9f;
    inv.FQ(4) = 3.0f;  // at FSTART: zero kernels, only the base height
    CDO(inv);
    SIK(inv);
    EXPECT_NEAR(VIRTUAL(inv, 1), 242.604f, 0.01);
    EXPECT_NEAR(VIRTUAL(inv, 2), 297.822f, 0.01);
    EXPECT_NEAR(VIRTUAL(inv, 3), 418.157f, 0.01);
    for (int i = 1; i <= 3; ++i) EXPECT_EQ(inv.G(i, 4), 0.0f);
    EXPECT_EQ(VIRTUAL(inv, 4), 200.0f);
    // The F-region forms add the group paths below instead of the base height.
    inv.DHE(1) = 10.0f;
    inv.DHV(1) = 20.0f;
    inv.DHF1(1) = 40.0f;
    inv.IRGN = 2;
    EXPECT_NEAR(VIRTUAL(inv, 1), 242.604f - 200.0f + 30.0f, 0.01);
    inv.IRGN = 3;
    EXPECT_NEAR(VIRTUAL(inv, 1), 242.604f - 200.0f + 70.0f, 0.01);
}

// The 16-point kernels against a fine double-precision integration of the group index along
// the same profiles, for several dips and a five-term region. At high dips the group index
// changes sharply close to reflection and the fixed rule loses accuracy (a few tenths of a
// km at 80 degrees).
TEST(Sik, AgreesWithDirectIntegration) {
    const Segment five{2.5, 7.0, 180.0, {-120.0, 15.0, -6.0, 3.0, -1.0}};
    for (double dip : {2.0, 8.0, 20.0, 45.0, 60.0, 70.0, 80.0}) {
        const double tol = dip <= 60.0 ? 0.05 : (dip <= 70.0 ? 0.1 : 0.5);
        for (const Segment* s : {&kSegE, &five}) {
            Inversion inv;
            set_dip(inv, dip);
            SETCV(inv);
            inv.FH = 1.2f;
            inv.IRGN = 1;
            inv.FSTART = static_cast<float>(s->fs);
            inv.FEND = static_cast<float>(s->fe);
            inv.HBASE(1) = static_cast<float>(s->hstart);
            inv.NN = static_cast<int16_t>(s->a.size());
            for (size_t i = 0; i < s->a.size(); ++i) inv.A(static_cast<int>(i) + 1) = static_cast<float>(s->a[i]);
            inv.NFQ = 12;
            for (int K = 1; K <= inv.NFQ; ++K)
                inv.FQ(K) = static_cast<float>(s->fs + (s->fe - s->fs) * (K - 0.5) / inv.NFQ);
            CDO(inv);
            SIK(inv);
            for (int K = 1; K <= inv.NFQ; ++K) {
                const double ref = virtualHeightRef({*s}, inv.FQ(K), 1.2, dip * PI / 180.0);
                EXPECT_NEAR(VIRTUAL(inv, K), ref, tol) << "dip " << dip << " f " << inv.FQ(K);
            }
        }
    }
}

// Group path through a whole region below the sounding frequency (SIKP up to FEND).
TEST(Sikp, GroupPathThroughALowerRegion) {
    Inversion inv;
    setExampleE(inv);
    inv.NFQ = 3;
    inv.FQ(1) = 6.5f;
    inv.FQ(2) = 8.0f;
    inv.FQ(3) = 12.0f;
    SIKP(inv, 6.0f);
    for (int K = 1; K <= 3; ++K) {
        float hv = 200.0f;
        for (int i = 1; i <= 3; ++i) hv += inv.GP(i, K) * inv.A(i);
        const double ref = virtualHeightRef({kSegE}, inv.FQ(K), 1.2, 60.0 * PI / 180.0);
        EXPECT_NEAR(hv, ref, 0.05) << inv.FQ(K);
        EXPECT_GT(hv, 285.0f);  // the group path exceeds the real path
    }
    // An empty interval gives zero kernels.
    SIKP(inv, 3.0f);
    EXPECT_EQ(inv.GP(1, 1), 0.0f);
    EXPECT_EQ(inv.GP(3, 2), 0.0f);
}

// Data that begin above the region's start: kernels over [FP, f] in the basis starting at FP,
// plus the part [FSTART, FP] from SIKP carried into that basis by CHNGSIKP, must give the
// kernels of the whole region for the same curve.
TEST(Chngsikp, SplitKernelsMatchTheWholeRegion) {
    const float FS = 3.0f, FP = 4.0f, FE = 6.0f;
    Inversion inv;
    setExampleE(inv);
    inv.NFQ = 3;
    inv.FQ(1) = 4.5f;
    inv.FQ(2) = 5.2f;
    inv.FQ(3) = 5.9f;
    // The curve in the basis that starts at FP.
    F1<float, 5> AP;
    inv.NN = 3;
    AP(1) = -60.0f; AP(2) = -8.0f; AP(3) = 3.0f;
    const float htop = 285.0f;
    inv.FSTART = FP;
    inv.FEND = FE;
    CDO(inv);
    SIK(inv);
    inv.FSTART = FS;
    SIKP(inv, FP);
    CHNGSIKP(inv, FP);
    F1<float, 8> split;
    for (int K = 1; K <= 3; ++K) {
        split(K) = 0.0f;
        for (int i = 1; i <= 3; ++i) split(K) += inv.G(i, K) * AP(i);
    }
    // The same curve in the basis that starts at FS.
    F1<float, 5> A;
    CONTPRFL(3, FP, FE, AP.data(), FS, A.data());
    inv.FSTART = FS;
    CDO(inv);
    SIK(inv);
    float hs = htop;
    for (int i = 1; i <= 3; ++i) hs += A(i);
    for (int K = 1; K <= 3; ++K) {
        float whole = 0.0f;
        for (int i = 1; i <= 3; ++i) whole += inv.G(i, K) * A(i);
        // Both are group paths above the start height hs of the whole region.
        EXPECT_NEAR(split(K), whole, 0.05) << inv.FQ(K);
        EXPECT_GT(hs + whole, 200.0f);
    }
}

TEST(Recvirt, PartsOfTheSolvedProfile) {
    Inversion inv;
    set_dip(inv, 60.0);
    SETCV(inv);
    inv.FH = 1.2f;
    // E region as in the example, no valley, no F1 layer, an F2 region from foE to 9 MHz.
    inv.FC(1) = 3.0f;
    inv.FC(2) = 6.0f;
    inv.FC(3) = 6.0f;
    inv.FC(4) = 9.0f;
    inv.HBASE(1) = 200.0f;
    inv.A_E(1) = -80.0f; inv.A_E(2) = -10.0f; inv.A_E(3) = 5.0f;
    inv.ZME = 285.0f;
    const Segment f2{6.0, 9.0, 285.0, {-90.0, 10.0, -4.0, 2.0, -0.5}};
    for (int i = 1; i <= 5; ++i) inv.A_F2(i) = static_cast<float>(f2.a[static_cast<size_t>(i - 1)]);
    inv.VW = 0.0f;

    inv.IRGN = 1;
    EXPECT_EQ(RECVIRT(inv, 4.5f, 2), 200.0f);
    EXPECT_NEAR(RECVIRT(inv, 4.5f, 5), 297.822f, 0.01);
    EXPECT_NEAR(RECVIRT(inv, 4.5f, 1), 97.822f, 0.01);

    inv.IRGN = 3;
    const double ref = virtualHeightRef({kSegE, f2}, 8.0, 1.2, 60.0 * PI / 180.0);
    EXPECT_NEAR(RECVIRT(inv, 8.0f, 5), ref, 0.05);
    EXPECT_NEAR(RECVIRT(inv, 8.0f, 1) + RECVIRT(inv, 8.0f, 2), ref, 0.05);
    EXPECT_EQ(RECVIRT(inv, 8.0f, 4), 0.0f);  // no F1 layer
    // Above the F2 peak the wave passes through the whole region.
    const double through = virtualHeightRef({kSegE, f2}, 9.5, 1.2, 60.0 * PI / 180.0);
    EXPECT_NEAR(RECVIRT(inv, 9.5f, 5), through, 0.05);
    // Below foE the E part is cut at the reflection height, never below the E peak.
    EXPECT_EQ(RECVIRT(inv, 3.2f, 2), 285.0f);
}

TEST(Recvirt, LeavesTheSolverStateAsItFoundIt) {
    Inversion inv;
    setExampleE(inv);
    inv.FC(1) = 3.0f; inv.FC(2) = 6.0f; inv.FC(3) = 7.0f; inv.FC(4) = 9.0f;
    for (int i = 1; i <= 3; ++i) inv.A_E(i) = -20.0f;
    for (int i = 1; i <= 5; ++i) {
        inv.A_F1(i) = -5.0f;
        inv.A_F2(i) = -7.0f;
    }
    inv.FSTART = 7.0f; inv.FEND = 9.5f; inv.NN = 4; inv.NFQ = 9;
    for (int i = 1; i <= 8; ++i) {
        inv.A(i) = static_cast<float>(i);
        inv.G(i, 1) = static_cast<float>(10 * i);
    }
    for (int i = 1; i <= 5; ++i) inv.GP(i, 1) = static_cast<float>(-i);
    inv.FQ(1) = 7.7f; inv.F2K(1) = 1.5f; inv.DF2K(1) = 2.5f; inv.DHV(1) = 3.5f;
    const Inversion before = inv;
    inv.IRGN = 3;
    const float hv = RECVIRT(inv, 8.5f, 5);
    EXPECT_TRUE(std::isfinite(hv));
    EXPECT_GT(hv, 200.0f);
    EXPECT_EQ(inv.FSTART, before.FSTART);
    EXPECT_EQ(inv.FEND, before.FEND);
    EXPECT_EQ(inv.NN, before.NN);
    EXPECT_EQ(inv.NFQ, before.NFQ);
    EXPECT_EQ(inv.FQ(1), before.FQ(1));
    EXPECT_EQ(inv.F2K(1), before.F2K(1));
    EXPECT_EQ(inv.DF2K(1), before.DF2K(1));
    EXPECT_EQ(inv.DHV(1), before.DHV(1));
    for (int i = 1; i <= 8; ++i) {
        EXPECT_EQ(inv.A(i), before.A(i));
        EXPECT_EQ(inv.G(i, 1), before.G(i, 1));
    }
    for (int i = 1; i <= 5; ++i) EXPECT_EQ(inv.GP(i, 1), before.GP(i, 1));
}

// The valley part of RECVIRT is the valley group path the F stages subtract (FNDDHV) for the
// same frequency, and the parts of MODE 1 to 4 add up to the whole (MODE 5).
TEST(Recvirt, ValleyPartAndTheSumOfTheParts) {
    Inversion inv;
    layered_profile(inv, 60.0, 1.2f, 7.5f, 10.0f, {-40.0f, 2.0f, 2.0f, 2.0f, 2.0f},
                    {-90.0f, -1.0f, -1.0f, -1.0f, -1.0f});
    inv.IRGN = 3;

    // FNDDHV over a set of fit frequencies, as the F stages call it.
    inv.NFQ = 3;
    inv.FQ(1) = 6.5f; inv.FQ(2) = 8.0f; inv.FQ(3) = 9.5f;
    FNDDHV(inv);
    const float dhv2 = inv.DHV(2);
    inv.DHV(1) = -1.0f;
    const float valley = RECVIRT(inv, 8.0f, 3);
    EXPECT_EQ(valley, dhv2);
    EXPECT_EQ(inv.DHV(1), -1.0f);  // restored
    EXPECT_EQ(inv.FQ(1), 6.5f);
    EXPECT_EQ(inv.NFQ, 3);
    // Between the valley width times the group index at the bottom and at the top.
    EXPECT_GT(valley, 30.0f * GOSUB(inv, 1.0f, 8.0f, 4.8f * 4.8f, 1.2f));
    EXPECT_LT(valley, 30.0f * GOSUB(inv, 1.0f, 8.0f, 36.0f, 1.2f));

    const float whole = RECVIRT(inv, 8.0f, 5);
    float parts = 0.0f;
    for (int mode = 1; mode <= 4; ++mode) parts += RECVIRT(inv, 8.0f, mode);
    EXPECT_NEAR(whole, parts, 1e-3);
    EXPECT_EQ(RECVIRT(inv, 8.0f, 0), whole);
    // The E part of an F frequency is the E base height plus the E group path.
    EXPECT_NEAR(RECVIRT(inv, 8.0f, 2), virtualHeightRef({kSegE}, 8.0, 1.2, 60.0 * PI / 180.0), 0.05);
}

namespace {

// What a computation gives on a thread of its own, where nothing was computed before.
template <class F>
std::unique_ptr<Inversion> on_fresh_thread(const Inversion& in, F compute) {
    auto out = std::make_unique<Inversion>(in);
    std::thread t([&] { compute(*out); });
    t.join();
    return out;
}

// The floats of rows 1..rows, columns 1..cols of what ROW points at, bit for bit.
template <class Row>
bool same_bits(Row row, const Inversion& a, const Inversion& b, int rows, int cols) {
    for (int i = 1; i <= rows; ++i)
        if (std::memcmp(row(a, i), row(b, i), static_cast<size_t>(cols) * sizeof(float)) != 0) return false;
    return true;
}

// Every input of a kernel build changed in turn by one unit in the last place: the build on
// this thread, which keeps what it computed before, must give the bits a fresh thread gives,
// before and after the change is undone.
template <class Build, class Row>
void each_input_counts(Inversion& inv, const std::vector<float*>& inputs, Build build, Row row, int rows) {
    build(inv);
    const auto base = on_fresh_thread(inv, build);
    ASSERT_TRUE(same_bits(row, inv, *base, rows, inv.NFQ));
    for (float* x : inputs) {
        const float keep = *x;
        *x = std::nextafter(*x, 1e30f);
        build(inv);
        const auto fresh = on_fresh_thread(inv, build);
        const auto at = x - reinterpret_cast<float*>(&inv);   // which input, for the message
        EXPECT_TRUE(same_bits(row, inv, *fresh, rows, inv.NFQ)) << at;
        EXPECT_FALSE(same_bits(row, inv, *base, rows, inv.NFQ)) << at;
        *x = keep;
        build(inv);
        EXPECT_TRUE(same_bits(row, inv, *base, rows, inv.NFQ));
    }
}

}  // namespace

// RECVIRT_MANY gives each frequency the float RECVIRT gives it alone, for every region and
// part, with frequencies below foE, inside each region and above the top (the wave passing
// through), in runs longer than one batch; and it leaves every column it used as it was.
TEST(Recvirt, ManyFrequenciesAtOnceGiveEachItsOwnHeight) {
    auto inv = std::make_unique<Inversion>();
    layered_profile(*inv, 55.0, 1.1f, 7.5f, 10.0f, {-40.0f, 2.0f, 2.0f, 2.0f, 2.0f},
                    {-90.0f, -1.0f, -1.0f, -1.0f, -1.0f});
    // Scratch the solver holds in the columns used: it must come back.
    inv->FSTART = 7.5f; inv->FEND = 10.0f; inv->NN = 4; inv->NFQ = 17;
    for (int K = 1; K <= MAXTRC; ++K) {
        inv->FQ(K) = 0.01f * static_cast<float>(K);
        inv->F2K(K) = 1.0f + static_cast<float>(K);
        inv->DF2K(K) = 2.0f + static_cast<float>(K);
        inv->DHV(K) = 3.0f + static_cast<float>(K);
        for (int i = 1; i <= MAXNN; ++i) inv->G(i, K) = static_cast<float>(i * K);
        for (int i = 1; i <= 5; ++i) inv->GP(i, K) = -static_cast<float>(i * K);
    }
    for (int i = 1; i <= MAXNN; ++i) inv->A(i) = static_cast<float>(i);
    std::vector<float> f(300);
    for (std::size_t k = 0; k < f.size(); ++k) f[k] = 3.1f + 0.025f * static_cast<float>(k);
    const int n = static_cast<int>(f.size());
    for (int irgn = 1; irgn <= 3; ++irgn)
        for (const int mode : {0, 1, 2, 3, 4, 5}) {
            SCOPED_TRACE("region " + std::to_string(irgn) + " mode " + std::to_string(mode));
            inv->IRGN = static_cast<int16_t>(irgn);
            const Inversion before = *inv;
            std::vector<float> many(f.size(), -1.0f);
            RECVIRT_MANY(*inv, f.data(), n, mode, many.data());
            const auto one = on_fresh_thread(before, [&](Inversion& w) {
                for (std::size_t k = 0; k < f.size(); ++k) w.HV(static_cast<int>(k) + 1) = RECVIRT(w, f[k], mode);
            });
            int differ = 0;
            for (std::size_t k = 0; k < f.size(); ++k)
                differ += std::bit_cast<uint32_t>(many[k]) != std::bit_cast<uint32_t>(one->HV(static_cast<int>(k) + 1));
            EXPECT_EQ(differ, 0);
            EXPECT_EQ(inv->FSTART, before.FSTART);
            EXPECT_EQ(inv->FEND, before.FEND);
            EXPECT_EQ(inv->NN, before.NN);
            EXPECT_EQ(inv->NFQ, before.NFQ);
            int changed = 0;
            for (int i = 1; i <= MAXNN; ++i) changed += inv->A(i) != before.A(i);
            for (int K = 1; K <= n; ++K) {
                changed += inv->FQ(K) != before.FQ(K) || inv->F2K(K) != before.F2K(K) ||
                           inv->DF2K(K) != before.DF2K(K) || inv->DHV(K) != before.DHV(K);
                for (int i = 1; i <= MAXNN; ++i) changed += inv->G(i, K) != before.G(i, K);
                for (int i = 1; i <= 5; ++i) changed += inv->GP(i, K) != before.GP(i, K);
            }
            EXPECT_EQ(changed, 0) << "scratch columns not restored";
        }
    // The frequencies may lie in FQ itself, which the batch uses as scratch (gap mode passes
    // its synthetic points so): the same heights as from a copy, also when the waves that
    // pass through the region (above 10 MHz) are set in FQ before the others.
    inv->IRGN = 3;
    std::vector<float> g(200);
    for (std::size_t k = 0; k < g.size(); ++k) g[k] = 5.0f + 0.03f * static_cast<float>(k);
    const int m = static_cast<int>(g.size());
    for (int K = 1; K <= m; ++K) inv->FQ(K) = g[static_cast<std::size_t>(K - 1)];
    std::vector<float> copied(g.size()), in_place(g.size());
    RECVIRT_MANY(*inv, g.data(), m, RECVIRT_ALL, copied.data());
    RECVIRT_MANY(*inv, inv->FQ.data() + 1, m, RECVIRT_ALL, in_place.data());
    int differ = 0;
    for (std::size_t k = 0; k < g.size(); ++k)
        differ += std::bit_cast<uint32_t>(copied[k]) != std::bit_cast<uint32_t>(in_place[k]);
    EXPECT_EQ(differ, 0);
}


TEST(KernelMemo, BuildsAgainGiveTheBitsOfAFreshBuildForEveryInput) {
    auto inv = std::make_unique<Inversion>();
    setExampleE(*inv);
    inv->NN = 5;
    inv->NFQ = 6;
    for (int K = 1; K <= inv->NFQ; ++K) inv->FQ(K) = 3.2f + 0.45f * static_cast<float>(K);
    CDO(*inv);
    std::vector<float*> sik = {&inv->FSTART, &inv->FEND, &inv->FH, &inv->GC1, &inv->GC2, &inv->GC3, &inv->GC4,
                               &inv->CV(4, 2), &inv->FQ(3), &inv->F2K(5), &inv->DF2K(2)};
    each_input_counts(*inv, sik, [](Inversion& v) { SIK(v); }, [](const Inversion& v, int i) { return &v.G(i, 1); }, 5);
    // The sizes: fewer terms or frequencies are other builds, not parts of a kept one.
    SIK(*inv);
    inv->NN = 3;
    inv->NFQ = 4;
    SIK(*inv);
    EXPECT_TRUE(same_bits([](const Inversion& v, int i) { return &v.G(i, 1); }, *inv,
                          *on_fresh_thread(*inv, [](Inversion& v) { SIK(v); }), 3, 4));

    inv->NN = 5;
    inv->NFQ = 6;
    for (int K = 1; K <= inv->NFQ; ++K) inv->FQ(K) = 6.5f + 0.5f * static_cast<float>(K);
    float FP = 5.0f;
    std::vector<float*> sikp = {&FP, &inv->FSTART, &inv->FEND, &inv->FH, &inv->GC2, &inv->CV(5, 1), &inv->FQ(6)};
    each_input_counts(*inv, sikp, [&FP](Inversion& v) { SIKP(v, FP); }, [](const Inversion& v, int i) { return &v.GP(i, 1); }, 5);
}

TEST(KernelMemo, ValleyGroupPathsFollowEveryInput) {
    auto inv = std::make_unique<Inversion>();
    setExampleE(*inv);
    inv->FC(2) = 6.0f;
    inv->FV = 5.2f;
    inv->VW1 = 4.0f;
    inv->VW2 = 6.0f;
    inv->VW3 = 9.0f;
    inv->VSLOPE(1) = 0.8f;
    inv->VSLOPE(2) = -0.2f;
    inv->VSLOPE(3) = 0.1f;
    inv->NFQ = 5;
    for (int K = 1; K <= inv->NFQ; ++K) inv->FQ(K) = 6.2f + 0.6f * static_cast<float>(K);
    // The widths change the paths without changing what is kept for them.
    std::vector<float*> inputs = {&inv->FC(2), &inv->FV, &inv->FH, &inv->GC3, &inv->FQ(4), &inv->VW2, &inv->VW3};
    each_input_counts(*inv, inputs, [](Inversion& v) { FNDDHV(v); },
                      [](const Inversion& v, int) { return &v.DHV(1); }, 1);
}
