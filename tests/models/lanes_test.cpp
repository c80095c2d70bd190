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
    if (xb > xbm) xb = xbm;
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
// baseline); they must agree bit for bit, down to which values they hand back.
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
        for (int k = 0; k < n; ++k) {
            EXPECT_EQ(a.ok[k], b.ok[k]) << k;
            if (a.ok[k] && b.ok[k]) {
                EXPECT_EQ(a.out[k], b.out[k]) << k;
            }
        }
    }
    return a;
}

}  // namespace

TEST(Lanes, BottomsideValuesAreTheLibraryFloats) {
    std::mt19937_64 rng(12345);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    int accepted = 0, total = 0;
    for (int round = 0; round < 200; ++round) {
        const double b1 = static_cast<float>(1.0 + 5.0 * u(rng));
        const double b0 = static_cast<float>(10.0 + 200.0 * u(rng));
        const double fof2 = static_cast<float>(2.0 + 13.0 * u(rng));
        const double hmf2 = static_cast<float>(200.0 + 250.0 * u(rng));
        const double xbm = round % 2 ? 10.0 : 80.0;
        // Depths x from just below the peak to far down the layer on a log scale, heights at
        // and above the peak, and heights that put x^B1 on the limit itself.
        std::vector<float> h(lanes::MAXLANES / 2 + 5);
        for (auto& v : h) {
            const double x = std::exp(std::log(1e-6) + (std::log(40.0) - std::log(1e-6)) * u(rng));
            v = static_cast<float>(hmf2 - x * b0);
        }
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
