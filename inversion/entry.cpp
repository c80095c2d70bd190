// Inversion entry and trace set-up: PROFIL1 (one record through the whole inversion), SETCV
// (the derivative table of the profile basis) and SETRCE (the trace list of the record).
#include "core/zelk.hpp"
#include "inversion/inversion.hpp"

namespace zelk::inversion {

namespace {

// Rows of the derivative table: coefficients, highest power first, of
// DTST_i(u) = 2 sqrt(u) d/du [sqrt(u) T*_{i-1}(u)] = sum_k c_k (2k + 1) u^k
// when T*_{i-1}(u) = sum_k c_k u^k (shifted Chebyshev polynomials on [0,1]).
constexpr float CVROWS[8][8] = {
    {1},
    {6, -1},
    {40, -24, 1},
    {224, -240, 54, -1},
    {1152, -1792, 800, -96, 1},
    {5632, -11520, 7840, -2000, 150, -1},
    {26624, -67584, 62208, -25088, 4200, -216, 1},
    {122880, -372736, 433664, -241920, 65856, -7840, 294, -1},
};

}  // namespace

// SETCV: fills CV(i, 1..i), i = 1..8, with the coefficients of DTST_i (highest power first);
// the other entries are 0. Writes CV.
void SETCV(Inversion& inv) {
    inv.CV.fill(0.0f);
    for (int i = 1; i <= 8; ++i)
        for (int k = 1; k <= i; ++k) inv.CV(i, k) = CVROWS[i - 1][k - 1];
}

}  // namespace zelk::inversion
