// The fast fit's model on SIMD lanes: the solved heights are roots of the model equation as the
// library functions evaluate it, the slopes are those of the solved heights, and the AVX2 and
// the baseline builds give the same bits.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/simd.hpp"
#include "models/shape_lanes.hpp"

namespace sl = zelk::models::shape_lanes;

namespace {

// ln((fN/foF2)^2) of the model at height h, with the library functions.
double L_lib(const sl::Model& M, double h) {
    double hp = h;
    if (h < M.HZ && M.HST != M.HVT) {
        if (M.T > 0.0) {
            const double arg = M.T * (M.HZ - h + M.T * 0.25);
            hp = M.HZ + M.T * 0.5 - (arg > 0.0 ? std::sqrt(arg) : 0.0);
        } else if (M.T < 0.0) {
            const double q = (M.HZ - h) / (M.HZ - M.HVT);
            hp = h - (M.HVT - M.HST) * q * q;
        }
    }
    if (M.f1 && M.HF1 > 0.0 && hp < M.HF1) hp = M.HF1 * (1.0 - std::pow((M.HF1 - hp) / M.HF1, M.D1 + 1.0));
    const double x = (M.HMF2 - hp) / M.B0;
    if (!(x > 0.0)) return 0.0;
    return -std::min(std::pow(x, M.B1), 10.0) - std::log(std::cosh(x));
}

// The three shapes: F2 only with a rising intermediate region (T > 0), the F1 modification,
// and a sinking intermediate region (T < 0).
std::vector<sl::Model> models() {
    sl::Model a;
    a.HMF2 = 300.0; a.HVT = 120.0; a.B0 = 90.0; a.B1 = 2.4; a.D1 = 0.0;
    a.HST = 150.0; a.HZ = 200.0; a.T = 40.0;
    sl::Model b = a;
    b.f1 = true; b.HF1 = 210.0; b.D1 = 0.6; b.B1 = 3.1;
    sl::Model c = a;
    c.HST = 110.0; c.HZ = 180.0; c.T = -20.0;
    return {a, b, c};
}

struct Solved {
    std::vector<double> h;
    std::vector<uint8_t> end;
};

Solved solve(const sl::Model& M, const std::vector<double>& C) {
    Solved s{std::vector<double>(C.size(), 0.5 * (M.HVT + M.HMF2)), std::vector<uint8_t>(C.size())};
    sl::solve(M, C.data(), static_cast<int>(C.size()), 1.0e-5, s.h.data(), s.end.data());
    return s;
}

// Levels between the model's value at the valley top and the peak (11 rows: whole groups and
// a partial one, of four lanes and of eight).
std::vector<double> levels(const sl::Model& M) {
    const double lo = L_lib(M, M.HVT + 0.5);
    std::vector<double> C;
    for (int k = 1; k <= 11; ++k) C.push_back(lo * (1.0 - k / 12.0));
    return C;
}

TEST(ShapeLanes, HeightsAreRootsOfTheModelOnEveryInstructionSet) {
    using zelk::simd::Mode;
    for (const sl::Model& M : models()) {
        const std::vector<double> C = levels(M);
        zelk::simd::set_mode(Mode::AUTO);
        const Solved a = solve(M, C);
        zelk::simd::set_mode(Mode::AVX2);
        const Solved b = solve(M, C);
        zelk::simd::set_mode(Mode::BASELINE);
        const Solved c = solve(M, C);
        zelk::simd::set_mode(Mode::AUTO);
        for (std::size_t k = 0; k < C.size(); ++k) {
            EXPECT_EQ(std::memcmp(&a.h[k], &b.h[k], sizeof(double)), 0) << k;
            EXPECT_EQ(std::memcmp(&a.h[k], &c.h[k], sizeof(double)), 0) << k;
            EXPECT_EQ(a.end[k], 0) << k;
            // The library model changes sign across the solved height within 1e-6 km.
            EXPECT_LE(L_lib(M, a.h[k] - 1.0e-6), C[k]) << k << " h " << a.h[k];
            EXPECT_GE(L_lib(M, a.h[k] + 1.0e-6), C[k]) << k << " h " << a.h[k];
        }
        // A level the model never reaches below the peak ends at the bracket's end.
        const Solved top = solve(M, {1.0});
        EXPECT_EQ(top.end[0], 1);
        EXPECT_NEAR(top.h[0], M.HMF2, 1.0e-5);
    }
}

TEST(ShapeLanes, SlopesAreThoseOfTheSolvedHeights) {
    for (const sl::Model& M : models()) {
        const std::vector<double> C = levels(M);
        const Solved s = solve(M, C);
        std::vector<double> J(3 * C.size());
        std::vector<uint8_t> ok(C.size());
        sl::slopes(M, s.h.data(), static_cast<int>(C.size()), J.data(), ok.data());
        // -dh/dp by central differences of the solutions (hF1 and the intermediate region held,
        // as their derivatives in M are zero).
        const double eps[3] = {1.0e-2, 1.0e-3, 1.0e-3};
        for (int a = 0; a < (M.f1 ? 3 : 2); ++a) {
            sl::Model up = M, dn = M;
            double* pu = a == 0 ? &up.B0 : a == 1 ? &up.B1 : &up.D1;
            double* pd = a == 0 ? &dn.B0 : a == 1 ? &dn.B1 : &dn.D1;
            *pu += eps[a];
            *pd -= eps[a];
            const Solved hu = solve(up, C), hd = solve(dn, C);
            for (std::size_t k = 0; k < C.size(); ++k) {
                ASSERT_EQ(ok[k], 1);
                const double fd = -(hu.h[k] - hd.h[k]) / (2.0 * eps[a]);
                EXPECT_NEAR(J[3 * k + static_cast<std::size_t>(a)], fd, 2.0e-3 * (1.0 + std::fabs(fd)))
                    << "parameter " << a << " row " << k;
            }
        }
    }
}

}  // namespace
