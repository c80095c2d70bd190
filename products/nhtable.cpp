// The N(h) table: NHTABLE with the layer, valley and topside tabulations TABLYR, TABVAL and
// TABTOP.
//
// Row heights are the multiples of the height step reached by repeated addition from 0, each
// sum rounded to 0.001 km, so that a 10 km table has rows at 10, 20, ... km however the step
// is represented in binary. Every layer and the valley end with a row at their own top (the
// peak, the valley top), so the next part continues above it. Frequencies at the stepped
// heights come from the one profile evaluator of the inversion (profile_height/profile_fn).
#include <cmath>

#include "inversion/inversion.hpp"
#include "products/products.hpp"

namespace zelk::products {

namespace {

constexpr float HEPS = 0.0001f;      // a new row must be this far above the last one (km)
constexpr float PEAKEPS = 0.0005f;   // a stepped height this close below a peak is the peak (km)
constexpr float FTOL = 1.0e-5f;      // bracket width that ends a frequency search (MHz)
constexpr float FBOTTOM = 0.2f;      // plasma frequency at the bottom of the profile (MHz)
constexpr float HTOPMAX = 1000.0f;   // the topside is tabulated up to this height (km)
constexpr int MAXBISECT = 60;        // cap on the halvings of a frequency search
constexpr long MAXSTEPS = 4000000;   // cap on the height additions of one tabulation

// Advances the stepped height H (by HSTEP, rounded to 0.001 km after each addition) until it
// lies more than 0.0001 km above HLAST. Returns false when the step cannot advance H (a step
// below the rounding unit) or the cap is reached; H is then left where it stopped.
bool NEXTH(float& H, float HLAST, float HSTEP, long& NSTEP) {
    while (!(H > HLAST + HEPS)) {
        const float next = round3(H + HSTEP);
        if (!(next > H) || ++NSTEP > MAXSTEPS) return false;
        H = next;
    }
    return true;
}

void append(float F, float H, int16_t& NPROW, F1<float, MAXROW>& PRFFN,
            F1<float, MAXROW>& PRFHT) {
    ++NPROW;
    PRFFN(NPROW) = F;
    PRFHT(NPROW) = H;
}

void CLEARTABLE(Products& P) {
    P.NPROW = 0;
    P.PRFHT.fill(0.0f);
    P.PRFFN.fill(0.0f);
}

}  // namespace

// TABLYR: appends the rows of one layer to the table.
// Given the height step HSTEP (km, > 0), the layer's start and peak plasma frequencies FS, FE
// (MHz), its peak height ZM (km) and coefficients A(1..5) (A points at element 0). A layer
// starting at 0.2 MHz is the bottom of the profile: the table restarts with its start row.
// Rows at the stepped heights above the last row up to the peak, then the peak row (FE, ZM).
// Nothing is added unless 0 < FS < FE (in the sense FS x FE > 0 and FE > FS); the table stops
// growing at 999 rows. With an empty table (a layer that is not the bottom) the layer's start
// point serves as the last row without being stored.
void TABLYR(float HSTEP, float FS, float FE, float ZM, const float* A, int16_t& NPROW,
            F1<float, MAXROW>& PRFFN, F1<float, MAXROW>& PRFHT) {
    if (!(FS * FE > 0.0f && FE > FS)) return;
    const inversion::RegionProfile r = inversion::make_region(FS, FE, ZM, A);
    if (FS == FBOTTOM) {
        NPROW = 1;
        PRFFN(1) = FBOTTOM;
        PRFHT(1) = ZM + A[1] + A[2] + A[3] + A[4] + A[5];
    }
    float flast = NPROW > 0 ? PRFFN(NPROW) : FS;
    float hlast = NPROW > 0 ? PRFHT(NPROW) : inversion::profile_height(r, FS);
    float h = 0.0f;
    long nstep = 0;
    while (NEXTH(h, hlast, HSTEP, nstep)) {
        if (NPROW > MAXROW - 1) return;
        if (h > ZM - PEAKEPS) {
            append(FE, ZM, NPROW, PRFFN, PRFHT);
            return;
        }
        const float f = inversion::profile_fn(r, h, flast);
        append(f, h, NPROW, PRFFN, PRFHT);
        flast = f;
        hlast = h;
    }
}

// TABVAL: appends the valley above an E-type layer (start FS, peak FE, peak height ZM,
// coefficients A(1..3)): a falling side of width VW/3 shaped like the top of the layer between
// FV = FE - VD (at least 0.2 MHz) and FE, a flat bottom at FV and a side rising linearly in
// plasma frequency back to FE, each part ending with a row at its top height. Nothing is added
// unless FS x FE and VW x VD are non-zero; no row is added beyond the 999th.
void TABVAL(float HSTEP, float VW, float VD, float FS, float FE, float ZM, const float* A,
            int16_t& NPROW, F1<float, MAXROW>& PRFFN, F1<float, MAXROW>& PRFHT) {
    if (FS * FE == 0.0f || VW * VD == 0.0f) return;
    const float FV = std::fmax(FE - VD, FBOTTOM);
    const float W1 = VW / 3.0f;
    const float ZMR = round3(ZM);
    const float H1 = round3(ZMR + W1), H2 = round3(ZMR + 2.0f * W1), H3 = round3(ZMR + VW);

    // Falling side: the layer's top between FV and FE, stretched to the thickness W1 and
    // turned over, h(f) = ZMR - sqrt(u) sum s(j) T*_{j-1}(u) on [FV, FE].
    float C[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    inversion::CONTPRFL(3, FS, FE, A, FV, C);
    const float CSUM = -(C[1] + C[2] + C[3]);
    inversion::RegionProfile fall;
    fall.FS = FV;
    fall.FE = FE;
    fall.ZM = ZMR;
    fall.NN = 3;
    for (int j = 1; j <= 3; ++j) fall.A(j) = CSUM != 0.0f ? -W1 * C[j] / CSUM : 0.0f;
    if (CSUM == 0.0f) fall.A(1) = W1;

    float flast = NPROW > 0 ? PRFFN(NPROW) : FE;
    float hlast = NPROW > 0 ? PRFHT(NPROW) : ZMR;
    float h = 0.0f;
    long nstep = 0;
    bool more = NEXTH(h, hlast, HSTEP, nstep);
    // The falling side: frequency decreases with height, so the search keeps the higher
    // frequency at the lower end of the height bracket.
    for (; more && h < H1; more = NEXTH(h, hlast, HSTEP, nstep)) {
        if (NPROW >= MAXROW) return;
        float flo = flast, fhi = FV, mid = flast;   // flo: below h, fhi: above h
        for (int it = 0; it < MAXBISECT; ++it) {
            mid = 0.5f * (flo + fhi);
            const float hm = inversion::profile_height(fall, mid);
            if (std::fabs(hm - h) < HEPS) break;
            if (hm > h) fhi = mid; else flo = mid;
            if (std::fabs(fhi - flo) <= FTOL) break;
        }
        append(mid, h, NPROW, PRFFN, PRFHT);
        flast = mid;
        hlast = h;
    }
    if (NPROW >= MAXROW) return;
    append(FV, H1, NPROW, PRFFN, PRFHT);
    hlast = H1;
    // A part whose plasma frequency is FPART(h): the stepped heights below HTOP, then HTOP
    // itself at FTOP. False when the table filled up.
    auto part = [&](float HTOP, float FTOP, auto FPART) {
        for (more = NEXTH(h, hlast, HSTEP, nstep); more && h < HTOP;
             more = NEXTH(h, hlast, HSTEP, nstep)) {
            if (NPROW >= MAXROW) return false;
            append(FPART(h), h, NPROW, PRFFN, PRFHT);
            hlast = h;
        }
        if (NPROW >= MAXROW) return false;
        append(FTOP, HTOP, NPROW, PRFFN, PRFHT);
        hlast = HTOP;
        return true;
    };
    // The flat bottom, then the rising side, linear in plasma frequency up to FE at H3.
    if (!part(H2, FV, [FV](float) { return FV; })) return;
    part(H3, FE, [&](float hh) { return FV + (FE - FV) * (hh - ZMR - 2.0f * W1) / W1; });
}

// TABTOP: appends the topside above the F2 peak (critical frequency FC, peak height HM): an
// alpha-Chapman layer of scale height 1.6 H, f = FC exp(0.5 (1 - z - exp(-z))), z = (h - HM)/
// (1.6 H), at the stepped heights above the peak up to 1000 km, until f drops below 0.2 MHz
// or the table holds 999 rows. Nothing is added unless 1.6 H > 0. An undetermined H (9999.0)
// still tabulates, with a very slow decay.
void TABTOP(float HSTEP, float FC, float HM, float H, int16_t& NPROW, F1<float, MAXROW>& PRFFN,
            F1<float, MAXROW>& PRFHT) {
    const float S = 1.6f * H;
    if (!(S > 0.0f)) return;
    float h = 0.0f;
    long nstep = 0;
    for (bool more = NEXTH(h, HM, HSTEP, nstep); more; more = NEXTH(h, h, HSTEP, nstep)) {
        if (h > HTOPMAX) return;
        const float z = (h - HM) / S;
        const float f = FC * std::exp(0.5f * (1.0f - z - std::exp(-z)));
        if (f < FBOTTOM || NPROW >= MAXROW) return;
        append(f, h, NPROW, PRFFN, PRFHT);
    }
}

// NHTABLE: builds the N(h) table of the solved profile.
// MODE 0: the first pass, at 1 km, up to the F2 peak; copied into NPROW1/PRFHT1/PRFFN1 for the
// shape parameters, the electron content and the display. MODE 1: the final pass at the run's
// HSTEP with the topside of scale height H; HSTEP 0 (or not positive) leaves no table, and
// HSTEP 1.0 reuses the first-pass table and only adds the topside.
// Reads HSTEP (the run's table step), the regions, valley and LF1 of S, and P.H.
// Writes P.NPROW, PRFHT, PRFFN (and the first-pass copy for MODE 0).
void NHTABLE(Products& P, const profile::SolvedProfile& S, float HSTEP, int MODE) {
    if (MODE == 0) {
        CLEARTABLE(P);
        HSTEP = 1.0f;
    }
    if (!(HSTEP > 0.0f)) {
        CLEARTABLE(P);
        return;
    }
    if (!(MODE >= 1 && HSTEP == 1.0f)) {
        CLEARTABLE(P);
        float AE[6] = {0.0f, S.E.A(1), S.E.A(2), S.E.A(3), 0.0f, 0.0f};
        TABLYR(HSTEP, S.E.FS, S.E.FE, S.E.ZM, AE, P.NPROW, P.PRFFN, P.PRFHT);
        TABVAL(HSTEP, S.VW, S.VD, S.E.FS, S.E.FE, S.E.ZM, S.E.A.data(), P.NPROW,
               P.PRFFN, P.PRFHT);
        if (S.LF1)
            TABLYR(HSTEP, S.E.FE, S.F2.FS, S.F1.ZM, S.F1.A.data(), P.NPROW, P.PRFFN,
                   P.PRFHT);
        TABLYR(HSTEP, S.F2.FS, S.F2.FE, S.F2.ZM, S.F2.A.data(), P.NPROW, P.PRFFN,
               P.PRFHT);
    }
    if (MODE >= 1) TABTOP(HSTEP, S.F2.FE, S.F2.ZM, P.H, P.NPROW, P.PRFFN, P.PRFHT);
    if (MODE == 0) {
        P.NPROW1 = P.NPROW;
        P.PRFHT1 = P.PRFHT;
        P.PRFFN1 = P.PRFFN;
    }
}

// ea_table: the auroral-E layer of EAFIT (coefficients A(1..3) as EAPROF left them, peak
// EAFIT(5), critical frequency fcEA = EAFIT(7)) tabulated from the auroral-E start frequency
// (TABLYR), then the valley between it and the main profile when the main table has rows and
// foE < fcEA < foF2 (TABVAL; width from the main profile's height at fcEA, depth from the
// valley depth law), written over AUXFN/AUXHT. Sets NEAROW, EAFIT(8) (valley width) and
// EAFIT(9) (valley depth), and clears the coefficients A(4..) above the parabola.
void ea_table(inversion::Inversion& inv, float HSTEP, int16_t NPROW, F1<float, MAXROW>& AUXFN,
             F1<float, MAXROW>& AUXHT) {
    using inversion::FSTART_E;
    const float fcEA = inv.EAFIT(7);
    const float peak = inv.EAFIT(5);
    if (!(fcEA > FSTART_E)) return;
    if (!(HSTEP > 0.0f)) return;
    AUXHT.fill(0.0f);
    AUXFN.fill(0.0f);
    for (int j = 4; j <= inversion::MAXNN; ++j) inv.A(j) = 0.0f;
    TABLYR(HSTEP, FSTART_E, fcEA, peak, inv.A.data(), inv.NEAROW, AUXFN, AUXHT);

    if (NPROW > 0 && inv.FC(2) < fcEA && fcEA < inv.FC(4)) {
        const float hmain = profile_height(inversion::REGION(inv, fcEA >= inv.FC(3) ? 3 : 2), fcEA);
        const float W = hmain - peak;
        if (W > 0.0f) {
            const float e = std::exp((inversion::VLAW0 - W) / inversion::VLAWSCALE);
            const float rho = std::fmin(1.0f, 0.49f + 0.46f * (e - 1.0f) / (e + 1.0f));
            const float fbottom = std::sqrt(rho) * fcEA;
            const float depth = fbottom < FSTART_E ? fcEA - FSTART_E : fcEA - fbottom;
            inv.EAFIT(8) = W;
            inv.EAFIT(9) = depth;
            TABVAL(HSTEP, W, depth, FSTART_E, fcEA, peak, inv.A.data(), inv.NEAROW, AUXFN, AUXHT);
        }
    }
}

}  // namespace zelk::products
