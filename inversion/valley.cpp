// Valley between the E peak and the F layer, which ionograms do not show: MAHAGULY models
// its width from the solar zenith angle (limited by the lowest F virtual height) and its
// depth from the width; FNDDHV gives the group path it adds to each F sounding frequency.
// PARAFITF fits a parabola to the top half of a solved F1 or F2 layer.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include "core/markers.hpp"
#include "core/rounding.hpp"
#include "inversion/group_index.hpp"
#include "inversion/inversion.hpp"
#include "inversion/memo.hpp"
#include "inversion/quadrature.hpp"
#include "models/models.hpp"

namespace zelk::inversion {

namespace {

// The valley may fill at most this share of the gap between the E peak and the lowest
// F virtual height.
static constexpr float VWCAP = 0.7f;
// Pi as the width law's degree-to-radian conversion has it (six digits).
static constexpr float PI_LAW = 3.14159f;

// FNDDHV's group indices of the flat bottom and integrals over the rising side, kept per
// thread, and the room they are computed in.
thread_local KernelMemo valley_memo;
thread_local std::array<float, 2 * MAXTRC> valley_index;

// Inner products of the profile basis on [0,1]: PGRAM(j,k) = integral of
// u T*_{j-1}(u) T*_{k-1}(u) du (exact rationals).
static constexpr float PGRAM[5][5] = {
    {1.0f / 2.0f, 1.0f / 6.0f, -1.0f / 6.0f, -1.0f / 10.0f, -1.0f / 30.0f},
    {1.0f / 6.0f, 1.0f / 6.0f, 1.0f / 30.0f, -1.0f / 10.0f, -13.0f / 210.0f},
    {-1.0f / 6.0f, 1.0f / 30.0f, 7.0f / 30.0f, 1.0f / 14.0f, -19.0f / 210.0f},
    {-1.0f / 10.0f, -1.0f / 10.0f, 1.0f / 14.0f, 17.0f / 70.0f, 7.0f / 90.0f},
    {-1.0f / 30.0f, -13.0f / 210.0f, -19.0f / 210.0f, 7.0f / 90.0f, 31.0f / 126.0f}};

}  // namespace

// valley_sides: the depth and the sides of a valley of width VW > 0 and depth rho =
// (FV/foE)^2 <= 1: FV = sqrt(rho) foE (at least FVMIN), VD = foE - FV, VW1 = VW2 = VW/3
// (falling side and flat bottom), VW3 the rest (rising side), and VSLOPE, the top of the E
// layer between FV and foE scaled to the thickness VW1. A is used as scratch.
void valley_sides(Inversion& inv, float rho) {
    inv.FV = std::fmax(FVMIN, std::sqrt(rho) * inv.FC(2));
    inv.VD = round3(inv.FC(2) - inv.FV);
    inv.VW1 = inv.VW / 3.0f;
    inv.VW2 = inv.VW1;
    inv.VW3 = inv.VW - inv.VW1 - inv.VW2;
    if (inv.FV < inv.FC(2)) {
        CONTPRFL(3, inv.FC(1), inv.FC(2), inv.A_E.data(), inv.FV, inv.A.data());
        const float S = -(inv.A(1) + inv.A(2) + inv.A(3));
        if (S != 0.0f)
            for (int j = 1; j <= 3; ++j) inv.VSLOPE(j) = inv.VW1 * inv.A(j) / S;
    }
}

float law_depth(float VW) {
    const float e = std::exp((VLAW0 - VW) / VLAWSCALE);
    return std::fmin(1.0f, 0.49f + 0.46f * (e - 1.0f) / (e + 1.0f));
}

// set_valley: the valley of width VW (km) and depth rho = (FV/foE)^2 (rho <= 0: the depth law
// for that width), modelled as MAHAGULY models its own: a falling side (the top of the E layer
// stretched to VW/3), a flat bottom (VW/3) and a linear rising side. Writes VW, VD, FV,
// VW1..VW3, VSLOPE and HBASE(2) = HBASE(3) = ZME + VW; A is used as scratch.
void set_valley(Inversion& inv, float VW, float rho) {
    inv.VW = round3(std::max(VW, 0.0f));
    inv.VW1 = inv.VW2 = inv.VW3 = 0.0f;
    inv.VSLOPE.fill(0.0f);
    inv.VD = 0.0f;
    inv.FV = inv.FC(2);
    if (inv.VW > 0.0f) valley_sides(inv, rho > 0.0f ? std::fmin(rho, 1.0f) : law_depth(inv.VW));
    inv.HBASE(2) = inv.HBASE(3) = inv.ZME + inv.VW;
}

// MAHAGULY: the E-F valley of the record, after the E layer.
//  * hmin, the lowest virtual height of the F1 data (when there are F1 points) and of the
//    F2 data (when there are fewer than four F1 points), after SETUP and DATAEFFE; it fills
//    the record's h'F when that is missing (0 or 9999).
//  * Width: W0 = 59.45 - 14.63 L(chi) km from the solar zenith angle chi (SOCO at the local
//    time of the station), capped at 0.7 (hmin - ZME); VW = 0 when not positive.
//  * Depth: FV = sqrt(rho) foE, at least 0.2 MHz, rho from the depth law; VD = foE - FV.
//  * Sides: VW1 = VW2 = VW/3 (falling side and flat bottom), VW3 the rest (rising side);
//    the falling side is the top of the E layer between FV and foE stretched to VW1
//    (VSLOPE).
// Writes VW, VD, FV, VW1..VW3, VSLOPE, ZENANG, HBASE(2) = HBASE(3) = ZME + VW, KF1MODE =
// KF1MODEP = 0, HPF, and through SETUP the F set-up (FC(3), FC(4), NFQF1/NFQF, FQ/HV, IRGN).
// FSTART and FEND are restored.
void MAHAGULY(Inversion& inv, models::Models& mod, const Context& cx) {
    inv.VW = inv.VD = 0.0f;
    inv.VW1 = inv.VW2 = inv.VW3 = 0.0f;
    inv.VSLOPE.fill(0.0f);
    inv.HBASE(2) = inv.HBASE(3) = inv.ZME;
    inv.KF1MODE = inv.KF1MODEP = 0;
    const float FSKEEP = inv.FSTART, FEKEEP = inv.FEND;

    float hmin = NO_VALUE;
    const auto lowest = [&]() {
        for (int K = 1; K <= inv.NFQ; ++K) hmin = std::fmin(hmin, inv.HV(K));
    };
    if (inv.NFQF1 > 0) {
        inv.IRGN = 2;
        SETUP(inv, mod, cx);
        DATAEFFE(inv, cx);
        lowest();
    }
    if (inv.NFQF1 < 4) {
        inv.IRGN = 3;
        SETUP(inv, mod, cx);
        DATAEFFE(inv, cx);
        lowest();
    }
    if (inv.HPF == 0.0f || inv.HPF >= NO_VALUE) inv.HPF = hmin;

    // Local time at the station (hours), brought into [0, 24).
    float LT = static_cast<float>(inv.IHR) + static_cast<float>(inv.MINU) / 60.0f +
               static_cast<float>(inv.ISEC) / 3600.0f + inv.LOCATION(2) / 15.0f;
    if (LT < 0.0f) LT += 24.0f;
    if (LT >= 24.0f) LT -= 24.0f;
    float decl = 0.0f, chi = 0.0f, sunrise = 0.0f, sunset = 0.0f;
    models::SOCO(inv.IDAY, LT, inv.LOCATION(1), inv.LOCATION(2), decl, chi, sunrise, sunset);
    inv.ZENANG = LT < 12.0f ? -chi : chi;

    // L = ln(1 + 40c) by day, -ln(1 - 40c) when the sun is low or down: one smooth law.
    const float c = std::cos(chi * PI_LAW / 180.0f) + 0.05f;
    const float L = std::log((c + 0.05f + std::fabs(c)) / (0.05f - c + std::fabs(c)));
    const float W0 = VLAW0 - VLAWSCALE * L;
    const float Wcap = VWCAP * (hmin - inv.ZME);
    inv.VW = W0 > Wcap ? round3(Wcap) : round3(W0);

    if (!(inv.VW > 0.0f)) {
        inv.VW = 0.0f;
        inv.VD = 0.0f;
        inv.FV = inv.FC(2);
    } else {
        valley_sides(inv, law_depth(inv.VW));
    }
    inv.FSTART = FSKEEP;
    inv.FEND = FEKEEP;
    inv.HBASE(2) = inv.HBASE(3) = inv.ZME + inv.VW;
}

// FNDDHV: group path of the valley, DHV(K), at each fit frequency FQ(K), K = 1..NFQ, as the
// sum of three parts, each at least its own width and skipped when the width is 0:
//  * falling side (VW1): the E-layer top between FV and foE scaled by VSLOPE, via SIKP;
//  * flat bottom (VW2): VW2 times the group index at plasma frequency FV;
//  * rising side (VW3): plasma frequency rising linearly with height from FV to foE,
//    integrated with the 16-point rule after the substitution fN^2 = fe^2 - (fe^2 - FV^2) x^2.
// DHV = 0 without a valley. Writes DHV and GP; NN, FSTART and FEND are restored.
void FNDDHV(Inversion& inv) {
    const int16_t NNKEEP = inv.NN;
    const float FSKEEP = inv.FSTART, FEKEEP = inv.FEND;
    const float fe = inv.FC(2), FV = inv.FV;
    if (inv.VW1 > 0.0f) {
        inv.NN = 3;
        inv.FSTART = FV;
        inv.FEND = fe;
        SIKP(inv, fe);
    }
    const float s2 = fe * fe - FV * FV;
    // The group index at FV and its integral over the rising side, per fit frequency: they
    // do not depend on the widths, which the refined mode varies, so they are kept.
    const int nfq = std::clamp<int>(inv.NFQ, 0, MAXTRC);
    KernelMemo& memo = valley_memo;
    memo.begin();
    memo.add(static_cast<float>(nfq));
    for (float v : {fe, FV, inv.FH, inv.GC1, inv.GC2, inv.GC3, inv.GC4}) memo.add(v);
    memo.add(inv.FQ.data() + 1, nfq);
    float* const flat = valley_index.data();
    float* const rising = valley_index.data() + MAXTRC;
    float* const rows[2] = {flat, rising};
    if (!memo.take(rows, 2, nfq)) {
        const float FH = inv.FH, GC1 = inv.GC1, GC2 = inv.GC2, GC3 = inv.GC3, GC4 = inv.GC4;
        float p[NG], root[NG];
        valley_rising_nodes(fe, s2, p, root);
        for (int K = 1; K <= nfq; ++K) {
            const float f = inv.FQ(K);
            flat[K - 1] = GOSUB(inv, 1.0f, f, FV * FV, inv.FH);
            // The nodes' terms in one vectorised pass, then their sum in node order.
            float term[NG];
            for (int k = 0; k < NG; ++k)
                term[k] = GL.W[k] * groupIndex(GC1, GC2, GC3, GC4, GL.T[k], f, p[k], FH) / root[k];
            float sum = 0.0f;
            for (int k = 0; k < NG; ++k) sum += term[k];
            rising[K - 1] = sum;
        }
        memo.keep(rows, 2, nfq);
    }
    for (int K = 1; K <= nfq; ++K) {
        float D1 = 0.0f, D2 = 0.0f, D3 = 0.0f;
        if (inv.VW1 > 0.0f) {
            for (int j = 1; j <= 3; ++j) D1 += inv.GP(j, K) * inv.VSLOPE(j);
            D1 = at_least_width(D1, inv.VW1);
        }
        if (inv.VW2 > 0.0f) D2 = at_least_width(inv.VW2 * flat[K - 1], inv.VW2);
        if (inv.VW3 > 0.0f) D3 = at_least_width(inv.VW3 / (fe - FV) * s2 * rising[K - 1], inv.VW3);
        inv.DHV(K) = D1 + D2 + D3;
    }
    inv.NN = NNKEEP;
    inv.FSTART = FSKEEP;
    inv.FEND = FEKEEP;
}

// PARAFITF: semi-thickness of the parabola that best matches the top half of the layer
// IRGN just solved (2 = F1, 3 = F2). The layer's five coefficients are re-expressed on
// the interval from the middle frequency (flo + fe)/2 to its peak fe (CONTPRFL), and the
// unit parabola for that ratio (ZEROPROF) is scaled to them in the least-squares sense of
// the basis inner products PGRAM. The result is limited to the semi-thickness of the
// parabola through the region's start point and its peak.
// Writes YF1 or YF2, and leaves FSTART = (flo + fe)/2, FEND = fe and A = the unit parabola.
void PARAFITF(Inversion& inv) {
    const int region = inv.IRGN;
    if (region != 2 && region != 3) return;
    const float fe = inv.FC(region + 1), flo = inv.FC(region);
    inv.FEND = fe;
    inv.FSTART = 0.5f * (fe + flo);
    const F1<float, 7>& a = region == 2 ? inv.A_F1 : inv.A_F2;
    F1<float, MAXNN> c;
    CONTPRFL(5, flo, fe, a.data(), inv.FSTART, c.data());
    const float ZM = region == 2 ? inv.ZMF1 : inv.ZMF2;
    const float ratio = flo / fe;
    const float Ymax = (ZM - inv.HBASE(region)) / std::sqrt(1.0f - ratio * ratio);

    const int16_t NNKEEP = inv.NN;
    inv.NN = 5;
    ZEROPROF(inv, 0);
    inv.NN = NNKEEP;
    float num = 0.0f, den = 0.0f;
    for (int j = 1; j <= 5; ++j)
        for (int k = 1; k <= 5; ++k) {
            num += c(j) * inv.A(k) * PGRAM[j - 1][k - 1];
            den += inv.A(j) * inv.A(k) * PGRAM[j - 1][k - 1];
        }
    const float Y = std::fmin(num / den, Ymax);
    if (region == 2)
        inv.YF1 = Y;
    else
        inv.YF2 = Y;
}

}  // namespace zelk::inversion
