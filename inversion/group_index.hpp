// Group refractive indices of the ordinary and the extraordinary wave (collisionless
// Appleton-Hartree, vertical propagation, the wave normal at 90 degrees - dip to the field),
// inline so that the loops over quadrature nodes in the kernel builds vectorise. Each index
// is written without branches: a vector lane computes exactly the float operations the scalar
// code does, so a loop gives the same floats as one node at a time.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

namespace zelk::inversion {

// Tiny positive number (dimensionless) that makes the reflection test of groupIndex
// branch-free; far below the smallest positive 1 - X a float can hold (2^-24).
inline constexpr float DTINY = 1.0e-30f;

// Ordinary wave: W times the group refractive index at sounding frequency F (MHz), plasma
// frequency squared FN2 (MHz^2) and gyrofrequency FH (MHz), with the dip constants GC1..GC4;
// 0 at or above reflection. `below` is 1 when D > 0 and 0 when D <= 0 (taken from the sign
// of D - DTINY), and the index is evaluated at |D| + DTINY, which equals D for every positive
// float D and keeps the discarded value finite when D <= 0.
inline float groupIndex(float GC1, float GC2, float GC3, float GC4, float W, float F, float FN2,
                        float FH) {
    const float X = FN2 / (F * F);
    const float D = 1.0f - X;
    const float below = 0.5f + std::copysign(0.5f, D - DTINY);
    const float Dc = std::fabs(D) + DTINY;
    const float Y = FH / F;
    const float S = std::sqrt(1.0f + Dc * Dc * GC2 / (GC1 * Y * Y));
    const float P = GC3 / (S + 1.0f);
    const float Q = 1.0f + Dc * P;
    const float M = std::sqrt(Q / (P + 1.0f));
    const float K = (1.0f + X) / S - 2.0f / (S + 1.0f);
    return below * (W * M * (1.0f + GC4 * X * K / (Q * Q)) / std::sqrt(Dc));
}

// Extraordinary wave at sounding frequency F (MHz) and gyrofrequency FH (MHz): the terms that
// do not depend on the plasma frequency. FX2 = F (F - FH) is the plasma frequency squared at
// which the wave reflects; there is no X wave when it is not positive (F <= FH).
struct XWave {
    float FX2, V, W2, M, N, WV;
    bool propagates() const { return FX2 > 0.0f; }
};

inline XWave xWave(float F, float FH) {
    XWave x{};
    x.FX2 = F * (F - FH);
    if (!x.propagates()) return x;
    x.V = FH / std::sqrt(x.FX2);
    x.W2 = (std::sqrt(x.V * x.V + 4.0f) - x.V) / 2.0f;
    x.M = x.V * x.W2;
    x.N = 1.0f - x.M;
    x.WV = x.W2 / x.V;
    return x;
}

// Extraordinary wave that propagates (x.propagates()): W times the group refractive index at
// plasma frequency squared FN2 (MHz^2), with the X dip constants GX1 = 4 sin^2 I /
// (1 + sin^2 I)^2 and GX2 = 2 sin^2 I / (1 + sin^2 I); +0 at or above reflection, T = FN2/FX2
// >= 1 (and for a NaN FN2). Every lane evaluates the index, and a lane at or above
// reflection has its result's bits cleared, whatever it came to (NaN, for one). The mask
// works on the bits because a select of floats lets the compiler move the arithmetic before
// it into two branches, which keeps the loop from vectorising.
inline float xIndex(const XWave& x, float GX1, float GX2, float W, float FN2) {
    const float T = FN2 / x.FX2;
    const std::uint32_t keep = 0u - static_cast<std::uint32_t>(T < 1.0f);
    const float D1 = 1.0f - T;
    const float T2 = x.N * T;
    const float Q = x.WV * D1;
    const float Z = Q * (Q + 2.0f);
    const float S = std::sqrt(1.0f + GX1 * Z);
    const float G = GX2 / (S + 1.0f);
    const float E = x.N + Q - x.M * Z * G;
    const float H = (1.0f - G) * x.M * Z / E;
    const float J = (Z + 1.0f) * (T2 + 1.0f) / S;
    const float L = 2.0f * Z / (S + 1.0f) - J;
    const float P = 1.0f + 0.5f * GX2 * L;
    const float R = 1.0f + T2 * P / (E * E);
    return std::bit_cast<float>(std::bit_cast<std::uint32_t>(R * std::sqrt(W * W / H)) & keep);
}

}  // namespace zelk::inversion
