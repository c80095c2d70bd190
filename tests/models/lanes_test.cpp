// The SIMD lanes of the IRI bottomside: every value they accept is the float the library
// functions give, on both instruction sets, and they accept nearly all values (a kernel that
// handed everything back to the library would be exact but useless).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "core/simd.hpp"
#include "models/lanes.hpp"

namespace lanes = zelk::models::lanes;

namespace {

// The library form of the two steps, as the model routines write them.
float f2bot_lib(float h, double hmf2, double b0, double b1, double xbm, double fof2) {
    const double x = (hmf2 - h) / b0;
    if (!(x > 0.0)) return static_cast<float>(fof2);
    double xb = std::pow(x, b1);
    if (xbm > 0.0 && xb > xbm) xb = xbm;
    return static_cast<float>(fof2 * std::sqrt(std::exp(-xb) / std::cosh(x)));
}

float f1map_lib(float h, double hf1, double y) {
    const double r = (hf1 - h) / hf1;
    return static_cast<float>(hf1 * (1.0 - std::pow(r, y)));
}

struct Outcome {
    std::vector<float> out;
    std::vector<uint8_t> ok;
};

// Runs one kernel on every instruction set (the widest the processor has, AVX2 and the
// baseline). Where two builds both vouch for a value it is the same float. Which values they
// hand back may differ, but only at the rounding of a fused multiply-add (the AVX builds fuse,
// the baseline does not): a value a hair from the edge of the accepted interval.
template <class F>
Outcome both(F run, int n) {
    using zelk::simd::Mode;
    Outcome a{std::vector<float>(n), std::vector<uint8_t>(n)};
    zelk::simd::set_mode(Mode::AUTO);
    run(a.out.data(), a.ok.data());
    for (const Mode m : {Mode::AVX2, Mode::BASELINE}) {
        SCOPED_TRACE(m == Mode::AVX2 ? "AVX2" : "baseline");
        Outcome b{std::vector<float>(n), std::vector<uint8_t>(n)};
        zelk::simd::set_mode(m);
        run(b.out.data(), b.ok.data());
        zelk::simd::set_mode(Mode::AUTO);
        int differ = 0;
        for (int k = 0; k < n; ++k) {
            differ += a.ok[k] != b.ok[k];
            if (a.ok[k] && b.ok[k]) {
                EXPECT_EQ(a.out[k], b.out[k]) << k;
            }
        }
        EXPECT_LE(differ, n / 1000) << "the builds disagree on which values hold";
    }
    return a;
}

// A random F2 layer: B1 1-6, B0 from B0MIN over B0SPAN km, foF2 2-15 MHz, hmF2 200-450 km,
// each a float.
struct Layer {
    double b1, b0, fof2, hmf2;
};
template <class Rng>
Layer random_layer(Rng& rng, double b0min, double b0span) {
    std::uniform_real_distribution<double> u(0.0, 1.0);
    Layer l{};
    l.b1 = static_cast<float>(1.0 + 5.0 * u(rng));
    l.b0 = static_cast<float>(b0min + b0span * u(rng));
    l.fof2 = static_cast<float>(2.0 + 13.0 * u(rng));
    l.hmf2 = static_cast<float>(200.0 + 250.0 * u(rng));
    return l;
}

// A value between LO and HI, uniform on a log scale.
template <class Rng>
double log_uniform(Rng& rng, double lo, double hi) {
    std::uniform_real_distribution<double> u(0.0, 1.0);
    return std::exp(std::log(lo) + (std::log(hi) - std::log(lo)) * u(rng));
}

}  // namespace

TEST(Lanes, BottomsideValuesAreTheLibraryFloats) {
    std::mt19937_64 rng(12345);
    int accepted = 0, total = 0;
    for (int round = 0; round < 200; ++round) {
        const auto [b1, b0, fof2, hmf2] = random_layer(rng, 10.0, 200.0);
        const double xbm = round % 2 ? 10.0 : 80.0;
        // Depths x from just below the peak to far down the layer on a log scale, heights at
        // and above the peak, and heights that put x^B1 on the limit itself.
        std::vector<float> h(lanes::MAXLANES / 2 + 5);
        for (auto& v : h) v = static_cast<float>(hmf2 - log_uniform(rng, 1e-6, 40.0) * b0);
        const float hlim = static_cast<float>(hmf2 - std::pow(xbm, 1.0 / b1) * b0);
        h[0] = hlim;
        h[1] = std::nextafter(hlim, 0.0f);
        h[2] = std::nextafter(hlim, 1000.0f);
        h[3] = static_cast<float>(hmf2);
        h[4] = static_cast<float>(hmf2 + 1.0);
        const int n = static_cast<int>(h.size());
        const Outcome o = both(
            [&](float* out, uint8_t* ok) {
                lanes::f2bot(h.data(), n, hmf2, b0, b1, xbm, fof2, out, ok);
            },
            n);
        EXPECT_TRUE(o.ok[3] && o.ok[4]);
        for (int k = 0; k < n; ++k) {
            ++total;
            if (!o.ok[k]) continue;
            ++accepted;
            ASSERT_EQ(o.out[k], f2bot_lib(h[k], hmf2, b0, b1, xbm, fof2))
                << "h " << h[k] << " B0 " << b0 << " B1 " << b1;
        }
    }
    EXPECT_GT(accepted, total * 99 / 100);
}

// Without a limit on x^B1 (XBM 0, as the search of the intermediate region asks): the lanes
// vouch for the values with x^B1 up to 80, where their error is known to stay inside the test,
// and hand back every value beyond it (x^B1 far too large for the exp kernel among them).
TEST(Lanes, UnlimitedPowerValuesAreTheLibraryFloats) {
    std::mt19937_64 rng(2468);
    int small = 0, small_accepted = 0;
    for (int round = 0; round < 100; ++round) {
        const auto [b1, b0, fof2, hmf2] = random_layer(rng, 30.0, 150.0);
        // x^B1 from 1e-6 to 1e4 on a log scale.
        std::vector<float> h(301);
        for (auto& v : h)
            v = static_cast<float>(hmf2 - std::pow(log_uniform(rng, 1e-6, 1e4), 1.0 / b1) * b0);
        const int n = static_cast<int>(h.size());
        const Outcome o = both(
            [&](float* out, uint8_t* ok) {
                lanes::f2bot(h.data(), n, hmf2, b0, b1, 0.0, fof2, out, ok);
            },
            n);
        for (int k = 0; k < n; ++k) {
            const double xb = std::pow((hmf2 - h[k]) / b0, b1);
            if (xb > 80.0 * (1.0 + 1e-9)) {
                EXPECT_FALSE(o.ok[k]) << "x^B1 " << xb;
                continue;
            }
            if (xb < 79.0) {
                ++small;
                small_accepted += o.ok[k];
            }
            if (o.ok[k]) {
                ASSERT_EQ(o.out[k], f2bot_lib(h[k], hmf2, b0, b1, 0.0, fof2)) << "x^B1 " << xb;
            }
        }
    }
    EXPECT_GT(small, 10000);
    EXPECT_GT(small_accepted, small * 99 / 100);
}

TEST(Lanes, F1MappedHeightsAreTheLibraryFloats) {
    std::mt19937_64 rng(777);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    int accepted = 0, total = 0;
    for (int round = 0; round < 200; ++round) {
        const double hf1 = static_cast<float>(150.0 + 100.0 * u(rng));
        const double y = 1.0 + static_cast<float>(5.0 * u(rng));
        std::vector<float> h(301);
        for (auto& v : h) v = static_cast<float>(hf1 * u(rng));
        h[0] = 0.0f;   // mapped to 0: no float interval to stand on, left to the library
        const int n = static_cast<int>(h.size());
        const Outcome o =
            both([&](float* out, uint8_t* ok) { lanes::f1map(h.data(), n, hf1, y, out, ok); }, n);
        EXPECT_FALSE(o.ok[0]);
        for (int k = 0; k < n; ++k) {
            ++total;
            if (!o.ok[k]) continue;
            ++accepted;
            ASSERT_EQ(o.out[k], f1map_lib(h[k], hf1, y)) << "h " << h[k] << " y " << y;
        }
    }
    EXPECT_GT(accepted, total * 98 / 100);
}

// Arguments outside the kernels' range are handed back, never approximated.
TEST(Lanes, OutOfRangeArgumentsGoToTheLibrary) {
    // x = (300 - h)/10: 0 (the peak), 1e-5, 400, huge, NaN, 2.
    const float h[] = {300.0f, 299.9999f, -3700.0f, -1e30f, NAN, 280.0f};
    float out[6];
    uint8_t ok[6];
    lanes::f2bot(h, 6, 300.0, 10.0, 2.0, 10.0, 8.0, out, ok);
    EXPECT_TRUE(ok[0]);
    EXPECT_EQ(out[0], 8.0f);
    EXPECT_FALSE(ok[2]);
    EXPECT_FALSE(ok[3]);
    EXPECT_TRUE(ok[5]);
    EXPECT_EQ(out[5], f2bot_lib(280.0f, 300.0, 10.0, 2.0, 10.0, 8.0));
    // NaN: x is not positive as far as the comparison goes, so the value is foF2, as the
    // library routine gives.
    EXPECT_TRUE(ok[4]);
    EXPECT_EQ(out[4], 8.0f);
}

// One halving of packed height searches: on every instruction set the same brackets, ends and
// squares, nothing written beyond the N searches (tails of every length up to the widest
// vector), and the rules of one halving: a model value above the frequency brings the upper
// end down, one within FTOL or a bracket narrower than HTOL ends the search, and an ended
// search's square is that of the table height less its last midpoint.
TEST(Lanes, HalvingsAgreeOnEveryInstructionSetAndStayInBounds) {
    using zelk::simd::Mode;
    constexpr float FTOL = 1.0e-5f, HTOL = 1.0e-4f;
    std::mt19937_64 rng(777);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    struct State {
        std::vector<float> lo, hi;
        std::vector<double> lb;
        std::vector<uint8_t> done;
        int ended = -1;
        double ds = 0.0, ds1 = 0.0;
    };
    for (const int n : {1, 3, 4, 7, 8, 9, 15, 16, 17, 100}) {
        SCOPED_TRACE(n);
        const int cap = n + 9;   // room behind the N searches, which must stay untouched
        std::vector<float> f(cap), fm(cap), mid(cap), h(cap), lo0(cap), hi0(cap);
        std::vector<double> lb0(cap);
        std::vector<uint8_t> first(cap);
        for (int k = 0; k < cap; ++k) {
            lo0[k] = 200.0f + 100.0f * u(rng);
            hi0[k] = lo0[k] + (k % 5 == 0 ? 1.5e-4f : 50.0f * u(rng));
            mid[k] = 0.5f * (lo0[k] + hi0[k]);
            f[k] = 2.0f + 8.0f * u(rng);
            fm[k] = k % 7 == 1 ? f[k] + 0.5f * FTOL : (k % 11 == 2 ? NAN : 2.0f + 8.0f * u(rng));
            h[k] = lo0[k] - 20.0f + 90.0f * u(rng);
            lb0[k] = 0.0;
            first[k] = k % 3 == 0;
        }
        auto run = [&](Mode m) {
            State s{lo0, hi0, lb0, std::vector<uint8_t>(cap, 7)};
            zelk::simd::set_mode(m);
            s.ended = lanes::halve(n, f.data(), fm.data(), mid.data(), h.data(), s.lo.data(),
                                   s.hi.data(), s.lb.data(), first.data(), s.done.data(), FTOL,
                                   HTOL, s.ds, s.ds1);
            zelk::simd::set_mode(Mode::AUTO);
            return s;
        };
        const State a = run(Mode::AUTO);
        double all = 0.0, part = 0.0;
        int ends_seen = 0;
        for (int k = 0; k < cap; ++k) {
            SCOPED_TRACE(k);
            if (k >= n) {
                EXPECT_EQ(a.lo[k], lo0[k]);
                EXPECT_EQ(a.hi[k], hi0[k]);
                EXPECT_EQ(a.lb[k], lb0[k]);
                EXPECT_EQ(a.done[k], 7);
                continue;
            }
            const bool above = fm[k] > f[k];
            EXPECT_EQ(a.hi[k], above ? mid[k] : hi0[k]);
            EXPECT_EQ(a.lo[k], above ? lo0[k] : mid[k]);
            const bool ends = std::fabs(fm[k] - f[k]) < FTOL || a.hi[k] - a.lo[k] < HTOL;
            EXPECT_EQ(a.done[k], ends ? 1 : 0);
            ends_seen += ends;
            float d = 0.0f;
            if (ends) d = h[k] - mid[k];
            else if (h[k] < a.lo[k]) d = h[k] - a.lo[k];
            else if (h[k] > a.hi[k]) d = h[k] - a.hi[k];
            EXPECT_EQ(a.lb[k], static_cast<double>(d) * d);
            all += a.lb[k];
            if (first[k]) part += a.lb[k];
        }
        // The count of ended searches leaves out the padding lanes past N.
        EXPECT_EQ(a.ended, ends_seen);
        EXPECT_NEAR(a.ds, all, 1e-9 * all);
        EXPECT_NEAR(a.ds1, part, 1e-9 * (part + 1.0));
        for (const Mode m : {Mode::AVX2, Mode::BASELINE}) {
            const State b = run(m);
            EXPECT_EQ(b.lo, a.lo);
            EXPECT_EQ(b.hi, a.hi);
            EXPECT_EQ(b.lb, a.lb);
            EXPECT_EQ(b.done, a.done);
            EXPECT_EQ(b.ended, a.ended);
            EXPECT_NEAR(b.ds, a.ds, 1e-12 * (a.ds + 1.0));
        }
    }
}
