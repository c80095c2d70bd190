// Layer solver: prepares one region of the profile (SETUP), searches its end frequency and
// fits its coefficients by least squares on virtual heights (DENSTY with ESTAB and EQUTN),
// and accepts only solutions whose real height rises monotonically over the region
// (CHECKH, an exact root count by a Sturm sequence).
#include <cmath>
#include <cstdint>
#include <ostream>

#include "core/markers.hpp"
#include "core/rounding.hpp"
#include "inversion/inversion.hpp"
#include "models/models.hpp"

namespace zelk::inversion {

namespace {

// Frequency of the line that holds f: the line index is the integer part of
// (f + 0.0005)/FQINCR (truncation), and the line's frequency that index times FQINCR.
float line_frequency(float f, float FQINCR) {
    return static_cast<float>(static_cast<int32_t>((f + 0.0005f) / FQINCR)) * FQINCR;
}

// Widest bracket search: the bracket is one frequency step wide and is at least halved by
// every trial, so a handful of trials end it; the cap only guards against a stalled search.
static constexpr int MAXTRIAL = 64;
// A scaled critical frequency is used as the peak only this far above the highest fit
// frequency (MHz).
static constexpr float FSCALED_MARGIN = 0.001f;
// The bracket search ends when the bracket is narrower than this (MHz).
static constexpr float FBRACKET_MIN = 0.0015f;

// Sign of x as +1, -1 or 0.
int sign_of(float x) { return (x > 0.0f) - (x < 0.0f); }

// Number of sign changes of a Sturm sequence from the signs s[0..n-1]: each consecutive
// pair adds |s(m+1) - s(m)| / (|s(m)| + |s(m+1)|) in integer division, a pair of two zeros
// adds nothing, so a zero next to a non-zero sign counts as one change.
int sign_changes(const int* s, int n) {
    int v = 0;
    for (int m = 0; m + 1 < n; ++m) {
        const int den = std::abs(s[m]) + std::abs(s[m + 1]);
        if (den != 0) v += std::abs(s[m + 1] - s[m]) / den;
    }
    return v;
}

}  // namespace

// SETUP: prepares the region IRGN for the solver: its start and end plasma frequencies
// FSTART and FEND, the number of terms NN and the fit data FQ/HV (NFQ points) copied from
// the trace list.
//  * IRGN = 1 (E): FSTART = 0.2 MHz, NN = 3. Runs PREDICT when the sunspot number changed
//    since the entry (ISSN != SSNIN) or no model foE is known yet (FOEPRE > 99). Without E
//    points FEND comes from the model foE (IEFLAG = 2) or the scaled foE (IEFLAG = 3) and is
//    pulled below the lowest F frequency when that lies at or below the model foE; with E
//    points (IEFLAG = 1) FEND is the line of the scaled foE plus 0.2 step. FC(1), FC(2) set.
//  * IRGN = 2 (F1): FSTART = FC(2), FEND = line of foF1, NN = 5, FC(3) = FEND. When the F1
//    trace ends in missing heights, or the F2 trace starts with them, the F1/F2 junction is
//    repaired: the F1 top moves to the last valid F1 point (or midway to the first valid F2
//    point when the heights rise across the junction) and NFQF1/NFQF are re-divided.
//  * IRGN = 3 (F2): FSTART = FC(3) (= FC(2) without F1), FEND = line of foF2, NN = 5,
//    FC(4) = FEND; with KF1MODE = 2 the F2 data follow the E points directly.
// Reads the trace list and the scaled values of the Inversion area and FOEPRE; writes
// FSTART, FEND, NN, NFQ, FQ, HV, FC, IEFLAG (E), NFQF1 and NFQF (F1 junction).
// Any other IRGN: ISTAT = 0 and two messages, nothing else.
void SETUP(Inversion& inv, models::Models& mod, const Context& cx) {
    const float FINC = 0.1f * inv.FQINCR;
    switch (inv.IRGN) {
        case 1: {
            inv.FSTART = 0.2f;
            inv.NFQ = inv.NFQE;
            inv.NN = 3;
            if (static_cast<float>(mod.ISSN) != inv.SSNIN || mod.FOEPRE > 99.0f)
                models::PREDICT(mod, cx.log, inv.LOCATION(1), inv.LOCATION(2), inv.IYR, inv.IDAY,
                                inv.IHR, inv.MINU, inv.ISEC);
            const float FOEPRE = mod.FOEPRE;
            inv.IEFLAG = 1;
            if (inv.NFQE == 0) {
                if (inv.FOE <= 0.0f || inv.FOE > 50.0f) {
                    inv.FEND = FOEPRE;
                    inv.IEFLAG = 2;
                } else {
                    inv.FEND = inv.FOE;
                    inv.IEFLAG = 3;
                }
                // An F trace that starts at or below the model foE leaves no room for a
                // thicker E layer: end the E region just above the line below it.
                if (inv.FMINF <= FOEPRE)
                    inv.FEND = inv.FMINF > 0.3f ? inv.FMINF - inv.FQINCR + 2.0f * FINC : 0.0f;
                // The refined mode's choice of the unseen E peak (fit_e_peak).
                if (inv.FOEFIT > 0.0f) inv.FEND = inv.FOEFIT;
            } else {
                if (inv.FOE <= 0.3f || inv.FOE >= 99.0f)
                    inv.FEND = FOEPRE;
                else
                    inv.FEND = line_frequency(inv.FOE, inv.FQINCR) + 2.0f * FINC;
            }
            for (int K = 1; K <= inv.NFQE; ++K) {
                inv.FQ(K) = inv.TRF(K);
                inv.HV(K) = inv.TRH(K);
            }
            inv.FC(1) = inv.FSTART;
            inv.FC(2) = inv.FEND;
            break;
        }
        case 2: {
            inv.NFQ = inv.NFQF1;
            inv.FSTART = inv.FC(2);
            if (inv.NFQF1 == 0) {
                inv.FEND = inv.FC(2);
                inv.NN = 5;
                inv.FC(3) = inv.FC(2);
                break;
            }
            inv.FEND = line_frequency(inv.FOF1, inv.FQINCR);
            const auto valid = [&](int J) { return inv.TRH(J) != 0.0f && inv.TRH(J) != inv.HMISS; };
            const int first1 = inv.NFQE + 1, last1 = inv.NFQE + inv.NFQF1;
            const int first2 = last1 + 1, last2 = last1 + inv.NFQF;
            bool skipped = false, found1 = false, found2 = false;
            float F1V = 0.0f, H1V = 0.0f, F2V = 0.0f, H2V = 0.0f;
            for (int J = last1; J >= first1; --J) {
                if (valid(J)) {
                    F1V = inv.TRF(J);
                    H1V = inv.TRH(J);
                    found1 = true;
                    break;
                }
                skipped = true;
            }
            if (found1) {
                for (int J = first2; J <= last2; ++J) {
                    if (valid(J)) {
                        F2V = inv.TRF(J);
                        H2V = inv.TRH(J);
                        found2 = true;
                        break;
                    }
                    skipped = true;
                }
            }
            if (skipped && found2) {
                const float F1TOP = H1V <= H2V ? line_frequency(0.5f * (F1V + F2V), inv.FQINCR) : F1V;
                inv.FEND = F1TOP;
                // Frequencies of the trace list and F1TOP come from different sums of line
                // steps; a tolerance far below the step keeps a point on the F1TOP line in F1.
                int16_t n1 = 0;
                for (int J = first1; J <= last2; ++J)
                    if (!(inv.TRF(J) > F1TOP + 0.0001f)) ++n1;
                inv.NFQF = static_cast<int16_t>(inv.NFQF1 + inv.NFQF - n1);
                inv.NFQF1 = n1;
            }
            inv.NFQ = inv.NFQF1;
            for (int K = 1; K <= inv.NFQF1; ++K) {
                inv.FQ(K) = inv.TRF(inv.NFQE + K);
                inv.HV(K) = inv.TRH(inv.NFQE + K);
            }
            // A missing height at the F1 top is replaced by the first valid F2 height; with
            // no valid F2 point it stays missing and the data selection drops it.
            if (found2 && inv.NFQ > 0 && (inv.HV(inv.NFQ) == 0.0f || inv.HV(inv.NFQ) == inv.HMISS))
                inv.HV(inv.NFQ) = H2V;
            inv.NN = 5;
            inv.FC(3) = inv.FEND;
            break;
        }
        case 3: {
            if (inv.LF1() == 0) inv.FC(3) = inv.FC(2);
            inv.FSTART = inv.FC(3);
            inv.NFQ = inv.NFQF;
            if (inv.NFQF == 0) break;
            inv.FEND = line_frequency(inv.FOF2, inv.FQINCR);
            const int offset = inv.KF1MODE == 2 ? inv.NFQE : inv.NFQE + inv.NFQF1;
            for (int K = 1; K <= inv.NFQF; ++K) {
                inv.FQ(K) = inv.TRF(offset + K);
                inv.HV(K) = inv.TRH(offset + K);
            }
            inv.NN = 5;
            inv.FC(4) = inv.FEND;
            break;
        }
        default:
            inv.ISTAT() = ISTAT_NO_TRACE;
            cx.log.os() << " ILLEGAL VALUE OF IRGN=" << inv.IRGN << '\n'
                       << " DATA ERROR: NO PROFILE INVERTED!\n";
            break;
    }
}

namespace {

// Borders the normal equations NEQ (NN unknowns, right-hand side in column NN+1) with the
// condition that the profile's slope dh/dfN at the region's start FS0 equals foot_slope, for
// the trial end frequency FEND: a Lagrange multiplier becomes unknown NN+1 and the
// right-hand side moves to column NN+2. The derivative polynomial D(u) = sum A(i) DTST_i(u)
// is 2 sqrt(u) dh/du, and u = ln(fN/FEND)/ln(FS0/FEND), so at the start (u = 1) the
// condition on the coefficients A of the FS0 variable is
//     sum A(i) DTST_i(1) = 2 FS0 ln(FS0/FEND) foot_slope.
// The fit solves for the coefficients XS of the variable that starts at FSD; A = M XS with
// M the (linear) change of start frequency of CONTPRFL, so the condition's row on XS is
// DTST(1) M. The row is scaled to the size of the normal equations' diagonal, which leaves
// the solution unchanged and keeps the pivots of EQUTN comparable.
void hold_slope(Inversion& inv, float FS0, float FSD) {
    const int N = inv.NN;
    float row[MAXNN + 1] = {};
    for (int j = 1; j <= N; ++j) {
        float e[MAXNN + 1] = {}, a[MAXNN + 1] = {};
        e[j] = 1.0f;
        CONTPRFL(N, FSD, inv.FEND, e, FS0, a);
        row[j] = start_derivative(inv, a, N);
    }
    float rhs = 2.0f * FS0 * std::log(FS0 / inv.FEND) * inv.foot_slope;
    float big = 0.0f, rbig = 0.0f;
    for (int j = 1; j <= N; ++j) {
        big = std::fmax(big, std::fabs(inv.NEQ(j, j)));
        rbig = std::fmax(rbig, std::fabs(row[j]));
    }
    const float scale = rbig > 0.0f && big > 0.0f ? big / rbig : 1.0f;
    rhs *= scale;
    for (int i = 1; i <= N; ++i) {
        inv.NEQ(i, N + 2) = inv.NEQ(i, N + 1);
        inv.NEQ(i, N + 1) = row[i] * scale;
        inv.NEQ(N + 1, i) = row[i] * scale;
    }
    inv.NEQ(N + 1, N + 1) = 0.0f;
    inv.NEQ(N + 1, N + 2) = rhs;
}

// The end-frequency search of DENSTY inside the bracket [FLO, FHI] already set; FS0 is the
// region's start frequency, FSD the start of the fit variable. See DENSTY.
void search_end(Inversion& inv, const Context& cx, float FS0, float FSD, float& ERR) {
    // At least one trial runs even when the bracket is already narrower than the search
    // limit (a frequency step below 0.0015 MHz), so that IROOT always describes this region.
    for (int trial = 0; trial < MAXTRIAL && (trial == 0 || inv.FHI - inv.FLO >= FBRACKET_MIN);
         ++trial) {
        inv.FEND = round3(0.5f * (inv.FLO + inv.FHI));
        inv.FSTART = FSD;
        CDO(inv);
        SIK(inv);
        if (FSD != FS0) {
            // Kernels of a variable that starts at FSD for a profile that continues down
            // to FS0: the part below FSD is added in the basis of the FSD variable.
            inv.FSTART = FS0;
            SIKP(inv, FSD);
            CHNGSIKP(inv, FSD);
        }
        ESTAB(inv);
        if (inv.NXTR > 0) add_x_rows(inv, FS0, FSD);
        if (inv.foot_held) {
            hold_slope(inv, FS0, FSD);
            EQUTN(inv, cx, inv.NEQ, inv.NN + 1, inv.XS);
        } else {
            EQUTN(inv, cx, inv.NEQ, inv.NN, inv.XS);
        }
        CONTPRFL(inv.NN, FSD, inv.FEND, inv.XS.data(), FS0, inv.A.data());
        for (int i = 1; i <= inv.NN; ++i) inv.A(i) = round3(inv.A(i));

        CHECKH(inv, inv.ICHK);
        if (inv.ICHK > 0 && inv.ISTATE == 0) break;
        if (inv.ICHK == 0) {
            // The error is formed with the kernels of the variable that starts at FS0: those
            // of the first build when FSD is FS0 (nothing since has changed them).
            if (FSD != FS0) {
                inv.FSTART = FS0;
                CDO(inv);
                SIK(inv);
            }
            float sum = 0.0f;
            for (int K = 1; K <= inv.NFQ; ++K) sum += std::fabs(VIRTUAL(inv, K) - inv.HV(K));
            ERR = inv.NFQ > 0 ? sum / static_cast<float>(inv.NFQ) : 0.0f;
            // A NaN error is never an improvement.
            if (!(ERR < inv.BEST)) break;
            inv.BEST = ERR;
            inv.ISTATE = 0;
            inv.FBEST = inv.FEND;
            for (int i = 1; i <= MAXNN; ++i) inv.ABEST(i) = inv.A(i);
            inv.FHI = inv.FEND;
        } else if (inv.ICHK == 1) {
            inv.FLO = inv.FEND;
        } else {
            inv.FHI = inv.FEND;
        }
    }

}

// The scaled critical frequency of the region being solved (MHz), when the refined mode
// places the peak there and the record carries it: foF1 for F1 (unless the F1/F2 junction
// repair of SETUP moved the F1 top off its line), foF2 for F2; else 0. It must lie above
// every fit frequency, where the virtual heights are finite (a data point at the peak
// frequency itself would have an infinite one).
float scaled_end(const Inversion& inv) {
    if (!inv.refine.scaled_fc) return 0.0f;
    float fc = 0.0f;
    if (inv.IRGN == 3 && inv.FOF2 > 0.0f && inv.FOF2 < 99.0f && inv.FOF2 >= inv.FC(4))
        fc = inv.FOF2;
    if (inv.IRGN == 2 && inv.FOF1 > 0.0f && inv.FOF1 <= 50.0f &&
        inv.FC(3) == line_frequency(inv.FOF1, inv.FQINCR) && inv.FOF1 >= inv.FC(3))
        fc = inv.FOF1;
    for (int K = 1; K <= inv.NFQ; ++K)
        if (!(inv.FQ(K) < fc - FSCALED_MARGIN)) return 0.0f;
    return fc;
}

}  // namespace

// DENSTY: solves the region prepared by SETUP. Searches the end frequency FEND inside a
// bracket one frequency step wide above the scaled critical frequency (F2: [FC(4),
// FC(4) + FQINCR]; F1: [FC(3), FC(3) + FQINCR - 0.005]) and, for each trial FEND, fits the
// NN coefficients to the data FQ/HV by least squares on virtual heights.
// The fit variable starts one step below the lowest data frequency (FSD, at least FSTART);
// the solution is converted to the variable that starts at FSTART and rounded to 0.001 km.
// A trial with one turning point of h(fN) raises the bracket's lower end, one with more
// lowers its upper end; a monotonic trial with a smaller mean error than the best so far
// becomes the best and lowers the upper end. Once a trial has been accepted, the first
// later trial with a turning point or without a smaller error ends the search.
// Given: the Inversion area set up by SETUP and the data selection, DHE/DHV/DHF1.
// Returns: ERR, the mean absolute virtual-height error of the accepted solution (km),
// unchanged when none was accepted. Writes A, FEND (the accepted value, else the rounded
// bracket midpoint FDEF), FC(IRGN+1) (accepted only), IROOT (0 accepted, otherwise the root
// count of the last trial) and the solver storage. FSTART is restored on exit.
// In the refined mode with scaled_fc, a first trial puts FEND at the scaled foF2 (foF1) and
// is kept when it is monotonic; the bracket is searched only when it is not. With foot_held
// (the refined gap mode) every trial's fit is held to the slope foot_slope at FSTART.
void DENSTY(Inversion& inv, const Context& cx, float& ERR) {
    const float FS0 = inv.FSTART;
    float FSD = FS0;
    if (inv.NFQ > 0) FSD = std::fmin(inv.FQ(1), inv.FQ(inv.NFQ)) - inv.FQINCR;
    if (FSD < FS0) FSD = FS0;

    inv.BEST = NO_VALUE;
    inv.ISTATE = 2;
    if (inv.IRGN == 2) {
        inv.FLO = inv.FC(3);
        inv.FHI = inv.FC(3) + inv.FQINCR - 0.005f;
    } else {
        inv.FLO = inv.FC(inv.IRGN + 1);
        inv.FHI = inv.FC(inv.IRGN + 1) + inv.FQINCR;
    }
    const float FSTEP100 = inv.FQINCR / 100.0f;
    const float FDEF = std::round(0.5f * (inv.FLO + inv.FHI) / FSTEP100) * FSTEP100;

    // Refined mode: one trial with the end at the scaled critical frequency; the search of
    // the bracket follows only when that trial is rejected.
    const float FSCALED = scaled_end(inv);
    if (FSCALED > 0.0f) {
        const float FLO0 = inv.FLO, FHI0 = inv.FHI;
        inv.FLO = inv.FHI = FSCALED;
        search_end(inv, cx, FS0, FSD, ERR);
        if (inv.ISTATE != 0) {
            inv.FLO = FLO0;
            inv.FHI = FHI0;
            search_end(inv, cx, FS0, FSD, ERR);
        }
    } else {
        search_end(inv, cx, FS0, FSD, ERR);
    }

    if (inv.ISTATE == 0) {
        ERR = inv.BEST;
        for (int i = 1; i <= MAXNN; ++i) inv.A(i) = inv.ABEST(i);
        inv.FEND = inv.FBEST;
        inv.FC(inv.IRGN + 1) = inv.FBEST;
        inv.ICHK = 0;
    } else {
        inv.FEND = FDEF;
    }
    inv.IROOT = inv.ICHK;
    inv.FSTART = FS0;
}

// ESTAB: the normal equations of the least-squares fit. YK(K) is the part of the observed
// virtual height HV(K) that the region must explain (the group paths of the E layer, the
// valley and the F1 layer removed, not below 0); NEQ(i,j) = sum_K G(i,K) G(j,K) and the
// right-hand side NEQ(i,NN+1) = sum_K YK(K) G(i,K), i, j = 1..NN.
// Reads HV, DHE, DHV, DHF1, G, NN, NFQ; writes YK and NEQ.
void ESTAB(Inversion& inv) {
    const int N = inv.NN;
    for (int K = 1; K <= inv.NFQ; ++K)
        inv.YK(K) = std::fmax(0.0f, inv.HV(K) - inv.DHE(K) - inv.DHV(K) - inv.DHF1(K));
    for (int i = 1; i <= N; ++i) {
        for (int j = 1; j <= N; ++j) {
            float s = 0.0f;
            for (int K = 1; K <= inv.NFQ; ++K) s += inv.G(i, K) * inv.G(j, K);
            inv.NEQ(i, j) = s;
        }
        float r = 0.0f;
        for (int K = 1; K <= inv.NFQ; ++K) r += inv.YK(K) * inv.G(i, K);
        inv.NEQ(i, N + 1) = r;
    }
}

// EQUTN: solves the N x N system held in NEQ (right-hand side in column N+1) by
// Gauss-Jordan elimination with complete pivoting, in place. The pivot of each step is the
// first largest |NEQ| among the rows and columns not yet used (rows outer, columns inner;
// only a strictly larger value replaces it). The row and column permutations are IR and IC
// of the Inversion area. Returns the solution in XS(1..N).
// A zero pivot (singular system): XS(1) = 0, the other entries keep their values, and the
// line "ILL-CONDITIONED" is written when IDEBUG > 0.
void EQUTN(Inversion& inv, const Context& cx, F2<float, 8, 9>& NEQ, int N, F1<float, 8>& XS) {
    for (int k = 1; k <= N + 1; ++k) {
        inv.IR(k) = static_cast<int16_t>(k);
        inv.IC(k) = static_cast<int16_t>(k);
    }
    for (int s = 1; s <= N; ++s) {
        float big = 0.0f;
        int ip = s, jp = s;
        for (int i = s; i <= N; ++i)
            for (int j = s; j <= N; ++j) {
                const float v = std::fabs(NEQ(inv.IR(i), inv.IC(j)));
                if (v > big) {
                    big = v;
                    ip = i;
                    jp = j;
                }
            }
        if (big == 0.0f) {
            XS(1) = 0.0f;
            if (cx.log.IDEBUG > 0) cx.log.os() << "ILL-CONDITIONED\n";
            return;
        }
        std::swap(inv.IR(s), inv.IR(ip));
        std::swap(inv.IC(s), inv.IC(jp));
        const int pr = inv.IR(s);
        const float pivot = NEQ(pr, inv.IC(s));
        for (int j = s; j <= N + 1; ++j) NEQ(pr, inv.IC(j)) /= pivot;
        for (int r = 1; r <= N; ++r) {
            if (r == pr) continue;
            const float f = NEQ(r, inv.IC(s));
            for (int j = s; j <= N + 1; ++j) NEQ(r, inv.IC(j)) -= f * NEQ(pr, inv.IC(j));
        }
    }
    for (int k = 1; k <= N; ++k) XS(inv.IC(k)) = NEQ(inv.IR(k), N + 1);
}

// CHECKH: number of turning points of the real height inside the region for the current
// coefficients A(1..NN). The derivative polynomial D(u) = sum_i A(i) DTST_i(u) (rows of CV)
// is 2 sqrt(u) dh/du, so its roots in (0,1) are the turning points of h(fN). They are
// counted with the Sturm sequence P0 = D, P1 = D', P(m+1) = -rem(P(m-1), P(m)), stopped at
// a constant remainder; ICHK = V(0) - V(1), the difference of the sign-change counts at
// u = 0 and u = 1 (a zero sign next to a non-zero one counts as one change).
// Reads A, NN and CV; writes the Sturm sequence into STURM (one polynomial per column,
// constant term first).
void CHECKH(Inversion& inv, int16_t& ICHK) {
    const int N = inv.NN;
    inv.STURM.fill(0.0f);
    // Degree of the polynomial in column m, leading zero coefficients dropped; -1 when it
    // is the zero polynomial.
    const auto degree = [&](int m) {
        int d = 7;
        while (d >= 0 && inv.STURM(d + 1, m) == 0.0f) --d;
        return d;
    };
    for (int i = 1; i <= N; ++i)
        for (int m = 1; m <= i; ++m) inv.STURM(i - m + 1, 1) += inv.A(i) * inv.CV(i, m);

    int nseq = 1;
    int dcur = degree(1);
    if (dcur >= 1) {
        for (int k = 1; k <= dcur; ++k) inv.STURM(k, 2) = static_cast<float>(k) * inv.STURM(k + 1, 1);
        nseq = 2;
        dcur = degree(2);
        // Each remainder is of lower degree than its divisor, so at most 7 more steps.
        while (dcur > 0 && nseq < 8) {
            const int dv = nseq, dd = nseq - 1;  // divisor and dividend columns
            float r[8];
            for (int k = 0; k < 8; ++k) r[k] = inv.STURM(k + 1, dd);
            const int n = degree(dd);
            const float lead = inv.STURM(dcur + 1, dv);
            for (int k = n - dcur; k >= 0; --k) {
                const float q = r[dcur + k] / lead;
                for (int j = 0; j <= dcur; ++j) r[j + k] -= q * inv.STURM(j + 1, dv);
                r[dcur + k] = 0.0f;
            }
            ++nseq;
            for (int k = 0; k < dcur; ++k) inv.STURM(k + 1, nseq) = -r[k];
            dcur = degree(nseq);
        }
    }

    int s0[8], s1[8];
    for (int m = 1; m <= nseq; ++m) {
        float sum = 0.0f;
        for (int k = 1; k <= 8; ++k) sum += inv.STURM(k, m);
        s0[m - 1] = sign_of(inv.STURM(1, m));
        s1[m - 1] = sign_of(sum);
    }
    ICHK = static_cast<int16_t>(sign_changes(s0, nseq) - sign_changes(s1, nseq));
}

}  // namespace zelk::inversion
