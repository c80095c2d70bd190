// The SIMD lanes of the IRI bottomside: every value they accept is the float the library
// functions give, on both instruction sets, and they accept nearly all values (a kernel that
// handed everything back to the library would be exact but useless).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "models/lanes.hpp"

namespace lanes = zelk::models::lanes;

namespace {

// The library form of the two steps, as the model routines write them.
float f2bot_lib(double x, double b1, double xbm, double fof2) {
    double xb = std::pow(x, b1);
    if (xb > xbm) xb = xbm;
    return static_cast<float>(fof2 * std::sqrt(std::exp(-xb) / std::cosh(x)));
}

float f1map_lib(double r, double y, double hf1) {
    return static_cast<float>(hf1 * (1.0 - std::pow(r, y)));
}

struct Outcome {
    std::vector<float> out;
    std::vector<uint8_t> ok;
};

// Runs one kernel on both instruction sets; they must agree bit for bit.
template <class F>
Outcome both(F run, int n) {
    Outcome a{std::vector<float>(n), std::vector<uint8_t>(n)};
    Outcome b = a;
    lanes::force_baseline(false);
    run(a.out.data(), a.ok.data());
    lanes::force_baseline(true);
    run(b.out.data(), b.ok.data());
    lanes::force_baseline(false);
    for (int k = 0; k < n; ++k) {
        EXPECT_EQ(a.ok[k], b.ok[k]) << k;
        if (a.ok[k] && b.ok[k]) EXPECT_EQ(a.out[k], b.out[k]) << k;
    }
    return a;
}

}  // namespace

TEST(Lanes, BottomsideValuesAreTheLibraryFloats) {
    std::mt19937_64 rng(12345);
    std::uniform_real_distribution<double> ux(0.0, 1.0);
    int accepted = 0, total = 0;
    for (int round = 0; round < 200; ++round) {
        const double b1 = 1.0 + 5.0 * ux(rng), fof2 = static_cast<float>(2.0 + 13.0 * ux(rng));
        const double xbm = round % 2 ? 10.0 : 80.0;
        // Depths from just below the peak to far down the layer, on a log scale, and a few
        // that put x^B1 on the limit itself.
        std::vector<double> x(lanes::MAXLANES / 2 + 3);
        for (auto& v : x) v = std::exp(std::log(1e-6) + (std::log(40.0) - std::log(1e-6)) * ux(rng));
        x[0] = std::pow(xbm, 1.0 / b1);
        x[1] = std::nextafter(x[0], 0.0);
        x[2] = std::nextafter(x[0], 100.0);
        const int n = static_cast<int>(x.size());
        const Outcome o = both(
            [&](float* out, uint8_t* ok) { lanes::f2bot(x.data(), n, b1, xbm, fof2, out, ok); }, n);
        for (int k = 0; k < n; ++k) {
            ++total;
            if (!o.ok[k]) continue;
            ++accepted;
            ASSERT_EQ(o.out[k], f2bot_lib(x[k], b1, xbm, fof2)) << "x " << x[k] << " B1 " << b1;
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
        std::vector<double> r(301);
        for (auto& v : r) v = (hf1 - static_cast<float>(hf1 * u(rng))) / hf1;
        r[0] = 1.0;   // the mapped height is 0: no float interval to stand on, left to the library
        const int n = static_cast<int>(r.size());
        const Outcome o =
            both([&](float* out, uint8_t* ok) { lanes::f1map(r.data(), n, y, hf1, out, ok); }, n);
        EXPECT_FALSE(o.ok[0]);
        for (int k = 0; k < n; ++k) {
            ++total;
            if (!o.ok[k]) continue;
            ++accepted;
            ASSERT_EQ(o.out[k], f1map_lib(r[k], y, hf1)) << "r " << r[k] << " y " << y;
        }
    }
    EXPECT_GT(accepted, total * 98 / 100);
}

// Arguments outside the kernels' range are handed back, never approximated.
TEST(Lanes, OutOfRangeArgumentsGoToTheLibrary) {
    const double x[] = {0.0, 1e-310, 400.0, 1e300, NAN, 2.0};
    float out[6];
    uint8_t ok[6];
    lanes::f2bot(x, 6, 2.0, 10.0, 8.0, out, ok);
    for (int k = 0; k < 5; ++k) EXPECT_FALSE(ok[k]) << x[k];
    EXPECT_TRUE(ok[5]);
    EXPECT_EQ(out[5], f2bot_lib(2.0, 2.0, 10.0, 8.0));
}
